// The commands on chips that take their data sheets' longest times
// (chip-times=max): a slow but good chip is waited for, by the agent's
// bounded waits and by the tool's time limit, and the cartridge ends up
// holding what was written. One representative run per chip family.

#include <gtest/gtest.h>

#include "tests/support/case_spread.h"
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
  int run_index = 0;
  for (const Case& tc : spread_of(cases)) {
    SCOPED_TRACE(tc.what);
    const std::string dir = scratch("chip_times_" + std::to_string(run_index++));
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

// Every command that touches a chip, one small case each, on the data
// sheets' typical times and on their longest: the same lines, and the
// cartridge holds what the command should have left.
TEST(ChipTimesMax, EveryCommandOnTypicalAndLongestTimes) {
  constexpr std::uint32_t ROM = 0x30000;  // bytes of rom= on the flash ROMs
  const Bytes rom = noise(ROM, 31), image = noise(0x20000, 32), data = noise(0x20000, 33);
  const auto erased = [](std::uint32_t n) { return Bytes(n, 0xFF); };
  const auto put = [](Bytes into, std::uint32_t at, const Bytes& what, std::uint32_t n) {
    std::copy(what.begin(), what.begin() + n, into.begin() + at);
    return into;
  };
  Bytes rom_then_blank = erased(0x60000);
  std::copy(rom.begin(), rom.end(), rom_then_blank.begin());
  struct Case {
    const char* command;
    const char* keys;               // the cartridge
    bool save_image;                // save-image= (else rom=)
    std::vector<std::string> args;  // after the command word; DIR stands for the test's folder
    std::uint32_t rom_check;        // ROM bytes read back afterwards (0: the save instead)
    Bytes holds;                    // what that read gives
  };
  const Case cases[] = {
      {"fr", "chip=4/e2", false, {"DIRout.bin", "0", std::to_string(ROM)}, ROM, rom},
      {"fw", "chip=2/16", false, {"DIRdata.bin", "0x20000", "0x20000"}, 0x60000,
       put(rom_then_blank, 0x20000, data, 0x20000)},
      // Behind the ROM's data, 32 KiB aligned
      {"fa", "chip=5/22da", false, {"DIRdata.bin"}, 0x60000, put(rom_then_blank, ROM, data, 0x20000)},
      {"fe", "chip=8/8896", false, {}, 0x40000, erased(0x40000)},
      {"sr", "save=flash64k:c21c", true, {"DIRout.bin"}, 0, Bytes(image.begin(), image.begin() + 0x10000)},
      {"sw", "save=flash128k:c209", true, {"DIRdata.bin", "0x11000", "0x2000"}, 0, put(image, 0x11000, data, 0x2000)},
      {"info", "chip=9/20,save=flash64k:bfd4", false, {}, 0, erased(0x10000)},
  };
  for (const Case& tc : cases) {
    std::string lines[2];
    for (int slow = 0; slow < 2; ++slow) {
      SCOPED_TRACE(std::string(tc.command) + (slow ? " chip-times=max" : " chip-times=typical"));
      const std::string dir = scratch(std::string("every_command_") + tc.command + (slow ? "_max" : "_typical"));
      spill(dir + "rom.bin", rom);
      spill(dir + "save.bin", Bytes(image.begin(), image.begin() + (std::string(tc.keys).find("flash128k") !=
                                                                            std::string::npos ? 0x20000 : 0x10000)));
      spill(dir + "data.bin", data);
      const std::string kept = "--sim=state=" + dir + "state,chip-times=" + (slow ? "max" : "typical");
      std::vector<std::string> args{kept + "," + tc.keys + (tc.save_image ? ",save-image=" : ",rom=") + dir +
                                        (tc.save_image ? "save.bin" : "rom.bin"),
                                    tc.command};
      if (tc.command == std::string("fe")) args.insert(args.begin() + 1, "--yes");
      for (std::string a : tc.args) args.push_back(a.rfind("DIR", 0) == 0 ? dir + a.substr(3) : a);
      ToolOnSim run(args);
      ASSERT_EQ(run.status, 0) << run.err.str();
      lines[slow] = run.out.str();
      if (tc.args.size() > 0 && tc.args[0] == "DIRout.bin") {
        EXPECT_TRUE(slurp(dir + "out.bin") == tc.holds) << "the dump";
      }
      ToolOnSim back(tc.rom_check ? std::vector<std::string>{kept, "fr", dir + "back.bin", "0", std::to_string(tc.rom_check)}
                                  : std::vector<std::string>{kept, "sr", dir + "back.bin"});
      ASSERT_EQ(back.status, 0) << back.err.str();
      EXPECT_TRUE(slurp(dir + "back.bin") == tc.holds) << "what the cartridge holds afterwards";
    }
    EXPECT_EQ(lines[0], lines[1]) << tc.command << ": the longest times changed what the command says";
  }
}

}  // namespace
}  // namespace kartex::test
