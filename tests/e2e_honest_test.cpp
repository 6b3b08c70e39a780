// Every command's answer is true: a write that cannot put its whole range
// on the cartridge, a write or read of nothing, a range outside the ROM or
// the save memory and a slot where no cartridge answers are refused with
// one line before anything is written, leaving cartridge, save memory and
// output file as they were; what is done is reported in the right number.
// Whole runs of the tool on the simulator, the cartridge kept between runs.

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t ROM_SIZE = 0x400000, SAVE_SIZE = 0x8000;
const std::string CHANGED_LINE = "The cartridge was changed since the last command";

// A 4 MiB flash cartridge (chip 2/16: 128 KiB erase blocks) whose first
// 256 KiB hold data, the rest erased, with 32 KiB of SRAM or none; kept in
// a state folder between the runs of one case.
struct Slot {
  std::string dir, keys;
  Bytes rom, save;

  Slot(const std::string& name, const std::string& save_part, bool answers = true) : dir(scratch(name)) {
    rom = noise(0x40000, 11);
    rom.resize(ROM_SIZE, 0xFF);
    save = noise(SAVE_SIZE, 12);
    spill(dir + "rom.bin", answers ? rom : noise(ROM_SIZE, 13));
    spill(dir + "save.bin", save);
    keys = answers ? "--sim=chip=2/16,rom=" + dir + "rom.bin" : "--sim=rom=" + dir + "rom.bin";
    keys += ",save=" + save_part + ",state=" + dir + "state";
    if (save_part == "sram32k") keys += ",save-image=" + dir + "save.bin";
  }
  std::string cart_lines() const {
    return std::string("FLASH ROM SIZE=0x400000\n") + (save.empty() ? "" : "SRAM256K SIZE=0x8000\n");
  }
  // What the cartridge holds now, as the next commands read it.
  Bytes rom_now() {
    ToolOnSim back({keys, "fr", dir + "back.bin"});
    EXPECT_EQ(back.status, 0) << back.err.str();
    EXPECT_EQ(back.out.str().find(CHANGED_LINE), std::string::npos) << back.out.str();
    return slurp(dir + "back.bin");
  }
  Bytes save_now() {
    ToolOnSim back({keys, "sr", dir + "back.sav"});
    EXPECT_EQ(back.status, 0) << back.err.str();
    return slurp(dir + "back.sav");
  }
};

// The files a case's command line names, in the case's folder.
void make_files(const std::string& dir) {
  spill(dir + "big.bin", noise(0x1000000, 21));
  spill(dir + "f.bin", noise(0x20000, 22));
  spill(dir + "small.bin", noise(0x100, 23));
  spill(dir + "empty.gba", {});
  spill(dir + "big.sav", noise(0x10000, 24));
  spill(dir + "f.sav", noise(0x1000, 25));
}

std::vector<std::string> args_in(const std::string& keys, const std::string& dir,
                                 const std::vector<std::string>& words) {
  std::vector<std::string> args{keys};
  for (std::size_t i = 0; i < words.size(); ++i)
    args.push_back(i == 1 ? dir + words[i] : words[i]);
  return args;
}

TEST(Honest, RefusalsComeBeforeAnythingIsWrittenAndSayWhatFits) {
  struct Case {
    const char* name;
    const char* save_part;
    std::vector<std::string> words;  // command, file (in the case's folder), range
    std::string out;                 // after the banner and the cartridge lines
    std::string err;
  };
  const Case cases[] = {
      {"file larger than the ROM", "sram32k", {"fw", "big.bin"}, "Write size(0x1000000) is too big.\n",
       "kartex: 0x1000000 bytes from 0x0 do not fit the 0x400000-byte ROM: the range that fits is 0x0 "
       "0x400000\n"},
      {"range past the ROM's end", "sram32k", {"fw", "f.bin", "0x3F0000", "0x20000"},
       "Write size(0x20000) is too big.\n",
       "kartex: 0x20000 bytes from 0x3F0000 do not fit the 0x400000-byte ROM: the range that fits is "
       "0x3F0000 0x10000\n"},
      {"start at the ROM's end", "sram32k", {"fw", "f.bin", "0x400000", "0x10"}, "",
       "kartex: start offset 0x400000 lies beyond the end of the 0x400000-byte ROM\n"},
      {"length beyond the file", "sram32k", {"fw", "f.bin", "0", "0x30000"},
       "Write size is larger than file size.\n",
       "kartex: the file holds 0x20000 bytes, fewer than the 0x30000 asked: give a length of at most "
       "0x20000\n"},
      {"append larger than the room left", "sram32k", {"fa", "big.bin"}, "Write size(0x1000000) is too big.\n",
       "kartex: 0x1000000 bytes do not fit the room left behind what the ROM holds: 0x3C0000 bytes from "
       "0x40000\n"},
      {"save file larger than the SRAM", "sram32k", {"sw", "big.sav"}, "Write size is longer than device.\n",
       "kartex: 0x10000 bytes from 0x0 do not fit the 0x8000-byte save memory: the range that fits is "
       "0x0 0x8000\n"},
      {"save range past the end", "sram32k", {"sw", "f.sav", "0x7800", "0x1000"},
       "Write size is longer than device.\n",
       "kartex: 0x1000 bytes from 0x7800 do not fit the 0x8000-byte save memory: the range that fits "
       "is 0x7800 0x800\n"},
      {"empty file", "sram32k", {"fw", "empty.gba"}, "", "kartex: nothing to write: the file is empty\n"},
      {"empty append", "sram32k", {"fa", "empty.gba"}, "", "kartex: nothing to write: the file is empty\n"},
      {"write length 0", "sram32k", {"fw", "f.bin", "0", "0"}, "",
       "kartex: nothing to write: the length is 0 (give at least one byte)\n"},
      {"save write length 0", "sram32k", {"sw", "f.sav", "0", "0"}, "",
       "kartex: nothing to write: the length is 0 (give at least one byte)\n"},
      {"empty save file", "sram32k", {"sw", "empty.gba"}, "", "kartex: nothing to write: the file is empty\n"},
      {"no save memory to write", "none", {"sw", "f.sav"}, "",
       "kartex: no save memory was found on this cartridge: nothing can be written\n"},
      {"read length 0", "sram32k", {"fr", "out.bin", "0", "0"}, "",
       "kartex: nothing to do: the length is 0 (give at least one byte)\n"},
      {"read past the ROM's end", "sram32k", {"fr", "out.bin", "0x500000", "0x100"}, "",
       "kartex: start offset 0x500000 lies beyond the end of the 0x400000-byte ROM\n"},
      {"read across the ROM's end", "sram32k", {"fr", "out.bin", "0x3FFF00", "0x200"}, "",
       "kartex: 0x200 bytes from 0x3FFF00 do not fit the 0x400000-byte ROM: the range that fits is "
       "0x3FFF00 0x100\n"},
      {"save read past the end", "sram32k", {"sr", "out.bin", "0x9000", "0x1000"}, "",
       "kartex: start offset 0x9000 lies beyond the end of the 0x8000-byte save memory\n"},
      {"save read length 0", "sram32k", {"sr", "out.bin", "0x100", "0"}, "",
       "kartex: nothing to do: the length is 0 (give at least one byte)\n"},
      {"no save memory to read", "none", {"sr", "out.bin"}, "",
       "kartex: no save memory was found on this cartridge: nothing can be read\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Slot slot(std::string("refuse_") + std::to_string(&tc - cases), tc.save_part);
    if (std::string(tc.save_part) == "none") slot.save.clear();
    make_files(slot.dir);
    ToolOnSim run(args_in(slot.keys, slot.dir, tc.words));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out.str(), BANNER + slot.cart_lines() + tc.out);
    EXPECT_EQ(run.err.str(), tc.err);
    EXPECT_FALSE(std::filesystem::exists(slot.dir + "out.bin"));
    EXPECT_FALSE(std::filesystem::exists(slot.dir + "out.bin.kartex-part"));
    EXPECT_TRUE(slot.rom_now() == slot.rom) << "the ROM changed";
    if (!slot.save.empty()) {
      EXPECT_TRUE(slot.save_now() == slot.save) << "the save memory changed";
    }
  }
}

TEST(Honest, ASlotWhereNoCartridgeAnswersTakesNoCartridgeCommand) {
  // Random bytes in place of a ROM: no logo, no ROM reported, as a
  // cartridge with dirty contacts looks on a console.
  const std::string NONE =
      "kartex: no cartridge answers in the slot: seat it firmly (with the console switched off) and "
      "clean its contacts\n";
  const std::vector<std::vector<std::string>> commands = {
      {"fr", "out.bin"}, {"fw", "f.bin"}, {"fa", "f.bin"}, {"fe"}, {"sr", "out.bin"}, {"sw", "f.sav"}};
  for (const auto& words : commands) {
    SCOPED_TRACE(words[0]);
    Slot slot("none_" + words[0], "none", false);
    make_files(slot.dir);
    ToolOnSim run(args_in(slot.keys, slot.dir, words));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out.str(), BANNER);
    EXPECT_EQ(run.err.str(), NONE);
    EXPECT_FALSE(std::filesystem::exists(slot.dir + "out.bin"));
  }
}

TEST(Honest, WhatIsDoneIsExactlyWhatTheLinesSay) {
  Slot slot("done", "sram32k");
  make_files(slot.dir);
  // One erase block written: the line is in the singular, and the next
  // command does not take the rewritten cartridge for another one.
  ToolOnSim fw({slot.keys, "fw", slot.dir + "small.bin", "0x40000", "0x100"});
  EXPECT_EQ(fw.status, 0) << fw.err.str();
  EXPECT_EQ(fw.out.str(), BANNER + slot.cart_lines() +
                              "0x100 bytes writeing.\nWWWWWWWW\n1 of 1 erase block written (0 erased first), 0 "
                              "unchanged.\nVerify OK: 1 erase block holds what was written.\n");
  const Bytes small = slurp(slot.dir + "small.bin");
  Bytes expect = slot.rom;
  std::copy(small.begin(), small.end(), expect.begin() + 0x40000);
  EXPECT_TRUE(slot.rom_now() == expect);

  // A save range off the block boundary: the file holds exactly the bytes
  // the line announced.
  ToolOnSim sr({slot.keys, "sr", slot.dir + "part.sav", "0x100", "0x100"});
  EXPECT_EQ(sr.status, 0) << sr.err.str();
  const Bytes asked(slot.save.begin() + 0x100, slot.save.begin() + 0x200);
  EXPECT_EQ(sr.out.str(), BANNER + slot.cart_lines() + "0x100 bytes reading.\nR\n" + checksum_lines(asked));
  EXPECT_TRUE(slurp(slot.dir + "part.sav") == asked);
  // Across a block boundary, to the last byte of the save memory.
  ToolOnSim tail({slot.keys, "sr", slot.dir + "tail.sav", "0x6FF0", "0x1010"});
  EXPECT_EQ(tail.status, 0) << tail.err.str();
  EXPECT_TRUE(slurp(slot.dir + "tail.sav") == Bytes(slot.save.begin() + 0x6FF0, slot.save.end()));

  // The whole ROM erased, and a dump of one erased block after it.
  ToolOnSim fe({slot.keys, "fe"});
  EXPECT_EQ(fe.status, 0) << fe.err.str();
  EXPECT_TRUE(slot.rom_now() == Bytes(ROM_SIZE, 0xFF));
  ToolOnSim last({slot.keys, "fr", slot.dir + "last.bin", "0", "0x10000"});
  EXPECT_NE(last.out.str().find("\n1 erased block of 0x10000 bytes filled in without reading it.\n"),
            std::string::npos)
      << last.out.str();
}

}  // namespace
}  // namespace kartex::test
