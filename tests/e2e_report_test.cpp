// The --report file of whole runs on the simulator, checked against the
// schema in docs/ and against what the run did; info's lines; the file a
// dump without a name gets.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "app/usage.h"
#include "sim/cart/cart_header.h"
#include "tests/support/dat_text.h"
#include "tests/support/json_schema.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const SchemaCheck& schema() {
  static const SchemaCheck check(json::parse(std::ifstream(KARTEX_REPORT_SCHEMA)));
  return check;
}

json report_of(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << "no report at " << path;
  return in ? json::parse(in) : json();
}

void expect_valid(const json& report) {
  for (const std::string& e : schema().errors(report)) ADD_FAILURE() << e;
}

std::string hex32(std::uint32_t v) { return strprintf("%08X", v); }

DigestSet digests_of(const Bytes& data) {
  Digests d;
  d.update(data);
  return d.finish();
}

// The checker itself must catch what a broken report would carry.
TEST(ReportSchema, CatchesBrokenReports) {
  const json good = {{"schema_version", 1},
                     {"tool", {{"name", "kartex"}, {"version", "0.1.0"}}},
                     {"command", "fe"},
                     {"erase", {{"bytes", 4194304}}},
                     {"seconds", 0.5}};
  EXPECT_EQ(schema().errors(good), std::vector<std::string>{});
  struct Case {
    const char* what;
    std::function<void(json&)> spoil;
    std::string error;
  };
  const Case cases[] = {
      {"a required field gone", [](json& j) { j.erase("seconds"); }, "/: seconds is missing"},
      {"a field of another type", [](json& j) { j["seconds"] = "soon"; },
       "/seconds: \"soon\" is not of type \"number\""},
      {"a field the schema does not know", [](json& j) { j["extra"] = 1; },
       "/: extra is not a field the schema knows"},
      {"a command that has no report", [](json& j) { j["command"] = "vts"; },
       "/command: \"vts\" is not one of [\"fr\",\"fw\",\"fa\",\"fe\",\"sr\",\"sw\",\"info\"]"},
      {"another schema version", [](json& j) { j["schema_version"] = 2; }, "/schema_version: 2 is not 1"},
      {"a negative count", [](json& j) { j["erase"]["bytes"] = -1; }, "/erase/bytes: -1 is below 0"},
      {"a short hash",
       [](json& j) {
         j["write"] = {{"crc32", "1234"}, {"md5", std::string(32, '0')}, {"sha1", std::string(40, '0')},
                       {"sha256", std::string(64, '0')}, {"file", "f"}, {"file_size", 1},
                       {"offset", nullptr}, {"length", nullptr}, {"verify", true}};
       },
       "/write/crc32: \"1234\" is shorter than 8"},
  };
  for (const Case& tc : cases) {
    json broken = good;
    tc.spoil(broken);
    EXPECT_EQ(schema().errors(broken), std::vector<std::string>{tc.error}) << tc.what;
  }
}

TEST(ReportOnSimulator, DumpOfAWholeRomWithItsDatMatch) {
  const std::string dir = scratch("report_fr");
  const Bytes rom = make_default_rom(0x100000);
  spill(dir + "rom.gba", rom);
  std::ofstream(dir + "t.dat") << dat_text({dat_rom_of("Kartex Demo (World)", "k.gba", rom)});
  ToolOnSim run({"--sim=rom=" + dir + "rom.gba", "--dat", dir + "t.dat", "--report", dir + "r.json", "fr",
                 dir + "dump.gba"});
  ASSERT_EQ(run.status, 0) << run.err.str();
  const json r = report_of(dir + "r.json");
  expect_valid(r);
  const DigestSet d = digests_of(rom);
  EXPECT_EQ(r["command"], "fr");
  EXPECT_EQ(r["tool"]["version"], KARTEX_VERSION);
  EXPECT_EQ(r["cartridge"]["rom"]["kind_name"], "mask ROM");
  EXPECT_EQ(r["cartridge"]["rom"]["size"], 0x100000);
  EXPECT_EQ(r["cartridge"]["header"]["title"], "KARTEX DEMO");
  EXPECT_EQ(r["cartridge"]["header"]["checksum_ok"], true);
  EXPECT_EQ(r["dump"]["file"], dir + "dump.gba");
  EXPECT_EQ(r["dump"]["length"], rom.size());
  EXPECT_EQ(r["dump"]["whole"], true);
  EXPECT_EQ(r["dump"]["crc32"], hex32(d.crc32));
  EXPECT_EQ(r["dump"]["md5"], d.md5);
  EXPECT_EQ(r["dump"]["sha1"], d.sha1);
  EXPECT_EQ(r["dump"]["sha256"], d.sha256);
  EXPECT_EQ(r["dump"]["reread_blocks"], 0);
  EXPECT_EQ(r["dat"]["verdict"], "verified");
  EXPECT_EQ(r["dat"]["name"], "Kartex Demo (World)");
  EXPECT_EQ(r["dat"]["files"].size(), 1u);
  EXPECT_TRUE(slurp(dir + "dump.gba") == rom);
}

// A dump block of one repeated value is filled in without reading it; the
// report counts erased ones and those of any other value apart.
TEST(ReportOnSimulator, UniformBlocksCountedByTheirValue) {
  constexpr std::size_t BLOCK = 0x10000;
  struct Case {
    const char* what;
    std::vector<std::pair<std::size_t, std::uint16_t>> uniform;  // block index, halfword filling it
    std::size_t almost;  // a block of 0x00 but for its last byte (not uniform); 0 for none
    unsigned blank, filled;
  };
  const Case cases[] = {
      {"erased and zero blocks", {{3, 0xFFFF}, {4, 0x0000}, {9, 0xFFFF}}, 0, 2, 1},
      {"a halfword pattern, and zeros but one byte", {{5, 0x1234}, {15, 0xA5A5}}, 7, 0, 2},
      {"nothing uniform", {}, 6, 0, 0},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const std::string dir = scratch("report_uniform");
    Bytes rom = make_default_rom(0x100000);
    for (const auto& [block, value] : tc.uniform)
      for (std::size_t i = 0; i < BLOCK; i += 2) {
        rom[block * BLOCK + i] = static_cast<std::uint8_t>(value);
        rom[block * BLOCK + i + 1] = static_cast<std::uint8_t>(value >> 8);
      }
    if (tc.almost) {
      std::fill_n(rom.begin() + static_cast<std::ptrdiff_t>(tc.almost * BLOCK), BLOCK, 0x00);
      rom[(tc.almost + 1) * BLOCK - 1] = 0x01;
    }
    spill(dir + "rom.gba", rom);
    ToolOnSim run({"--sim=rom=" + dir + "rom.gba", "--report", dir + "r.json", "fr", dir + "dump.gba"});
    ASSERT_EQ(run.status, 0) << run.err.str();
    const json r = report_of(dir + "r.json");
    expect_valid(r);
    EXPECT_EQ(r["dump"]["blank_blocks"], tc.blank);
    EXPECT_EQ(r["dump"]["filled_blocks"], tc.filled);
    EXPECT_TRUE(slurp(dir + "dump.gba") == rom);
  }
}

TEST(ReportOnSimulator, SaveReadFlashWriteAndInfo) {
  const std::string dir = scratch("report_more");
  const Bytes save = noise(0x8000, 7), file = noise(0x30000, 8);
  spill(dir + "in.sav", save);
  spill(dir + "in.gba", file);
  const std::string sim = "--sim=state=" + dir + "state,chip=2/16,save=sram32k";
  ASSERT_EQ(ToolOnSim({sim, "sw", dir + "in.sav"}).status, 0);

  ToolOnSim sr({"--sim=state=" + dir + "state", "--report", dir + "sr.json", "sr", dir + "out.sav"});
  ASSERT_EQ(sr.status, 0) << sr.err.str();
  const json s = report_of(dir + "sr.json");
  expect_valid(s);
  EXPECT_EQ(s["dump"]["of"], "save");
  EXPECT_EQ(s["dump"]["crc32"], hex32(crc32_of(save)));
  EXPECT_EQ(s["cartridge"]["save"]["name"], "SRAM256K");
  EXPECT_EQ(s["cartridge"]["save"]["size"], 0x8000);
  EXPECT_EQ(s["dat"]["verdict"], "no-catalogue");

  ToolOnSim fw({"--sim=state=" + dir + "state", "--report", dir + "fw.json", "fw", dir + "in.gba", "0x20000",
                "0x30000"});
  ASSERT_EQ(fw.status, 0) << fw.err.str();
  const json w = report_of(dir + "fw.json");
  expect_valid(w);
  EXPECT_EQ(w["write"]["file_size"], file.size());
  EXPECT_EQ(w["write"]["sha1"], digests_of(file).sha1);
  EXPECT_EQ(w["write"]["offset"], 0x20000);
  EXPECT_EQ(w["write"]["length"], 0x30000);
  EXPECT_EQ(w["write"]["verify"], true);
  EXPECT_EQ(w["cartridge"]["rom"]["kind_name"], "flash ROM");

  ToolOnSim info({"--sim=state=" + dir + "state", "--report", dir + "info.json", "info"});
  ASSERT_EQ(info.status, 0) << info.err.str();
  const json i = report_of(dir + "info.json");
  expect_valid(i);
  EXPECT_EQ(i["command"], "info");
  EXPECT_EQ(i["cartridge"]["flash_chip"]["maker"], 0x89);
  EXPECT_EQ(i["cartridge"]["flash_chip"]["devices"], json::array({0x16}));
  EXPECT_EQ(i["cartridge"]["flash_chip"]["write_buffer"], 32);
  EXPECT_EQ(i["cartridge"]["clock"], json({{"present", false}})) << "info asks for the clock";
  EXPECT_FALSE(i.contains("dump"));
}

// info's report carries the clock as read, and the chips found by their
// CFI query name their command set in words the schema knows
TEST(ReportOnSimulator, TheClockAndTheCfiChipsAsInfoFoundThem) {
  const std::string dir = scratch("report_clock");
  struct Case {
    std::string sim;
    json clock;  // the fields of the clock to compare; null: no clock
    const char* command_set;  // nullptr: no flash chip
  };
  const Case cases[] = {
      {"--sim=rtc=2026-12-08T16:27:48", {{"present", true}, {"hour_24", true}, {"power_lost", false}}, nullptr},
      {"--sim=rtc=lost", {{"present", true}, {"power_lost", true}}, nullptr},
      {"--sim", {{"present", false}}, nullptr},
      {"--sim=chip=10/2221", {{"present", false}}, "AMD, from its CFI tables"},
      {"--sim=chip=10/881b", {{"present", false}}, "status register, from its CFI tables"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.sim);
    fs::remove(dir + "r.json");
    ToolOnSim run({tc.sim, "--report", dir + "r.json", "info"});
    ASSERT_EQ(run.status, 0) << run.err.str();
    const json r = report_of(dir + "r.json");
    expect_valid(r);
    const json& clock = r["cartridge"]["clock"];
    for (const auto& [key, value] : tc.clock.items()) EXPECT_EQ(clock[key], value) << key;
    if (tc.command_set) {
      EXPECT_EQ(r["cartridge"]["flash_chip"]["command_set"], tc.command_set);
    } else {
      EXPECT_TRUE(r["cartridge"]["flash_chip"].is_null());
    }
  }
  // The time as the clock gave it at bring-up, the same as info's line
  ToolOnSim run({"--sim=rtc=2026-12-08T16:27:48", "--report", dir + "t.json", "info"});
  const json t = report_of(dir + "t.json");
  const std::string time = t["cartridge"]["clock"]["time"];
  EXPECT_NE(run.out.str().find("Clock: " + time + " (24-hour mode)"), std::string::npos) << time << run.out.str();
  EXPECT_EQ(time.rfind("2026-12-08 16:27:4", 0), 0u) << time;
  // Commands that leave the clock alone report none
  ToolOnSim fr({"--sim=rtc=2026-12-08T16:27:48", "--report", dir + "f.json", "fr", dir + "d.gba", "0", "0x100"});
  ASSERT_EQ(fr.status, 0) << fr.err.str();
  EXPECT_TRUE(report_of(dir + "f.json")["cartridge"]["clock"].is_null());
}

TEST(ReportOnSimulator, NoReportWithoutAResult) {
  const std::string dir = scratch("report_none");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"--sim", "--report", dir + "r.json", "rtc", dir + "p.gba"},
       "kartex: --report is for the commands with a result (fr, fw, fa, fe, sr, sw and info); rtc has none to report\n"},
      {{"--sim", "--report", "-", "info"},
       "kartex: --report needs a file name; standard output carries the tool's lines\n"},
      {{"--sim", "--report", dir + "no/such/dir/r.json", "fr", dir + "d.gba"},
       "kartex: cannot write the report " + dir + "no/such/dir/r.json: No such file or directory\n"},
      // A failed command leaves no report behind.
      {{"--sim", "--report", dir + "r.json", "fr", dir + "d.gba", "0x3FFFF0", "0x20"},
       ""},
  };
  for (const Case& tc : cases) {
    ToolOnSim run(tc.args);
    EXPECT_EQ(run.status, 255);
    if (!tc.err.empty()) {
      EXPECT_EQ(run.err.str(), tc.err);
    }
    EXPECT_FALSE(fs::exists(dir + "r.json"));
    EXPECT_FALSE(fs::exists(dir + "d.gba")) << "the cable was used before the report was refused";
  }
}

TEST(InfoOnSimulator, WhatTheCartridgeIs) {
  const std::string dir = scratch("info_lines");
  const Bytes rom = make_default_rom(0x400000);
  spill(dir + "rom.gba", rom);
  // The same header in the 2 MiB that the smallest chip holds.
  spill(dir + "rom2.gba", make_default_rom(0x200000));
  const std::string header = "Title: KARTEX DEMO\nGame code: KXDE\nMaker code: KX\nVersion: 0\n" +
                             strprintf("Header checksum: 0x%02X (good)\n", rom[0xBD]);
  struct Case {
    std::string sim;
    std::string lines;  // after the banner
  };
  const Case cases[] = {
      {"--sim=rom=" + dir + "rom.gba",
       "MASK ROM SIZE=0x400000\n" + header + "Flash chip: none (mask ROM)\nSave memory: none found\nClock: none\n"},
      {"--sim=rom=" + dir + "rom.gba,chip=2/16,save=sram32k",
       "FLASH ROM SIZE=0x400000\nSRAM256K SIZE=0x8000\n" + header +
           "Flash chip: maker 0x89, device 0x0016 (status register commands)\n"
           "Erase block: 0x20000, write buffer: 32 bytes\n"
           "Save memory: SRAM256K, 0x8000 bytes in blocks of 0x1000\nClock: none\n"},
      {"--sim=rom=" + dir + "rom2.gba,chip=6/22c4,save=flash128k:6213",
       "FLASH ROM SIZE=0x200000\nFLASH1M SIZE=0x20000\n" + header +
           "Flash chip: maker 0x04, device 0x22C4 (JEDEC commands)\n"
           "Erase block: 0x10000, no write buffer (one halfword at a time)\n"
           "Save memory: FLASH1M, 0x20000 bytes in blocks of 0x1000\nClock: none\n"},
      {"--sim=rom=" + dir + "rom.gba,chip=8/88c4,size=16",
       "FLASH ROM SIZE=0x1000000\n" + header +
           "Flash chips (a pair): maker 0x89, device 0x8896, 0x8897, 0x88C4, 0x88C5, 0x88CC or 0x88CD "
           "(status register commands)\n"
           "Erase block: 0x20000, no write buffer (one halfword at a time)\n"
           "Save memory: none found\nClock: none\n"},
  };
  for (const Case& tc : cases) {
    ToolOnSim run({tc.sim, "info"});
    EXPECT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.err.str(), "");
    EXPECT_EQ(run.out.str(), BANNER + tc.lines) << tc.sim;
  }
  // A slot that answers nothing is a failure, as for every other command.
  spill(dir + "noise.gba", noise(0x100000, 3));
  ToolOnSim none({"--sim=rom=" + dir + "noise.gba", "info"});
  EXPECT_EQ(none.status, 255);
  EXPECT_NE(none.err.str(), "");
  ToolOnSim extra({"--sim", "info", "more"});
  EXPECT_EQ(extra.status, 255);
  EXPECT_EQ(extra.err.str(), "kartex: info takes no arguments; \"more\" is one argument too many\n");
}

// Runs in `dir` as the current directory, as a user typing a bare command there.
struct InFolder {
  fs::path before = fs::current_path();
  explicit InFolder(const std::string& dir) { fs::current_path(dir); }
  ~InFolder() { fs::current_path(before); }
};

TEST(DefaultNameOnSimulator, FrAndSrNameTheDumpFromTheHeader) {
  const std::string dir = scratch("default_name");
  const Bytes rom = make_default_rom(0x100000), save = noise(0x8000, 4);
  spill(dir + "rom.gba", rom);
  spill(dir + "in.sav", save);
  const std::string sim = "--sim=state=" + dir + "state,rom=" + dir + "rom.gba,save=sram32k";
  ASSERT_EQ(ToolOnSim({sim, "sw", dir + "in.sav"}).status, 0);
  fs::create_directories(dir + "here");
  InFolder here(dir + "here");
  ToolOnSim fr({"--sim=state=" + dir + "state", "fr"});
  EXPECT_EQ(fr.status, 0) << fr.err.str();
  EXPECT_NE(fr.out.str().find("\nDump file: KARTEX DEMO (KXDE).gba\n0x100000 bytes reading.\n"),
            std::string::npos)
      << fr.out.str();
  EXPECT_TRUE(slurp(dir + "here/KARTEX DEMO (KXDE).gba") == rom);
  ToolOnSim sr({"--sim=state=" + dir + "state", "sr"});
  EXPECT_EQ(sr.status, 0) << sr.err.str();
  EXPECT_TRUE(slurp(dir + "here/KARTEX DEMO (KXDE).sav") == save);
  // Nothing else is left in the folder: no temporary file, no other name.
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir + "here")) files += entry.is_regular_file();
  EXPECT_EQ(files, 2u);
}

// --help, the README and the manual page made from --help list the same
// options: each one --help names, the README names too.
TEST(HelpAndReadme, EveryOptionInBoth) {
  std::ostringstream help;
  print_help(help);
  const std::string readme = text_of(KARTEX_README);
  std::istringstream lines(help.str());
  std::size_t seen = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("  --")) continue;
    const std::string option = line.substr(2, line.find_first_of(" [", 2) - 2);
    ++seen;
    EXPECT_NE(readme.find("`" + option), std::string::npos) << option << " is not in the README";
  }
  EXPECT_GE(seen, 14u);
  EXPECT_NE(help.str().find("\n  info  "), std::string::npos);
  EXPECT_NE(readme.find("`kartex info`"), std::string::npos);
}

}  // namespace
}  // namespace kartex::test
