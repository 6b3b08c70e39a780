// Every cartridge command under every fault the simulated cable can
// produce, at a few places in the run: one clear line and a failing status
// (or a correct result), no hang, no lost or silently wrong data, and a
// write that the same command, run again, completes.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t KiB = 1024;
constexpr std::uint32_t ROM_BYTES = 256 * KiB;   // what the tests write and read of the ROM
constexpr std::uint32_t SAVE_BYTES = 32 * KiB;

// The tool's own diagnostics: lines starting "kartex: " (the simulator's
// report lines start with "sim: ").
std::vector<std::string> tool_lines(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("kartex: ", 0) == 0) lines.push_back(line);
  return lines;
}

struct Bench {
  std::string dir, sim;
  Bytes rom = noise(ROM_BYTES, 1), save = noise(SAVE_BYTES, 2);
  Bytes new_rom = noise(ROM_BYTES, 3), new_save = noise(SAVE_BYTES, 4);

  Bench() : dir(scratch("fault")), sim("--sim=state=" + dir + "state") {
    spill(dir + "rom.bin", rom);
    spill(dir + "save.bin", save);
    spill(dir + "new_rom.bin", new_rom);
    spill(dir + "new_save.bin", new_save);
    ToolOnSim setup({sim + ",chip=2/16,rom=" + dir + "rom.bin,save=sram32k,save-image=" + dir + "save.bin",
                     "fr", dir + "x.bin", "0", "4"});
    EXPECT_EQ(setup.status, 0) << setup.err.str();
  }

  // A fault's run gives up on a silent cable after 0.2 s, to keep the matrix
  // quick; a run without a fault waits out the chips' longest operation
  // (a request may clear the locks and erase blocks of 1 s each before it
  // answers) as a user's command does.
  std::vector<std::string> args(const std::string& command, const std::string& fault) const {
    std::vector<std::string> a{fault.empty() ? "--timeout=10" : "--timeout=0.2",
                               sim + (fault.empty() ? "" : ",fault=" + fault), command};
    if (command == "fr") a.insert(a.end(), {dir + "out.bin", "0", std::to_string(ROM_BYTES)});
    if (command == "sr") a.push_back(dir + "out.bin");
    if (command == "fw" || command == "fa") a.push_back(dir + "new_rom.bin");
    if (command == "sw") a.push_back(dir + "new_save.bin");
    return a;
  }
  Bytes rom_now() const {
    ToolOnSim r({sim, "fr", dir + "check.bin", "0", std::to_string(ROM_BYTES)});
    EXPECT_EQ(r.status, 0) << r.err.str();
    return slurp(dir + "check.bin");
  }
  Bytes save_now() const {
    ToolOnSim r({sim, "sr", dir + "check.bin"});
    EXPECT_EQ(r.status, 0) << r.err.str();
    return slurp(dir + "check.bin");
  }
};

TEST(FaultMatrix, EveryCommandUnderEveryFault) {
  const char* commands[] = {"fr", "fw", "fa", "fe", "sr", "sw"};
  const char* kinds[] = {"unplug", "flip", "hang", "stall", "power"};
  // On the cached path bring-up moves 15 words (identity, fingerprint,
  // variant); then the command's first request and block, and its middle.
  const int positions[] = {2, 24, 3000};
  for (const char* command : commands) {
    for (const char* kind : kinds) {
      for (int at : positions) {
        const std::string fault = std::string(kind) + "@" + std::to_string(at);
        SCOPED_TRACE(std::string(command) + " " + fault);
        Bench b;
        const std::string cmd = command;
        if (cmd == "fr" || cmd == "sr") spill(b.dir + "out.bin", Bytes{'o', 'l', 'd'});
        const auto started = std::chrono::steady_clock::now();
        ToolOnSim run(b.args(cmd, fault));
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, std::chrono::seconds(30)) << "no hang";
        EXPECT_TRUE(run.status == 0 || run.status == 255) << run.status;
        if (run.status != 0) {
          EXPECT_EQ(tool_lines(run.err.str()).size(), 1u) << run.err.str();
        }
        if (cmd == "fr" || cmd == "sr") {
          const Bytes want = cmd == "fr" ? b.rom : b.save;
          const Bytes got = slurp(b.dir + "out.bin");
          if (run.status == 0) {
            EXPECT_TRUE(got == want) << "a dump that claims success is right";
          } else {
            EXPECT_EQ(got, (Bytes{'o', 'l', 'd'})) << "a failed dump leaves the old file";
          }
          EXPECT_FALSE(fs::exists(b.dir + "out.bin.kartex-part"));
        }
        if (cmd == "fw" || cmd == "sw" || cmd == "fe") {
          // The same command again, on the cable as the fault left it,
          // completes, and the cartridge then holds what it should.
          ToolOnSim again(b.args(cmd, ""));
          EXPECT_EQ(again.status, 0) << again.err.str();
          if (cmd == "fw") {
            EXPECT_TRUE(b.rom_now() == b.new_rom);
          } else if (cmd == "sw") {
            EXPECT_TRUE(b.save_now() == b.new_save);
          } else {
            EXPECT_TRUE(b.rom_now() == Bytes(ROM_BYTES, 0xFF));
          }
        }
      }
    }
  }
}

// Between two commands on a kept cable: the console switched off and on
// (the first word of the next run finds it waiting for an upload), or
// another cartridge put in while it stayed on.
TEST(FaultMatrix, TheNextCommandMeetsAConsoleOrCartridgeThatChanged) {
  Bench b;
  ToolOnSim after_power({"--timeout=5", b.sim + ",fault=power@0", "fr", b.dir + "out.bin", "0",
                         std::to_string(ROM_BYTES)});
  EXPECT_EQ(after_power.status, 0) << after_power.err.str();
  EXPECT_NE(after_power.out.str().find("The console did not answer: it was switched off or restarted "
                                       "since the last command; loading the agent again.\n"),
            std::string::npos)
      << after_power.out.str();
  EXPECT_TRUE(slurp(b.dir + "out.bin") == b.rom);

  ToolOnSim after_swap({b.sim + ",swap,chip=3/17", "fr", b.dir + "out.bin", "0", "16"});
  EXPECT_EQ(after_swap.status, 0) << after_swap.err.str();
  EXPECT_NE(after_swap.out.str().find("The cartridge was changed since the last command: identifying it "
                                      "again.\nFLASH ROM SIZE=0x1000000\n"),
            std::string::npos)
      << after_swap.out.str();
  EXPECT_TRUE(slurp(b.dir + "out.bin") == Bytes(16, 0xFF)) << "the new, blank cartridge was read";
}

}  // namespace
}  // namespace kartex::test
