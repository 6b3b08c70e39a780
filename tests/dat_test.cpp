// DAT files read and matched without a cable: what an entry holds, which
// DATs are refused and where, and the verdict each kind of dump gets.

#include <gtest/gtest.h>

#include "cart/dat_file.h"
#include "cart/dat_match.h"
#include "common/failure.h"
#include "tests/support/dat_text.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

TEST(DatFile, EntriesAndTheirCodes) {
  const std::string xml =
      "<?xml version=\"1.0\"?>\n<datafile>\n<header><name>Catalogue</name></header>\n"
      "<game name=\"One (USA)\">\n"
      "  <rom name=\"One (USA).gba\" size=\"4194304\" crc=\"89ABCDEF\" sha1=\"" + std::string(40, 'A') +
      "\" serial=\"AGB-AONE-USA\"/>\n</game>\n"
      "<machine name=\"Two\" serial=\"BTWO, BTWP\">\n"
      "  <rom name=\"Two.sav\" size=\"32768\" md5=\"" + std::string(32, 'f') + "\"/>\n"
      "  <rom name=\"Two.gba\" size=\"1\" sha256=\"" + std::string(64, '0') + "\"/>\n</machine>\n"
      "<game name=\"Three\"><serial>CTHR</serial><rom name=\"t\" size=\"0\" crc=\"00000000\"/></game>\n"
      "<resource name=\"ignored\"><rom name=\"x\" size=\"1\" crc=\"zz\"/></resource>\n"
      "</datafile>\n";
  const DatFile dat = parse_dat_text(xml, "cat.dat");
  EXPECT_EQ(dat.name, "Catalogue");
  ASSERT_EQ(dat.entries.size(), 4u);
  const DatEntry& one = dat.entries[0];
  EXPECT_EQ(one.game, "One (USA)");
  EXPECT_EQ(one.size, 4194304u);
  EXPECT_EQ(one.crc32, 0x89ABCDEFu);
  EXPECT_EQ(one.sha1, std::string(40, 'a')) << "hashes are kept in lower case";
  EXPECT_EQ(one.md5, "");
  EXPECT_EQ(one.codes, std::vector<std::string>{"AONE"});
  EXPECT_EQ(dat.entries[1].codes, (std::vector<std::string>{"BTWO", "BTWP"}));
  EXPECT_FALSE(dat.entries[1].crc32);
  EXPECT_EQ(dat.entries[2].sha256, std::string(64, '0'));
  EXPECT_EQ(dat.entries[3].codes, std::vector<std::string>{"CTHR"});
  EXPECT_TRUE(names_save_file(dat.entries[1].file));
  EXPECT_FALSE(names_save_file(dat.entries[2].file));
  // Without a header name the DAT is known by its path.
  EXPECT_EQ(parse_dat_text("<datafile/>", "x.dat").name, "x.dat");
}

TEST(DatFile, RefusedWithTheLineOfTheFault) {
  const std::string sha1 = std::string(40, '1');
  struct Case {
    const char* what;
    std::string xml;
    std::string line;
  };
  const Case cases[] = {
      {"empty", "", "DAT file t.dat: line 1: No document element found"},
      {"unclosed", "<datafile>\n<game name=\"g\">\n", "DAT file t.dat: line 2: Start-end tags mismatch"},
      {"another root", "<mame/>", "DAT file t.dat: not a Logiqx DAT (its root element is <mame>, not <datafile>)"},
      {"a game without a name", "<datafile>\n\n<game><rom name=\"a\" size=\"1\" crc=\"00000000\"/></game></datafile>",
       "DAT file t.dat: line 3: a <game> without a name"},
      {"a rom without a hash", "<datafile><game name=\"g\">\n<rom name=\"a\" size=\"1\"/></game></datafile>",
       "DAT file t.dat: line 2: a <rom> of \"g\" without any hash"},
      {"a short SHA-1", "<datafile><game name=\"g\"><rom name=\"a\" size=\"1\" sha1=\"abc\"/></game></datafile>",
       "DAT file t.dat: line 1: the sha1 \"abc\" is not 40 hex digits"},
      {"a SHA-256 that is not hex",
       "<datafile><game name=\"g\"><rom name=\"a\" size=\"1\" sha256=\"" + std::string(64, 'g') + "\"/></game></datafile>",
       "DAT file t.dat: line 1: the sha256 \"" + std::string(64, 'g') + "\" is not 64 hex digits"},
      {"no size", "<datafile><game name=\"g\"><rom name=\"a\" sha1=\"" + sha1 + "\"/></game></datafile>",
       "DAT file t.dat: line 1: the size \"\" is not a number of bytes"},
      {"a size in hex", "<datafile><game name=\"g\"><rom name=\"a\" size=\"0x10\" sha1=\"" + sha1 + "\"/></game></datafile>",
       "DAT file t.dat: line 1: the size \"0x10\" is not a number of bytes"},
  };
  for (const Case& tc : cases) {
    std::string got;
    try {
      parse_dat_text(tc.xml, "t.dat");
    } catch (const Failure& f) {
      got = f.what();
    }
    EXPECT_EQ(got, tc.line) << tc.what;
  }
}

DumpFacts facts_of(const Bytes& data, const std::string& code = "") {
  DumpFacts f;
  Digests d;
  d.update(data);
  f.digests = d.finish();
  f.length = static_cast<std::uint32_t>(data.size());
  f.whole = true;
  if (!code.empty()) {
    RomHeader h;
    h.game_code = code;
    f.header = h;
  }
  return f;
}

DatFile dat_of(const std::vector<DatRom>& roms) { return parse_dat_text(dat_text(roms), "t.dat"); }

TEST(DatMatch, Verdicts) {
  const Bytes rom = noise(0x1000, 1);
  const DatRom exact = dat_rom_of("Game (Europe)", "g.gba", rom, "AGB-AGME-EUR");
  DatRom other_md5 = exact;
  other_md5.digests.md5 = std::string(32, 'c');
  DatRom crc_only = exact;
  crc_only.md5_and_sha256 = false;
  const DatRom shorter = dat_rom_of("Game (Europe)", "g.gba", Bytes(rom.begin(), rom.begin() + 0x800), "AGME");
  const DatRom longer = dat_rom_of("Game (Europe)", "g.gba", noise(0x2000, 2), "AGME");
  const DatRom other_code = dat_rom_of("Other", "o.gba", noise(0x1000, 3), "AOTH");
  const DatRom as_save = dat_rom_of("Game (Europe)", "g.sav", rom, "AGME");
  const Bytes unlisted = noise(0x1000, 9);
  using K = DatVerdict::Kind;
  struct Case {
    const char* what;
    std::vector<std::vector<DatRom>> dats;
    const Bytes& dumped;
    std::string code;
    bool save;
    K kind;
    std::vector<std::string> differs;
    std::string name;  // Verified, Mismatch: the entry named
  };
  const Case cases[] = {
      {"no DAT", {}, rom, "AGME", false, K::NoCatalogue, {}, ""},
      {"exact", {{other_code}, {exact}}, rom, "AGME", false, K::Verified, {}, "Game (Europe)"},
      {"exact, found by bytes whatever the code", {{exact}}, rom, "ZZZZ", false, K::Verified, {}, "Game (Europe)"},
      {"hashes the DAT lacks are no test", {{crc_only}}, rom, "AGME", false, K::Verified, {}, "Game (Europe)"},
      {"another MD5", {{other_md5}}, rom, "AGME", false, K::Mismatch, {"MD5"}, "Game (Europe)"},
      {"the game listed shorter", {{shorter}}, rom, "AGME", false, K::Mismatch,
       {"size", "CRC32", "MD5", "SHA-1", "SHA-256"}, "Game (Europe)"},
      // Of two entries for the game, the one of the dump's size is named.
      {"the entry of the same size first", {{longer, other_md5}}, rom, "AGME", false, K::Mismatch, {"MD5"},
       "Game (Europe)"},
      {"other games only", {{other_code}}, rom, "AGME", false, K::NotListed, {}, ""},
      {"without a header no game code", {{other_md5}}, rom, "", false, K::NotListed, {}, ""},
      {"only saves listed: nothing to say of a ROM", {{as_save}}, rom, "AGME", false, K::NoCatalogue, {}, ""},
      {"a save listed", {{exact, as_save}}, rom, "", true, K::Verified, {}, "Game (Europe)"},
      {"a save not listed", {{as_save}}, unlisted, "", true, K::NotListed, {}, ""},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    std::vector<DatFile> dats;
    for (const auto& roms : tc.dats) dats.push_back(dat_of(roms));
    const DatVerdict v = match_dump(dats, facts_of(tc.dumped, tc.code), tc.save);
    EXPECT_EQ(v.kind, tc.kind);
    EXPECT_EQ(v.differs, tc.differs);
    EXPECT_EQ(v.name, tc.name);
  }
}

TEST(DatMatch, WhatADifferenceUsuallyMeans) {
  const Bytes rom = noise(0x1000, 4);
  struct Case {
    std::size_t listed_size;
    const char* meaning_starts;
  };
  const Case cases[] = {
      {0x800, "a dump larger than the game is usually an overdump"},
      {0x2000, "a dump smaller than the game usually means the cartridge answered for less ROM"},
      {0x1000, "other bytes at the same size usually mean a bad contact"},
  };
  for (const Case& tc : cases) {
    const DatFile dat = dat_of({dat_rom_of("G", "g.gba", noise(tc.listed_size, 5), "AGME")});
    const DatVerdict v = match_dump({dat}, facts_of(rom, "AGME"), false);
    ASSERT_EQ(v.kind, DatVerdict::Kind::Mismatch);
    EXPECT_TRUE(v.meaning.starts_with(tc.meaning_starts)) << v.meaning;
    EXPECT_EQ(v.dat, "Test DAT");
  }
}

}  // namespace
}  // namespace kartex::test
