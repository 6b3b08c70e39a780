// Fuzz target: a damaged simulator state. The first input byte picks the
// part (cable, console, cartridge); the rest is written as that part's file
// into a fresh folder, which Simulator::load_state then reads. A refusal is
// a Failure with one line; a crash, another exception, a sanitizer report
// or a huge allocation is a bug.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/failure.h"
#include "sim/cart/cart_rom.h"
#include "sim/simulator.h"

namespace {

const char* const PARTS[] = {"cable", "console", "cartridge"};

// One folder for the whole run, removed at exit.
struct StateDir {
  std::string path;
  StateDir() {
    path = (std::filesystem::temp_directory_path() / ("kartex_state_fuzz_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(path);
  }
  ~StateDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const std::string& state_dir() {
  static const StateDir dir;
  return dir.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string dir = state_dir();
  for (const char* part : PARTS) std::filesystem::remove(std::filesystem::path(dir) / (std::string(part) + ".state"));
  const char* part = PARTS[data[0] % 3];
  {
    std::ofstream out(std::filesystem::path(dir) / (std::string(part) + ".state"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
  }
  try {
    // One simulator for the run: starting the CPU emulator costs far more
    // than a load, and every load sets all it reads (an empty slot: the
    // generated default ROM would cost more still).
    static kartex::Simulator sim(std::make_unique<kartex::EmptySlot>());
    sim.load_state(dir);
  } catch (const kartex::Failure& f) {
    // One short line of printable text, whatever bytes the file held.
    const std::string line = f.what();
    const bool printable = std::all_of(line.begin(), line.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
    if (line.empty() || !printable || line.size() > 400) {
      std::fprintf(stderr, "state fuzz: a refusal that is not one short line: '%s'\n", line.c_str());
      std::abort();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "state fuzz: %s escaped the state loader\n", e.what());
    std::abort();
  }
  return 0;
}
