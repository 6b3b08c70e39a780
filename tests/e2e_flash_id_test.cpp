// The real agent identifies every flash ROM cartridge the simulator builds:
// ROM kind, size and erase block as the identification table gives them,
// every chip back in read mode afterwards, and no misuse of the hardware.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/run.h"
#include "contract/wire.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "tests/support/case_spread.h"
#include "tests/support/sim_session.h"
#include "tests/support/sizes.h"

namespace kartex::test {
namespace {

// A stand-in for the banked battery SRAM of large cartridges, only as much
// as the agent's bank probe needs: 16 separate banks of 64 KiB.
class BankedRam : public SaveChip {
 public:
  BankedRam() : ram_(16 * 0x10000, 0) {}
  std::string name() const override { return "banked RAM stand-in"; }
  std::string kind() const override { return "test-banked-ram"; }
  std::uint8_t read8(std::uint32_t addr, unsigned bank) override { return ram_[index(addr, bank)]; }
  void write8(std::uint32_t addr, std::uint8_t v, unsigned bank) override { ram_[index(addr, bank)] = v; }
  void save(StateWriter&) const override {}

 private:
  static std::size_t index(std::uint32_t addr, unsigned bank) { return (bank & 15) * 0x10000 + (addr & 0xFFFF); }
  std::vector<std::uint8_t> ram_;
};

enum class Board { Mapper, MapperBankedRam, NoMapper };

struct Expect {
  std::uint32_t kind, size, erase_block, variant;
};

// What the identification table says the agent reports.
Expect expected(const RomOption& o, std::uint32_t mib, Board board) {
  static const std::uint32_t ERASE_BLOCK[] = {0, 0, 0x20000, 0x40000, 0x10000, 0x10000, 0x10000, 0x10000,
                                              0x20000, 0x20000};
  std::uint32_t size = mib * MiB;
  // The pairs of 128 Mbit parts show sizes past 32 MiB only to the page
  // probe, which runs when the mapper was seen at work (its ROM page moved
  // the window, or bank 8 of the SRAM is separate from bank 0); the
  // 256 Mbit pair is reported as 32 MiB.
  if (o.kind == 3 && (o.code == 0x18 || o.code == 0x8802) && board == Board::NoMapper)
    size = std::min(size, 32 * MiB);
  if (o.kind == 3 && o.code == 0x8803) size = 32 * MiB;
  // Variant: 2 with separate SRAM banks; else 1 when the ROM page register
  // moves the first KiB, 0 without a mapper.
  const std::uint32_t variant = board == Board::MapperBankedRam ? 2 : board == Board::Mapper ? 1 : 0;
  return {o.kind, size, o.kind == ROM_KIND_CFI ? o.chip->layout.largest_block() : ERASE_BLOCK[o.kind], variant};
}

void identify(const RomOption& o, std::uint32_t mib, Board board) {
  SCOPED_TRACE(o.label() + " " + std::to_string(mib) + " MiB, " +
               (board == Board::Mapper ? "mapper" : board == Board::NoMapper ? "no mapper" : "mapper, banked RAM"));
  const std::vector<std::uint8_t> contents = make_default_rom(std::min(mib, 4u) * MiB);
  AgentOnSim a;
  a.sim.set_cart(std::make_unique<Cartridge>(
      std::make_unique<FlashRom>(o, mib, contents, a.sim.log()), board != Board::NoMapper,
      board == Board::MapperBankedRam ? std::make_unique<BankedRam>() : nullptr, a.sim.log()));
  a.start();
  std::uint32_t save[1], info[3], variant[1];
  a.link.agent_request(REQ_SAVE_TYPE, 0, 0, 0, save);
  a.link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
  a.link.agent_request(REQ_CART_VARIANT, 0, 0, 0, variant);
  const Expect e = expected(o, mib, board);
  EXPECT_EQ(info[0], e.kind);
  EXPECT_EQ(info[1], e.size) << std::hex << "0x" << info[1];
  EXPECT_EQ(info[2], e.erase_block);
  EXPECT_EQ(variant[0], e.variant);
  // Every chip (set) in the window answers with array data again.
  for (std::uint32_t at = 0; at < std::min(mib, 32u) * MiB; at += o.set_bytes()) {
    std::vector<std::uint8_t> data(16);
    a.link.agent_request(REQ_ROM_READ, 0x08000000 + at, 16, 0);
    a.link.read_words(data);
    const auto from = contents.begin() + std::min<std::size_t>(at, contents.size());
    std::vector<std::uint8_t> want(from, std::min(from + 16, contents.end()));
    want.resize(16, 0xFF);
    EXPECT_EQ(data, want) << "chip set at ROM offset 0x" << std::hex << at << " not in read mode";
  }
  EXPECT_EQ(a.sim.log().misuse_count(), 0u);
  for (const std::string& line : a.sim.log().misuses()) ADD_FAILURE() << line;
}

// The CFI chips' boards have no mapper: they are among those below.
TEST(FlashIdOnSimulator, EveryChipAndSizeWithTheMapper) {
  for (const RomOption& o : spread_of(rom_options()))
    if (o.kind != ROM_KIND_CFI)
      for (std::uint32_t mib : o.sizes_mib) identify(o, mib, Board::Mapper);
}

TEST(FlashIdOnSimulator, SizesPast32MiBFoundThroughRomPagesWithBankedRam) {
  for (const char* chip : {"3/18", "3/8802", "3/8803"})
    for (std::uint32_t mib : find_rom_option(chip)->sizes_mib)
      identify(*find_rom_option(chip), mib, Board::MapperBankedRam);
}

// Up to 16 MiB: on larger boards without the mapper the chips answer at the
// page register's address and take the page numbers as commands.
TEST(FlashIdOnSimulator, BoardsWithoutTheMapper) {
  for (const char* chip :
       {"2/16", "3/8801", "4/e2", "5/22da", "6/22c4", "7/8897", "8/88cc", "9/20", "10/2221", "10/2222", "10/22f9",
        "10/881b", "10/8818", "10/891c", "10/8919"})
    identify(*find_rom_option(chip), find_rom_option(chip)->sizes_mib.front(), Board::NoMapper);
}

TEST(FlashIdOnSimulator, TheToolReportsTheFlashRomWithoutSimulatorComplaints) {
  struct Case {
    std::string sim, line;
  };
  const Case cases[] = {
      {"--sim=chip=8/88c4,size=32", "FLASH ROM SIZE=0x2000000\n"},
      {"--sim=chip=5/22da,mapper=off", "FLASH ROM SIZE=0x100000\n"},
      {"--sim=chip=3/8801", "FLASH ROM SIZE=0x1000000\n"},
  };
  const auto dump = std::filesystem::path(::testing::TempDir()) / "kartex_flash_id.bin";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    std::ostringstream out, err;
    RunEnv env{out, err, {}, [](int) {}};
    const int status = kartex::run({c.sim, "fr", dump.string(), "0", "16"}, env);
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_EQ(err.str(), "") << "the simulator saw the agent misuse the hardware";
    EXPECT_NE(out.str().find(c.line), std::string::npos) << out.str();
    EXPECT_EQ(std::filesystem::file_size(dump), 16u) << "blank flash: sixteen bytes of 0xFF";
  }
}

}  // namespace
}  // namespace kartex::test
