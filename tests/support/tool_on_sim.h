#pragma once
// Whole runs of the tool in this process, as a user types them, for tests
// that drive the simulator through the command line.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/run.h"
#include "common/digest.h"
#include "common/digests.h"
#include "common/output.h"
#include "link/hex.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scripted_cable.h"
#include "tests/support/usage_text.h"

namespace kartex::test {

struct ToolOnSim {
  std::ostringstream out, err;
  int status = -1;

  // `interrupted`: asked at the end of each block, as the user's Ctrl-C is.
  // `dat_folder`: the folder of DAT files read besides those --dat names;
  // by default none, whatever the user running the tests keeps in theirs.
  explicit ToolOnSim(const std::vector<std::string>& args,
                     std::function<bool()> interrupted = nullptr,
                     std::filesystem::path dat_folder = {}) {
    RunEnv env{out, err, {}, [](int) {}};  // the simulator needs no wall-clock pauses
    env.interrupted = std::move(interrupted);
    env.dat_folder = std::move(dat_folder);
    // A clock that stands still: the report's time line reads the same on
    // every run.
    env.now = [] { return ProgressClock::time_point{}; };
    status = kartex::run(args, env);
  }
};

// The scratch folders this process made, removed when it ends: cartridge
// images of up to 128 MiB a test, left behind by every run of the suite,
// fill a disk within a day. KARTEX_KEEP_SCRATCH in the environment keeps
// them for a look after a failure. A forked child that exits leaves its
// parent's folders alone.
class ScratchFolders {
 public:
  void add(const std::filesystem::path& dir) { dirs_.push_back(dir); }
  ~ScratchFolders() {
    if (::getpid() != owner_ || std::getenv("KARTEX_KEEP_SCRATCH") != nullptr) return;
    std::error_code ignored;
    for (const std::filesystem::path& dir : dirs_) std::filesystem::remove_all(dir, ignored);
  }

 private:
  pid_t owner_ = ::getpid();
  std::vector<std::filesystem::path> dirs_;
};

inline ScratchFolders& scratch_folders() {
  static ScratchFolders folders;
  return folders;
}

// A fresh folder for one test's files, ending in '/'; the process id keeps
// test runs of two builds on one machine apart.
inline std::string scratch(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                    ("kartex_e2e_" + std::to_string(::getpid()) + "_" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  scratch_folders().add(dir);
  return dir.string() + "/";
}

// A save image for the simulator's save-image= key, in a fresh folder named
// after the test and the save part (its ':' left out of the name).
inline std::string save_image_file(const std::string& test, const std::string& save, const Bytes& data) {
  std::string name = test + "_" + save;
  std::replace(name.begin(), name.end(), ':', '_');
  const std::string path = scratch(name) + "image.bin";
  spill(path, data);
  return path;
}

// The trace line of an agent request with this code, as the cable saw it.
inline std::string request_line(std::uint32_t code) { return "cmd 0004" + to_hex(le32(code)); }

// The checksum, time and re-read lines that follow a dump of `data`, as a
// run whose clock stands still shows them.
inline std::string checksum_lines(const Bytes& data, unsigned rereads = 0) {
  Digests digests;
  digests.update(data);
  const DigestSet d = digests.finish();
  return strprintf("CRC32: %08X\nMD5: %s\nSHA-1: %s\nSHA-256: %s\nTime: %s\nRe-read blocks: %u\n",
                   d.crc32, d.md5.c_str(), d.sha1.c_str(), d.sha256.c_str(),
                   progress_summary(data.size(), data.size(), {}).c_str(), rereads);
}

// Random-looking bytes that differ between seeds.
inline Bytes noise(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return out;
}

// A simulator configuration the tool must refuse before the cable moves a
// byte: one "kartex: " line on standard error, naming `says`.
inline void expect_sim_refusal(const std::string& sim, const std::string& dir,
                               const std::string& says = {}) {
  SCOPED_TRACE(sim);
  ToolOnSim run({sim, "fr", dir + "x.bin"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out.str(), BANNER) << "a byte went to the cable";
  const std::string err = run.err.str();
  EXPECT_EQ(err.rfind("kartex: ", 0), 0u) << err;
  EXPECT_NE(err.find(says), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace kartex::test
