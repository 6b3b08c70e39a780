// Dumps checked against DAT files on the simulator: the line after the
// report, the dump written whatever the DAT files say, a damaged DAT one
// line on standard error.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/dat_sources.h"
#include "sim/cart/cart_header.h"
#include "tests/support/dat_text.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t ROM_SIZE = 0x100000;

// The demo ROM with the game code the DATs list it under.
Bytes demo_rom() {
  Bytes rom = make_default_rom(ROM_SIZE);
  const std::string code = "AKXJ";
  std::copy(code.begin(), code.end(), rom.begin() + 0xAC);
  rom[0xBD] = header_complement(rom);
  return rom;
}

std::string write_dat(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(DatOnSimulator, TheLineAfterAWholeDump) {
  const Bytes rom = demo_rom();
  DatRom listed = dat_rom_of("Kartex Demo (Japan)", "Kartex Demo (Japan).gba", rom, "AGB-AKXJ-JPN");
  DatRom other_sha1 = listed;
  other_sha1.digests.sha1 = std::string(40, 'a');
  DatRom other_crc_only = listed;
  other_crc_only.digests.crc32 ^= 1;
  other_crc_only.md5_and_sha256 = false;
  DatRom overdump_of = dat_rom_of("Kartex Demo (Japan)", "k.gba", Bytes(rom.begin(), rom.begin() + 0x80000), "AKXJ");
  DatRom other_game = dat_rom_of("Another Game (Europe)", "a.gba", noise(ROM_SIZE, 5), "AXXP");
  DatRom save_alone = dat_rom_of("Kartex Demo (Japan)", "Kartex Demo (Japan).sav", rom, "AKXJ");
  struct Case {
    const char* what;
    std::vector<DatRom> roms;
    std::string line;  // after the report; empty: none
  };
  const Case cases[] = {
      {"listed", {other_game, listed}, "Verified: Kartex Demo (Japan)\n"},
      {"listed with another SHA-1", {other_game, other_sha1},
       "Not verified: Kartex Demo (Japan) lists another SHA-1 (" + std::string(40, 'a') +
           "); other bytes at the same size usually mean a bad contact (clean the contacts and "
           "dump again) or a different revision of the game\n"},
      // Hashes a DAT does not give are no test: only its CRC32 differs.
      {"listed with another CRC32 and no MD5 or SHA-256", {other_crc_only},
       strprintf("Not verified: Kartex Demo (Japan) lists another CRC32 (%08X); other bytes "
                 "at the same size usually mean a bad contact (clean the contacts and dump again) "
                 "or a different revision of the game\n",
                 other_crc_only.digests.crc32)},
      {"the game listed at half the size",
       {overdump_of},
       strprintf("Not verified: Kartex Demo (Japan) lists another size (0x80000), CRC32 (%08X), "
                 "MD5 (%s), SHA-1 (%s) and SHA-256 (%s); a dump larger than the "
                 "game is usually an overdump: the chip holds more than the game, and the catalogue "
                 "lists the game alone\n",
                 overdump_of.digests.crc32, overdump_of.digests.md5.c_str(),
                 overdump_of.digests.sha1.c_str(), overdump_of.digests.sha256.c_str())},
      {"not listed", {other_game}, "Not in the DAT files\n"},
      // A DAT of saves says nothing about a ROM, even one with its bytes.
      {"saves only", {save_alone}, ""},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const std::string dir = scratch("dat_line");
    spill(dir + "rom.gba", rom);
    const std::string dat = write_dat(dir + "test.dat", dat_text(tc.roms));
    ToolOnSim run({"--sim=rom=" + dir + "rom.gba", "--dat", dat, "fr", dir + "dump.gba"});
    EXPECT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.err.str(), "");
    EXPECT_TRUE(run.out.str().ends_with(checksum_lines(rom) + tc.line)) << run.out.str();
    EXPECT_TRUE(slurp(dir + "dump.gba") == rom);
  }
}

TEST(DatOnSimulator, ADamagedDatCostsOneLineNotTheDump) {
  const Bytes rom = demo_rom();
  const std::string good = dat_text({dat_rom_of("Kartex Demo (Japan)", "k.gba", rom)});
  struct Case {
    const char* what;
    std::string text;
    std::string err;  // after "kartex: DAT file PATH: "
  };
  const Case cases[] = {
      {"cut short", good.substr(0, good.size() / 2), "line 8: Start-end tags mismatch"},
      {"not a DAT", "<?xml version=\"1.0\"?>\n<html><body/></html>\n",
       "not a Logiqx DAT (its root element is <html>, not <datafile>)"},
      {"a hash that is not one", "<datafile>\n<game name=\"g\">\n<rom name=\"g.gba\" size=\"4\" crc=\"12345\"/>\n</game>\n</datafile>\n",
       "line 3: the crc \"12345\" is not 8 hex digits"},
      {"a size that is not one", "<datafile>\n<game name=\"g\">\n<rom name=\"g.gba\" size=\"-4\" crc=\"12345678\"/>\n</game>\n</datafile>\n",
       "line 3: the size \"-4\" is not a number of bytes"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const std::string dir = scratch("dat_damaged");
    spill(dir + "rom.gba", rom);
    const std::string bad = write_dat(dir + "bad.dat", tc.text);
    // Alone, and beside a good DAT that still verifies the dump.
    ToolOnSim alone({"--sim=rom=" + dir + "rom.gba", "--dat", bad, "fr", dir + "a.gba"});
    const std::string line = "kartex: DAT file " + bad + ": " + tc.err + "; its entries are left out\n";
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(alone.err.str(), line);
    EXPECT_TRUE(alone.out.str().ends_with(checksum_lines(rom))) << alone.out.str();
    EXPECT_TRUE(slurp(dir + "a.gba") == rom);

    const std::string fine = write_dat(dir + "good.dat", good);
    ToolOnSim beside({"--sim=rom=" + dir + "rom.gba", "--dat", bad, "--dat", fine, "fr", dir + "b.gba"});
    EXPECT_EQ(beside.status, 0);
    EXPECT_EQ(beside.err.str(), line);
    EXPECT_TRUE(beside.out.str().ends_with("Verified: Kartex Demo (Japan)\n")) << beside.out.str();
    EXPECT_TRUE(slurp(dir + "b.gba") == rom);
  }
  const std::string dir = scratch("dat_missing");
  spill(dir + "rom.gba", rom);
  ToolOnSim missing({"--sim=rom=" + dir + "rom.gba", "--dat", dir + "none.dat", "fr", dir + "c.gba"});
  EXPECT_EQ(missing.status, 0);
  EXPECT_EQ(missing.err.str(), "kartex: DAT file " + dir + "none.dat: cannot be opened; its entries are left out\n");
  EXPECT_TRUE(slurp(dir + "c.gba") == rom);
}

// Part of a ROM is no catalogue's entry: no line, whatever the DATs hold.
TEST(DatOnSimulator, APartOfTheRomIsNotChecked) {
  const Bytes rom = demo_rom();
  const std::string dir = scratch("dat_part");
  spill(dir + "rom.gba", rom);
  const Bytes part(rom.begin(), rom.begin() + 0x1000);
  const std::string dat = write_dat(dir + "t.dat", dat_text({dat_rom_of("Part", "p.gba", part)}));
  ToolOnSim run({"--sim=rom=" + dir + "rom.gba", "--dat", dat, "fr", dir + "p.gba", "0", "0x1000"});
  EXPECT_EQ(run.status, 0) << run.err.str();
  EXPECT_TRUE(run.out.str().ends_with(checksum_lines(part))) << run.out.str();
}

TEST(DatOnSimulator, TheDataFolderIsReadWithoutAsking) {
  const Bytes rom = demo_rom();
  const std::string dir = scratch("dat_folder");
  spill(dir + "rom.gba", rom);
  fs::create_directories(dir + "dat");
  // Only .dat and .xml files, in any letter case, are catalogues.
  write_dat(dir + "dat/other.DAT", dat_text({dat_rom_of("Another", "a.gba", noise(16, 1))}));
  write_dat(dir + "dat/notes.txt", "not a DAT at all");
  write_dat(dir + "dat/gba.xml", dat_text({dat_rom_of("Kartex Demo (Japan)", "k.gba", rom)}));
  ToolOnSim run({"--sim=rom=" + dir + "rom.gba", "fr", dir + "dump.gba"}, nullptr, dir + "dat");
  EXPECT_EQ(run.status, 0) << run.err.str();
  EXPECT_EQ(run.err.str(), "");
  EXPECT_TRUE(run.out.str().ends_with("Verified: Kartex Demo (Japan)\n")) << run.out.str();
}

TEST(DatOnSimulator, ASaveListedInADat) {
  const std::string dir = scratch("dat_save");
  const Bytes save = noise(0x8000, 21);
  spill(dir + "in.sav", save);
  const std::string sim = "--sim=state=" + dir + "state,save=sram32k";
  ASSERT_EQ(ToolOnSim({sim, "sw", dir + "in.sav"}).status, 0);
  struct Case {
    const char* what;
    std::vector<DatRom> roms;
    std::string line;
  };
  const Case cases[] = {
      {"listed", {dat_rom_of("Kartex Demo (Japan) (100%)", "Kartex Demo (Japan).sav", save)},
       "Verified: Kartex Demo (Japan) (100%)\n"},
      {"other saves listed", {dat_rom_of("Kartex Demo (Japan)", "k.sav", noise(0x8000, 22))},
       "Not in the DAT files\n"},
      // ROM entries say nothing about a save.
      {"ROMs only", {dat_rom_of("Kartex Demo (Japan)", "k.gba", save)}, ""},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const std::string dat = write_dat(dir + "save.dat", dat_text(tc.roms));
    ToolOnSim read({"--sim=state=" + dir + "state", "--dat", dat, "sr", dir + "out.sav"});
    EXPECT_EQ(read.status, 0) << read.err.str();
    EXPECT_TRUE(read.out.str().ends_with(checksum_lines(save) + tc.line)) << read.out.str();
    EXPECT_TRUE(slurp(dir + "out.sav") == save);
  }
}

TEST(DatFolder, FromTheEnvironment) {
  struct Case {
    const char* xdg;   // nullptr: unset
    const char* home;
    fs::path folder;
  };
  const Case cases[] = {
      {"/data/me", "/home/me", "/data/me/kartex/dat"},
      {nullptr, "/home/me", "/home/me/.local/share/kartex/dat"},
      {"", "/home/me", "/home/me/.local/share/kartex/dat"},
      // A relative XDG_DATA_HOME counts as unset.
      {"relative/dir", "/home/me", "/home/me/.local/share/kartex/dat"},
      {nullptr, nullptr, ""},
  };
  const char* old_xdg = std::getenv("XDG_DATA_HOME");
  const char* old_home = std::getenv("HOME");
  const std::string kept_xdg = old_xdg ? old_xdg : "", kept_home = old_home ? old_home : "";
  for (const Case& tc : cases) {
    if (tc.xdg) ::setenv("XDG_DATA_HOME", tc.xdg, 1);
    else ::unsetenv("XDG_DATA_HOME");
    if (tc.home) ::setenv("HOME", tc.home, 1);
    else ::unsetenv("HOME");
    EXPECT_EQ(user_dat_folder(), tc.folder) << (tc.xdg ? tc.xdg : "(unset)");
  }
  if (old_xdg) ::setenv("XDG_DATA_HOME", kept_xdg.c_str(), 1);
  else ::unsetenv("XDG_DATA_HOME");
  if (old_home) ::setenv("HOME", kept_home.c_str(), 1);
  else ::unsetenv("HOME");
}

}  // namespace
}  // namespace kartex::test
