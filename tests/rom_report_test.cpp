// The cartridge header read from the first bytes of a dump, and the exact
// lines printed after a dump and after a save read.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cart/rom_report.h"

namespace kartex::test {
namespace {

// The first 0xC0 bytes of a ROM: an entry branch, a logo-sized run of other
// bytes, then the header fields; the complement check is computed as the
// BIOS does it unless `checksum` is given.
std::vector<std::uint8_t> rom_start(const std::string& title, const std::string& code,
                                    const std::string& maker, std::uint8_t version,
                                    int checksum = -1) {
  std::vector<std::uint8_t> rom(0xC0, 0);
  rom[0] = 0x2E, rom[3] = 0xEA;
  for (std::size_t i = 4; i < 0xA0; ++i) rom[i] = static_cast<std::uint8_t>(i * 7);
  std::copy(title.begin(), title.end(), rom.begin() + 0xA0);
  std::copy(code.begin(), code.end(), rom.begin() + 0xAC);
  std::copy(maker.begin(), maker.end(), rom.begin() + 0xB0);
  rom[0xB2] = 0x96;
  rom[0xBC] = version;
  std::uint8_t chk = 0;
  for (std::size_t i = 0xA0; i <= 0xBC; ++i) chk = static_cast<std::uint8_t>(chk - rom[i]);
  chk = static_cast<std::uint8_t>(chk - 0x19);
  rom[0xBD] = checksum < 0 ? chk : static_cast<std::uint8_t>(checksum);
  // The reserved bytes after the check take no part in it.
  rom[0xBE] = 0x5A, rom[0xBF] = 0xA5;
  return rom;
}

TEST(RomHeader, FieldsAndCheck) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> rom;
    std::string title, code, maker;
    unsigned version;
    bool ok;
  };
  auto bad = rom_start("KARTEXDEMO", "AKXE", "01", 0);
  bad[0xBD] ^= 0x01;
  auto non_printable = rom_start(std::string("AB\x01" "C\x7F" "D\x80 E", 9), "A\tZ\xFF", "0\x00", 3);
  auto trailing = rom_start(std::string("NAME  \x00\x00 \x00\x00\x00", 12), "AB  ", "  ", 0);
  auto inner_nul = rom_start(std::string("AB\x00" "CD", 5), "ABCD", "01", 0);
  const std::vector<std::uint8_t> full(0xC0, 0xFF);
  Case cases[] = {
      {"valid", rom_start("KARTEXDEMO", "AKXE", "01", 2), "KARTEXDEMO", "AKXE", "01", 2, true},
      {"all 12 title bytes", rom_start("ABCDEFGHIJKL", "WXYZ", "99", 255), "ABCDEFGHIJKL",
       "WXYZ", "99", 255, true},
      {"bad check", bad, "KARTEXDEMO", "AKXE", "01", 0, false},
      {"non-printable bytes", non_printable, "AB?C?D? E", "A?Z?", "0", 3, true},
      {"trailing padding", trailing, "NAME", "AB", "", 0, true},
      {"NUL inside the title", inner_nul, "AB?CD", "ABCD", "01", 0, true},
      {"erased", full, "????????????", "????", "??", 255, false},
  };
  for (const Case& tc : cases) {
    auto h = parse_rom_header(tc.rom);
    ASSERT_TRUE(h) << tc.what;
    EXPECT_EQ(h->title, tc.title) << tc.what;
    EXPECT_EQ(h->game_code, tc.code) << tc.what;
    EXPECT_EQ(h->maker_code, tc.maker) << tc.what;
    EXPECT_EQ(h->version, tc.version) << tc.what;
    EXPECT_EQ(h->checksum, tc.rom[0xBD]) << tc.what;
    EXPECT_EQ(h->checksum_ok(), tc.ok) << tc.what;
  }
  // The erased header: 29 bytes of 0xFF sum to 0x1CE3; -0xE3 - 0x19 = 0x04.
  EXPECT_EQ(parse_rom_header(full)->computed, 0x04);
  EXPECT_EQ(parse_rom_header(bad)->computed, static_cast<std::uint8_t>(bad[0xBD] ^ 0x01));
}

TEST(RomHeader, TooShortForAHeader) {
  const auto rom = rom_start("KARTEXDEMO", "AKXE", "01", 0);
  EXPECT_FALSE(parse_rom_header(std::span(rom).first(ROM_HEADER_END - 1)));
  EXPECT_FALSE(parse_rom_header({}));
  EXPECT_TRUE(parse_rom_header(std::span(rom).first(ROM_HEADER_END)));
  // More than the header: only the header counts.
  auto longer = rom;
  longer.resize(0x200, 0x11);
  EXPECT_EQ(parse_rom_header(longer)->title, "KARTEXDEMO");
}

TEST(DumpReport, ExactLines) {
  auto good = parse_rom_header(rom_start("KARTEXDEMO", "AKXE", "01", 2));
  auto bad_rom = rom_start("KARTEXDEMO", "AKXE", "01", 2);
  const std::uint8_t right = bad_rom[0xBD];
  bad_rom[0xBD] = 0x00;
  auto bad = parse_rom_header(bad_rom);
  ASSERT_TRUE(good && bad);
  const std::string sha = "a9993e364706816aba3e25717850c26c9cd0d89d";
  const std::string md5 = "900150983cd24fb0d6963f7d28e17f72";
  const std::string sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const std::string tail = "CRC32: 0012ABCD\nMD5: " + md5 + "\nSHA-1: " + sha + "\nSHA-256: " + sha256 +
                           "\nTime: 4.0 MiB in 0:02, 2.0 MiB/s\nRe-read blocks: 3\n";
  const std::string head = "Title: KARTEXDEMO\nGame code: AKXE\nMaker code: 01\nVersion: 2\n";
  struct Case {
    const char* what;
    const RomHeader* header;
    bool mid_line;
    std::string expected;
  };
  const Case cases[] = {
      {"good check", &*good, false,
       head + strprintf("Header checksum: 0x%02X (good)\n", good->checksum) + tail},
      {"bad check", &*bad, false,
       head + strprintf("Header checksum: 0x00 (bad: the header bytes give 0x%02X)\n", right) +
           tail},
      {"no header", nullptr, false, tail},
      {"after marks", nullptr, true, "RRRR\n" + tail},
  };
  for (const Case& tc : cases) {
    std::ostringstream out, err;
    Output con{out, err};
    if (tc.mid_line) con.print("RRRR");
    DumpFacts facts;
    if (tc.header) facts.header = *tc.header;
    facts.digests = {0x0012ABCD, md5, sha, sha256};
    facts.length = 0x400000;
    facts.elapsed = std::chrono::seconds(2);
    facts.reread_blocks = 3;
    print_dump_report(con, facts);
    EXPECT_EQ(out.str(), tc.expected) << tc.what;
    EXPECT_EQ(err.str(), "") << tc.what;
    EXPECT_FALSE(con.mid_line) << tc.what;
  }
}

TEST(SaveReport, ChecksumLinesOnTheirOwnLines) {
  std::ostringstream out, err;
  Output con{out, err};
  DumpFacts first, second;
  first.digests = {0xCBF43926, "m", "s", "t"};
  first.length = 0x8000;
  second.digests = {0x00000001, "m2", "s2", "t2"};
  second.length = 0x200;
  second.elapsed = std::chrono::milliseconds(500);
  second.reread_blocks = 1;
  print_save_report(con, first);
  con.mark('R');
  con.mark('R');
  print_save_report(con, second);
  EXPECT_EQ(out.str(),
            "CRC32: CBF43926\nMD5: m\nSHA-1: s\nSHA-256: t\nTime: 32.0 KiB in 0:00, -- B/s\n"
            "Re-read blocks: 0\nRR\n"
            "CRC32: 00000001\nMD5: m2\nSHA-1: s2\nSHA-256: t2\nTime: 512 B in 0:01, 1 KiB/s\n"
            "Re-read blocks: 1\n");
  EXPECT_EQ(err.str(), "");
}

// A bar still shown gives way to its summary line before the report, so
// the report's lines do not land on top of it.
TEST(DumpReport, RemovesAProgressBarFirst) {
  std::ostringstream out, err;
  Output con{out, err};
  con.progress_bar = true;
  con.progress_start(0x4000);
  con.mark('R');
  const std::size_t drawn = err.str().size();
  DumpFacts facts;
  facts.digests = {0, "m", "x", "t"};
  print_dump_report(con, facts);
  EXPECT_EQ(err.str().substr(drawn), progress_draw_sequence("0.0 of 16.0 KiB in 0:00, -- B/s") + "\n");
  EXPECT_EQ(out.str(), "R\nCRC32: 00000000\nMD5: m\nSHA-1: x\nSHA-256: t\nTime: 0 B in 0:00, -- B/s\n"
                       "Re-read blocks: 0\n");
}

}  // namespace
}  // namespace kartex::test
