// Whole runs of the tool on the simulator: the real agent, the real wire,
// a mask ROM cartridge; dumps compared with the ROM file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "agent/agent_image.h"
#include "app/run.h"
#include "link/hex.h"
#include "sim/cart/cart_bus.h"
#include "sim/cart/cart_header.h"
#include "tests/support/case_spread.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

TEST(ToolOnSimulator, UploadPathThenCachedPathOnKeptState) {
  const std::string dir = scratch("session");
  const std::string sim = "--sim=state=" + dir + "state";
  ToolOnSim first({sim, "--trace", dir + "first.trace", "fr", dir + "a.bin", "0", "16"});
  EXPECT_EQ(first.status, 0) << first.err.str();
  EXPECT_EQ(first.err.str(), "") << "the simulator saw the agent misuse the hardware";
  const Bytes rom = make_default_rom();
  EXPECT_EQ(first.out.str(), BANNER + "MASK ROM SIZE=0x400000\n0x10 bytes reading.\nR\n" +
                                 checksum_lines(Bytes(rom.begin(), rom.begin() + 16)));
  const std::string trace1 = text_of(dir + "first.trace");
  const std::string length_word = "out " + to_hex(le32(static_cast<std::uint32_t>(agent_image().size())));
  EXPECT_NE(trace1.find("cmd 020100\n" + length_word + "\n"), std::string::npos) << "no upload";
  EXPECT_NE(trace1.find(request_line(REQ_SAVE_TYPE)), std::string::npos);
  EXPECT_NE(trace1.find(request_line(REQ_CART_INFO)), std::string::npos);
  EXPECT_TRUE(fs::exists(dir + "state/screen.png"));

  ToolOnSim second({sim, "--trace", dir + "second.trace", "fr", dir + "b.bin", "0x20", "16"});
  EXPECT_EQ(second.status, 0) << second.err.str();
  EXPECT_EQ(second.out.str(), BANNER + "MASK ROM SIZE=0x400000\n0x10 bytes reading.\nR\n" +
                                  checksum_lines(Bytes(rom.begin() + 0x20, rom.begin() + 0x30)));
  const std::string trace2 = text_of(dir + "second.trace");
  EXPECT_EQ(trace2.find(length_word), std::string::npos) << "uploaded again";
  EXPECT_EQ(trace2.find(request_line(REQ_SAVE_TYPE)), std::string::npos);
  EXPECT_EQ(trace2.find(request_line(REQ_CART_INFO)), std::string::npos);
  EXPECT_EQ(trace2.find("cmd 0382"), std::string::npos) << "handshake on a marked cable";
  EXPECT_NE(trace2.find(request_line(REQ_CART_VARIANT)), std::string::npos);

  EXPECT_EQ(slurp(dir + "a.bin"), Bytes(rom.begin(), rom.begin() + 16));
  EXPECT_EQ(slurp(dir + "b.bin"), Bytes(rom.begin() + 0x20, rom.begin() + 0x30));
}

TEST(ToolOnSimulator, MaskRomsOfEverySizeDumpWhole) {
  const std::string dir = scratch("sizes");
  for (std::uint32_t mib : spread_of(std::vector<std::uint32_t>{1, 4, 8, 32})) {
    SCOPED_TRACE(std::to_string(mib) + " MiB");
    const std::string rom_file = dir + "rom.gba", dump = dir + "dump.gba";
    const Bytes rom = make_default_rom(mib << 20);
    spill(rom_file, rom);
    ToolOnSim run({"--sim=rom=" + rom_file, "fr", dump});
    EXPECT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.err.str(), "");
    char line[64];
    std::snprintf(line, sizeof line, "MASK ROM SIZE=0x%X\n0x%X bytes reading.\n", mib << 20, mib << 20);
    // The marks, then the header of the whole ROM and its checksums.
    const std::string marks = BANNER + line + std::string(mib * 256, 'R') + "\n";
    EXPECT_EQ(run.out.str().substr(0, marks.size()), marks);
    EXPECT_NE(run.out.str().find("\nTitle: KARTEX DEMO\n"), std::string::npos);
    EXPECT_TRUE(run.out.str().ends_with(checksum_lines(rom)));
    EXPECT_TRUE(slurp(dump) == rom) << "dump differs from the ROM file";
  }
}

TEST(ToolOnSimulator, RangesAndOddLengths) {
  const std::string dir = scratch("ranges");
  const Bytes rom = make_default_rom();
  // Past the ROM's end the bus answers its open-bus pattern.
  auto byte_at = [&](std::uint32_t offset) -> std::uint8_t {
    if (offset < rom.size()) return rom[offset];
    const std::uint16_t half = rom_open_bus(ROM_BASE + (offset & ~1u));
    return static_cast<std::uint8_t>(offset & 1 ? half >> 8 : half);
  };
  struct Case {
    std::uint32_t start, length;
  };
  const Case cases[] = {{0, 5}, {0x1001, 0x123}, {0x2FFF, 0x1003}, {0x3FFFF0, 0x21}, {7, 0}, {0x100, 0x4001}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::to_string(tc.start) + "+" + std::to_string(tc.length));
    const std::string dump = dir + "part.bin";
    std::filesystem::remove(dump);
    ToolOnSim run({"--sim", "fr", dump, std::to_string(tc.start), std::to_string(tc.length)});
    // A range of nothing, or one that runs past the ROM's end into the bus,
    // is refused and leaves no file.
    if (tc.length == 0 || tc.start + tc.length > rom.size()) {
      EXPECT_EQ(run.status, 255);
      EXPECT_FALSE(std::filesystem::exists(dump));
      continue;
    }
    EXPECT_EQ(run.status, 0) << run.err.str();
    Bytes expected;
    for (std::uint32_t i = 0; i < tc.length; ++i) expected.push_back(byte_at(tc.start + i));
    EXPECT_EQ(slurp(dump), expected);
  }
}

TEST(ToolOnSimulator, StatsAndBadSimOptions) {
  const std::string dir = scratch("stats");
  ToolOnSim run({"--sim=stats", "fr", dir + "x.bin", "0", "4k"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.err.str().find("words to the console"), std::string::npos) << run.err.str();

  for (const char* bad : {"--sim=colour=blue", "--sim=rom=", "--sim=stats=yes"}) {
    ToolOnSim refused({bad, "fe"});
    EXPECT_EQ(refused.status, 255) << bad;
    EXPECT_EQ(refused.out.str(), BANNER) << bad;
    EXPECT_EQ(refused.err.str().rfind("kartex: ", 0), 0u) << bad;
  }
  ToolOnSim missing({"--sim=rom=" + dir + "nope.gba", "fe"});
  EXPECT_EQ(missing.status, 255);
  EXPECT_NE(missing.err.str().find("nope.gba"), std::string::npos) << missing.err.str();
}

TEST(ToolOnSimulator, EraseOfAMaskRomIsRefusedWithoutARequest) {
  const std::string dir = scratch("erase");
  ToolOnSim run({"--sim", "--trace", dir + "t", "fe"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out.str(), BANNER + "MASK ROM SIZE=0x400000\n");
  EXPECT_EQ(text_of(dir + "t").find(request_line(REQ_FLASH_ERASE)), std::string::npos);
}

}  // namespace
}  // namespace kartex::test
