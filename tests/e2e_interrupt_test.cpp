// Ctrl-C in the middle of a cable command on a kept cable and console: the
// command stops at the end of a block with one line and status 130, leaves
// no part file, and the same command run again completes with the right
// result, although the agent was left in the middle of a transfer.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

const std::string INTERRUPTED =
    "kartex: interrupted: stopped after the last whole block; the next command starts the console "
    "afresh\n";

TEST(Interrupt, EachCommandStopsCleanlyAndTheNextRunCompletes) {
  struct Case {
    const char* name;
    const char* command;
    int marks_before_stop;  // blocks done when the user presses Ctrl-C
  };
  const Case cases[] = {
      {"fr, first block", "fr", 1},  {"fr, middle", "fr", 40},  {"fw, first piece", "fw", 1},
      {"fw, middle", "fw", 9},       {"sr, first block", "sr", 1}, {"sr, middle", "sr", 5},
      {"sw, first block", "sw", 1},  {"sw, middle", "sw", 5},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string dir = scratch("interrupt");
    const Bytes rom = noise(256 * KiB, 1);
    const Bytes save = noise(32 * KiB, 2);
    spill(dir + "rom.bin", rom);
    spill(dir + "save.bin", save);
    spill(dir + "new_rom.bin", noise(256 * KiB, 3));
    spill(dir + "new_save.bin", noise(32 * KiB, 4));
    const std::string sim = "--sim=state=" + dir + "state";
    ToolOnSim setup({sim + ",chip=2/16,rom=" + dir + "rom.bin,save=sram32k,save-image=" + dir + "save.bin",
                     "fr", dir + "x.bin", "0", "4"});
    ASSERT_EQ(setup.status, 0) << setup.err.str();

    const std::string cmd = tc.command;
    const bool reads = cmd == "fr" || cmd == "sr";
    const std::string file = reads ? dir + "out.bin" : dir + (cmd == "fw" ? "new_rom.bin" : "new_save.bin");
    const std::vector<std::string> args =
        cmd == "fr" ? std::vector<std::string>{sim, "fr", file, "0", std::to_string(256 * KiB)}
                    : std::vector<std::string>{sim, cmd, file};
    if (reads) spill(file, Bytes{'o', 'l', 'd'});
    int marks = 0;
    ToolOnSim stopped(args, [&] { return ++marks >= tc.marks_before_stop; });
    EXPECT_EQ(stopped.status, 130);
    EXPECT_EQ(stopped.err.str(), INTERRUPTED);
    EXPECT_FALSE(fs::exists(file + ".kartex-part")) << "part file left behind";
    if (reads) {
      EXPECT_EQ(slurp(file), (Bytes{'o', 'l', 'd'})) << "the old file is kept";
    }

    ToolOnSim again(args);
    EXPECT_EQ(again.status, 0) << again.err.str();
    // The interrupted run cleared the session marker: this run loaded the
    // agent afresh rather than meeting one in the middle of a transfer.
    EXPECT_EQ(again.out.str().find("another build"), std::string::npos);
    if (cmd == "fr") {
      EXPECT_TRUE(slurp(file) == rom);
    } else if (cmd == "sr") {
      EXPECT_TRUE(slurp(file) == save);
    }
    if (cmd == "fw") {
      ToolOnSim back({sim, "fr", dir + "back.bin", "0", std::to_string(256 * KiB)});
      EXPECT_TRUE(slurp(dir + "back.bin") == slurp(file));
    }
    if (cmd == "sw") {
      ToolOnSim back({sim, "sr", dir + "back.bin"});
      EXPECT_TRUE(slurp(dir + "back.bin") == slurp(file));
    }
  }
}

}  // namespace
}  // namespace kartex::test
