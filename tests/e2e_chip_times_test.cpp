// The commands on chips that take their data sheets' longest times
// (chip-times=max): a slow but good chip is waited for, by the agent's
// bounded waits and by the tool's time limit, and the cartridge ends up
// holding what was written. One representative run per chip family.

#include <gtest/gtest.h>

#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

struct Step {
  std::vector<std::string> args;  // after --sim=...; FILE stands for the data file
};

struct Case {
  const char* what;
  std::string keys;        // the cartridge
  std::uint32_t offset;    // where the data goes (fw) or 0 (sw)
  std::uint32_t bytes;     // the data's length
  bool save;               // sw/sr instead of fw/fr
  bool erase_after;        // then fe: the ROM reads erased
};

TEST(ChipTimesMax, CommandsSucceedOnTheSlowestChips) {
  const Case cases[] = {
      // 16-word-buffer blocks: 5 s an erase
      {"status-register blocks", "chip=2/16", 0x20000, 0x40000, false, false},
      // top parameter blocks of a pair: eight erases of up to 4 s in one request
      {"parameter blocks", "chip=8/8896", 0x7E0000, 0x20000, false, false},
      // JEDEC sectors: 15 s each, four of them under one erase request at the top
      {"JEDEC sectors", "chip=5/22da", 0, 0x100000, false, true},
      {"dual-bank blocks", "chip=4/e2", 0x7F0000, 0x10000, false, false},
      {"FLASH save, sector erase", "save=flash64k:bfd4", 0, 0x10000, true, false},
      {"FLASH save, 128 KiB", "save=flash128k:c209", 0, 0x20000, true, false},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const std::string dir = scratch(std::string("chip_times_") + std::to_string(&tc - cases));
    const std::string sim = "--sim=state=" + dir + "state,chip-times=max," + tc.keys;
    const Bytes data = noise(tc.bytes, tc.offset + tc.bytes);
    spill(dir + "data.bin", data);
    const std::string at = std::to_string(tc.offset), length = std::to_string(tc.bytes);
    {
      ToolOnSim write({sim, tc.save ? "sw" : "fw", dir + "data.bin", at, length});
      ASSERT_EQ(write.status, 0) << write.err.str();
    }
    {
      ToolOnSim read({sim, tc.save ? "sr" : "fr", dir + "back.bin", at, length});
      ASSERT_EQ(read.status, 0) << read.err.str();
      EXPECT_EQ(slurp(dir + "back.bin"), data);
    }
    if (tc.erase_after) {
      ToolOnSim erase({sim, "--yes", "fe"});
      ASSERT_EQ(erase.status, 0) << erase.err.str();
      ToolOnSim read({sim, "fr", dir + "erased.bin", at, length});
      ASSERT_EQ(read.status, 0) << read.err.str();
      EXPECT_EQ(slurp(dir + "erased.bin"), Bytes(tc.bytes, 0xFF));
    }
  }
}

}  // namespace
}  // namespace kartex::test
