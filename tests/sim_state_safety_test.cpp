// The simulator's state folder under stress: two runs on one folder at
// once, saves that fail part-way, damaged parts, and inputs that are not
// files.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/digest.h"
#include "common/failure.h"
#include "sim/cart/cart_rom.h"
#include "sim/simulator.h"
#include "sim/state/state_file.h"
#include "sim/state/state_lock.h"
#include "tests/support/run_binary.h"
#include "tests/support/tool_on_sim.h"

namespace kartex {
namespace {

using test::Bytes;
using test::scratch;
using test::slurp;
using test::spill;
using test::ToolOnSim;

std::vector<std::uint8_t> rom_of(std::uint8_t fill) { return std::vector<std::uint8_t>(64, fill); }

void save_rom(const std::string& dir, std::uint8_t fill) {
  Simulator sim;
  sim.set_cart(std::make_unique<MaskRom>(rom_of(fill)));
  sim.save_state(dir);
}

// The first ROM byte of the kept cartridge.
std::uint32_t kept_rom_word(const std::string& dir) {
  Simulator sim;
  EXPECT_TRUE(sim.load_state(dir));
  return sim.console().bus().read(ROM_BASE, 4);
}

std::size_t files_in(const std::string& dir) {
  std::size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.path().filename() != "lock";
  return n;
}

struct FaultGuard {
  ~FaultGuard() { set_state_save_fault(nullptr); }
};

TEST(SimStateSave, AFailureAtAnyStepBeforeTheSetCountsKeepsTheOldSet) {
  const char* steps[] = {"write cable", "sync cable", "write console", "write cartridge",
                         "sync cartridge", "set", "sync set", "commit"};
  for (const char* step : steps) {
    SCOPED_TRACE(step);
    const std::string dir = scratch(std::string("savefail_") + step);
    save_rom(dir, 0x11);
    const std::size_t files = files_in(dir);
    FaultGuard guard;
    set_state_save_fault([&](const std::string& s) { return s == step ? ENOSPC : 0; });
    try {
      save_rom(dir, 0x22);
      ADD_FAILURE() << "a failed save passed";
    } catch (const Failure& e) {
      const std::string line = e.what();
      EXPECT_EQ(line.find('\n'), std::string::npos) << line;
      EXPECT_NE(line.find("simulator state not saved in " + dir), std::string::npos) << line;
      EXPECT_NE(line.find("No space left on device"), std::string::npos) << line;
    }
    set_state_save_fault(nullptr);
    EXPECT_EQ(files_in(dir), files) << "no temporary file left behind";
    EXPECT_EQ(kept_rom_word(dir), 0x11111111u) << "the old complete set";
    save_rom(dir, 0x33);
    EXPECT_EQ(kept_rom_word(dir), 0x33333333u) << "the folder stays usable";
  }
}

TEST(SimStateSave, ACutAfterTheSetCountsIsFinishedByTheNextRun) {
  for (const char* part : {"cable", "console", "cartridge"}) {
    SCOPED_TRACE(part);
    const std::string dir = scratch(std::string("savecut_") + part);
    save_rom(dir, 0x11);
    {
      FaultGuard guard;
      set_state_save_fault([&](const std::string& s) { return s == std::string("place ") + part ? EIO : 0; });
      EXPECT_THROW(save_rom(dir, 0x22), Failure);
    }
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir) / "state.set"));
    EXPECT_EQ(kept_rom_word(dir), 0x22222222u) << "the new set, finished";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(dir) / "state.set"));
    EXPECT_EQ(kept_rom_word(dir), 0x22222222u);
  }
}

// Rewrites the checksum at the end of a part after the test changed it.
void reseal(const std::string& file) {
  Bytes b = slurp(file);
  const std::uint32_t crc = crc32_of(std::span(b).first(b.size() - 4));
  for (int i = 0; i < 4; ++i) b[b.size() - 4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  spill(file, b);
}

TEST(SimStateLoad, DamagedPartsAreRefusedWithOneLine) {
  struct Case {
    const char* name;
    std::function<void(const std::string& file)> damage;
    const char* says;
  };
  const Case cases[] = {
      {"truncated", [](const std::string& f) { std::filesystem::resize_file(f, std::filesystem::file_size(f) - 9); },
       "a field is longer than the file"},
      {"flipped byte in the ROM",
       [](const std::string& f) {
         Bytes b = slurp(f);
         b[b.size() / 2] ^= 0x04;
         spill(f, b);
       },
       "checksum does not match"},
      {"wrong checksum",
       [](const std::string& f) {
         Bytes b = slurp(f);
         b.back() ^= 0xFF;
         spill(f, b);
       },
       "checksum does not match"},
      {"0-byte", [](const std::string& f) { spill(f, {}); }, "it is empty"},
      {"older build's format",
       [](const std::string& f) {
         Bytes b = slurp(f);
         b[6] = 'E';
         spill(f, b);
       },
       "kept by an older build"},
      {"a folder in its place",
       [](const std::string& f) {
         std::filesystem::remove(f);
         std::filesystem::create_directory(f);
       },
       "not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = scratch(std::string("damaged_") + c.name);
    save_rom(dir, 0x5A);
    const std::string file = dir + "cartridge.state";
    c.damage(file);
    try {
      Simulator sim;
      sim.load_state(dir);
      ADD_FAILURE() << "loaded";
    } catch (const Failure& e) {
      const std::string line = e.what();
      EXPECT_EQ(line.find('\n'), std::string::npos) << line;
      EXPECT_NE(line.find(file), std::string::npos) << line;
      EXPECT_NE(line.find(c.says), std::string::npos) << line;
    }
  }
  // A resealed part whose version changed is refused by its version, not
  // loaded: the checksum is checked, then what it covers.
  const std::string dir = scratch("damaged_version");
  save_rom(dir, 0x5A);
  {
    std::fstream io(dir + "cable.state", std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(8 + 8 + 5);
    io.put(7);
  }
  reseal(dir + "cable.state");
  Simulator sim;
  try {
    sim.load_state(dir);
    ADD_FAILURE() << "loaded";
  } catch (const Failure& e) {
    EXPECT_NE(std::string(e.what()).find("format version 7"), std::string::npos) << e.what();
  }
}

TEST(SimStateLock, ASecondRunWaitsThenNamesTheHolder) {
  const std::string dir = scratch("locked") + "state";
  StateLock held(dir);
  const auto started = std::chrono::steady_clock::now();
  try {
    StateLock second(dir, 300);
    ADD_FAILURE() << "two holders";
  } catch (const Failure& e) {
    EXPECT_EQ(std::string(e.what()), "simulator state folder " + dir + " is in use: another run holds it (process " +
                                         std::to_string(::getpid()) + "); waited 0.3 s");
  }
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::milliseconds(300)) << "it waited";
  EXPECT_LT(took, std::chrono::seconds(10)) << "bounded";
}

TEST(SimStateLock, TwoRunsAtOnceKeepBothWrites) {
  const std::string dir = scratch("twice");
  const std::string sim = "--sim=state=" + dir + "state,chip=2/16";
  ToolOnSim first({sim, "fr", dir + "before.bin", "0", "0x40000"});
  ASSERT_EQ(first.status, 0) << first.err.str();
  const Bytes before = slurp(dir + "before.bin");
  const Bytes a = test::noise(0x1000, 1), b = test::noise(0x1000, 2);
  spill(dir + "a.bin", a);
  spill(dir + "b.bin", b);
  // Two processes of the tool, started together, each writing its range.
  const std::string run = std::string(KARTEX_BINARY) + " --sim=state=" + dir + "state ";
  const std::string both = "(" + run + "fw " + dir + "a.bin 0x10000 0x1000 >" + dir + "a.out 2>&1; echo $? >" + dir +
                           "a.rc) & (" + run + "fw " + dir + "b.bin 0x30000 0x1000 >" + dir + "b.out 2>&1; echo $? >" +
                           dir + "b.rc) & wait";
  ASSERT_EQ(std::system(both.c_str()), 0);
  EXPECT_EQ(test::file_text(dir + "a.rc"), "0\n") << test::file_text(dir + "a.out");
  EXPECT_EQ(test::file_text(dir + "b.rc"), "0\n") << test::file_text(dir + "b.out");
  ToolOnSim after({"--sim=state=" + dir + "state", "fr", dir + "after.bin", "0", "0x40000"});
  ASSERT_EQ(after.status, 0) << after.err.str();
  Bytes want = before;
  std::copy(a.begin(), a.end(), want.begin() + 0x10000);
  std::copy(b.begin(), b.end(), want.begin() + 0x30000);
  EXPECT_TRUE(slurp(dir + "after.bin") == want) << "both writes and nothing else";
}

TEST(SimStateSave, AWriteWhoseStateIsNotKeptFailsTheRun) {
  const std::string dir = scratch("fwfail");
  const std::string sim = "--sim=state=" + dir + "state";
  ToolOnSim first({sim + ",chip=2/16", "fr", dir + "before.bin", "0", "0x20000"});
  ASSERT_EQ(first.status, 0) << first.err.str();
  spill(dir + "w.bin", test::noise(0x1000, 3));
  {
    FaultGuard guard;
    set_state_save_fault([](const std::string& s) { return s == "write cartridge" ? ENOSPC : 0; });
    ToolOnSim fw({sim, "fw", dir + "w.bin", "0x10000", "0x1000"});
    EXPECT_NE(fw.status, 0);
    EXPECT_NE(fw.err.str().find("kartex: simulator state not saved in " + dir + "state"), std::string::npos)
        << fw.err.str();
  }
  ToolOnSim after({sim, "fr", dir + "after.bin", "0", "0x20000"});
  ASSERT_EQ(after.status, 0) << after.err.str();
  EXPECT_TRUE(slurp(dir + "after.bin") == slurp(dir + "before.bin")) << "the kept cartridge is the one before";
}

// Inputs that are not files, or cannot be read, end the run at once with one line.
TEST(SimInputs, AreRefusedWithOneLineInBoundedTime) {
  const std::string dir = scratch("inputs");
  std::filesystem::create_directories(dir + "folder");
  spill(dir + "file", Bytes{1, 2, 3});
  ::mkfifo((dir + "fifo").c_str(), 0644);
  struct Case {
    std::string sim;
    std::string says;
  };
  const Case cases[] = {
      {"rom=" + dir + "folder", "ROM file " + dir + "folder is a folder, not a regular file"},
      {"rom=/dev/zero", "ROM file /dev/zero is a device, not a regular file"},
      {"rom=" + dir + "fifo", "ROM file " + dir + "fifo is a FIFO, not a regular file"},
      {"save=sram32k,save-image=" + dir + "folder", "--sim: save-image=" + dir + "folder is a folder"},
      {"save=sram32k,save-image=" + dir + "missing", "--sim: cannot open save-image=" + dir + "missing: No such file"},
      {"save=sram32k,save-image=/dev/zero", "--sim: save-image=/dev/zero is a device"},
      {"state=" + dir + "file", "--sim: state=" + dir + "file is not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    const std::string out = dir + "out.txt";
    const std::string command = "cd " + dir + " && timeout 20 " + KARTEX_BINARY + " --sim=" + c.sim + " fr " + dir +
                                "r.bin 0 16 >/dev/null 2>" + out + " </dev/null";
    const int raw = std::system(command.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    EXPECT_NE(status, 0);
    EXPECT_NE(status, 124) << "it hung";
    EXPECT_EQ(status, 255) << "a failure of the run, no crash";
    const std::string err = test::file_text(out);
    EXPECT_EQ(err, "kartex: " + err.substr(8, err.find('\n') - 8) + "\n") << "one line: " << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(dir + "r.bin"));
  }
}

}  // namespace
}  // namespace kartex
