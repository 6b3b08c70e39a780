// --sim options, and the state a powered cable and console keep between
// runs.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/failure.h"
#include "sim/cart/cart_build.h"
#include "sim/cart/cart_rom.h"
#include "sim/sim_pipes.h"
#include "sim_support.h"

namespace kartex {
namespace {

using simtest::Wire;

std::string temp_dir(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() /
             ("kartex_sim_" + name + "_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::remove_all(dir);
  return dir.string();
}

TEST(SimOptions, ParsesKeysAndRefusesTheRest) {
  SimOptions o = parse_sim_options("");
  EXPECT_TRUE(o.rom_file.empty());
  EXPECT_TRUE(o.state_dir.empty());
  EXPECT_FALSE(o.stats);
  o = parse_sim_options("rom=game.gba,state=/tmp/x,stats");
  EXPECT_EQ(o.rom_file, "game.gba");
  EXPECT_EQ(o.state_dir, "/tmp/x");
  EXPECT_TRUE(o.stats);

  const struct {
    const char* text;
    const char* says;
  } refused[] = {
      {"speed=2", "unknown option 'speed'"}, {"rom", "needs a value"},       {"rom=", "needs a value"},
      {"stats=1", "takes no value"},         {"stats,,rom=a", "empty option"}, {"stats,", "empty option"},
  };
  for (const auto& r : refused) {
    try {
      parse_sim_options(r.text);
      ADD_FAILURE() << "accepted '" << r.text << "'";
    } catch (const Failure& e) {
      EXPECT_NE(std::string(e.what()).find(r.says), std::string::npos) << r.text << ": " << e.what();
    }
  }
}

TEST(SimOptions, FlashCartridgeKeysAndHelp) {
  SimOptions o = parse_sim_options("chip=3/8802,size=64M,mapper=off");
  EXPECT_EQ(o.chip, "3/8802");
  EXPECT_EQ(o.size_mib, 64u);
  EXPECT_FALSE(o.mapper);
  EXPECT_FALSE(o.help);
  EXPECT_TRUE(parse_sim_options("help").help);
  EXPECT_EQ(parse_sim_options("chip=8/88C4,size=16").chip, "8/88C4");
  const std::string help = sim_help_text();
  for (const char* line : {"  chip ", "  size ", "  mapper ", "  3/8803 ", "  9/20 ", "  5/22da "})
    EXPECT_NE(help.find(line), std::string::npos) << line;

  const struct {
    const char* text;
    const char* says;
  } refused[] = {
      {"chip=3/9999", "no flash ROM chip=3/9999"}, {"chip=38802", "no flash ROM"}, {"size=0", "1 to 128"},
      {"size=256", "1 to 128"}, {"size=big", "number of MiB"}, {"mapper=maybe", "on or off"},
      {"help=1", "takes no value"},
  };
  for (const auto& r : refused) {
    try {
      parse_sim_options(r.text);
      ADD_FAILURE() << "accepted '" << r.text << "'";
    } catch (const Failure& e) {
      EXPECT_NE(std::string(e.what()).find(r.says), std::string::npos) << r.text << ": " << e.what();
    }
  }
  // A size the chip does not come in, and contents larger than the ROM.
  SimLog log;
  const std::string big = temp_dir("bigrom") + ".gba";
  std::ofstream(big, std::ios::binary) << std::string(2 * 1024 * 1024 + 2, 'x');
  for (const char* text : {"chip=3/8802,size=16", "chip=5/22da,rom="}) {
    SimOptions bad = parse_sim_options(std::string(text) + (std::string(text).back() == '=' ? big : ""));
    EXPECT_THROW(build_cartridge(bad, log), Failure) << text;
  }
  std::filesystem::remove(big);
}

TEST(SimState, RoundTripKeepsCableConsoleAndArmedExchange) {
  const std::string dir = temp_dir("roundtrip");
  std::vector<std::uint8_t> before_ewram;
  std::uint32_t before_r4 = 0;
  {
    Simulator sim;
    Wire wire(sim.pipes());
    wire.handshake();
    wire.upload(simtest::echo_program());
    wire.reg_write(CABLE_REG_SESSION, SESSION_MARKER);
    wire.reg_write(CABLE_REG_ROM_SIZE, 0x400000);
    const std::uint32_t w[1] = {41};
    ASSERT_TRUE(wire.write_words(w).ok);
    ASSERT_EQ(wire.read_words(1)[0], 42u);
    ASSERT_EQ(wire.reg_read(CABLE_REG_STATUS) & STATUS_NO_WORD, 0u) << "armed for the next word";
    sim.set_keys(0x03F0);
    before_ewram = sim.peek(EWRAM_BASE, 0x100);
    before_r4 = sim.console().reg(UC_ARM_REG_R4);
    sim.save_state(dir);
  }
  Simulator sim;
  ASSERT_TRUE(sim.load_state(dir));
  Wire wire(sim.pipes());
  EXPECT_EQ(wire.reg_read(CABLE_REG_SESSION), static_cast<std::uint32_t>(SESSION_MARKER));
  EXPECT_EQ(wire.reg_read(CABLE_REG_ROM_SIZE), 0x400000u);
  EXPECT_TRUE(sim.console().link_armed());
  EXPECT_EQ(sim.peek(EWRAM_BASE, 0x100), before_ewram);
  EXPECT_EQ(sim.console().reg(UC_ARM_REG_R4), before_r4);
  EXPECT_EQ(sim.console().banked_sp(bios::MODE_IRQ), bios::SP_IRQ);
  EXPECT_EQ(sim.console().io().keys(), 0x03F0);
  // The program goes on where it stopped.
  const std::uint32_t w[1] = {99};
  ASSERT_TRUE(wire.write_words(w).ok);
  EXPECT_EQ(wire.read_words(1)[0], 100u);
  EXPECT_EQ(sim.log().misuse_count(), 0u);
  std::filesystem::remove_all(dir);
}

TEST(SimState, CartridgeIsKeptAndDamagedFilesAreRefused) {
  const std::string dir = temp_dir("damaged");
  {
    Simulator sim;
    sim.set_cart(std::make_unique<MaskRom>(std::vector<std::uint8_t>{1, 2, 3, 4}));
    sim.save_state(dir);
  }
  {
    Simulator sim;
    ASSERT_TRUE(sim.load_state(dir));
    EXPECT_EQ(sim.console().bus().read(ROM_BASE, 4), 0x04030201u);
    EXPECT_EQ(sim.console().bus().read(ROM_BASE + 4, 2), 0x0002u) << "open bus past the kept ROM";
  }
  const auto console_file = std::filesystem::path(dir) / "console.state";
  const auto full = std::filesystem::file_size(console_file);
  std::filesystem::resize_file(console_file, full / 2);
  Simulator truncated;
  EXPECT_THROW(truncated.load_state(dir), Failure);
  std::ofstream(console_file, std::ios::binary | std::ios::trunc) << "not a state file at all";
  try {
    Simulator garbage;
    garbage.load_state(dir);
    ADD_FAILURE() << "a foreign file was loaded";
  } catch (const Failure& e) {
    EXPECT_NE(std::string(e.what()).find("console.state"), std::string::npos) << e.what();
  }
  std::filesystem::remove_all(dir);
}

TEST(SimState, TransportSavesStateScreenAndPrintsStats) {
  const std::string dir = temp_dir("transport");
  std::ostringstream report;
  {
    auto pipes = open_sim_cable(parse_sim_options("stats,state=" + dir), report, 1000);
    Wire wire(*pipes);
    wire.reg_write(CABLE_REG_SESSION, 0x5EED);
  }
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir) / "screen.png"));
  EXPECT_NE(report.str().find("sim: 0 words to the console, 0 words from the console, 0 instructions"),
            std::string::npos)
      << report.str();
  {
    auto pipes = open_sim_cable(parse_sim_options("state=" + dir), report, 1000);
    Wire wire(*pipes);
    EXPECT_EQ(wire.reg_read(CABLE_REG_SESSION), 0x5EEDu) << "the cable stays powered between runs";
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kartex
