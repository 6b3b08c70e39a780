// The word-program kinds' steps end to end: the JEDEC chips and the
// status-register pair, each step started only once the chips show the last
// one in. On the data sheets' typical times a step is seen in at the second
// status read; on their longest times every step goes on to the bounded
// wait and the steps resume after it. Either way the ROM holds the data,
// no chip saw a command while busy, and nothing outside the range moved,
// onto blank flash and over other data, small sectors and parameter blocks
// among the blocks written.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cart/commands.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_catalog.h"
#include "sim/cart/flash_commands.h"
#include "sim/cart/flash_rom.h"
#include "tests/support/cart_bench.h"
#include "tests/support/flash_cells.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t KiB = 1024;

TEST(WordSteps, EveryHalfwordLandsOnTypicalAndLongestTimes) {
  struct Case {
    const char* chip;
    std::uint32_t size_mib, offset, bytes;
  };
  const Case cases[] = {
      {"6/22c4", 2, 0x1E0000, 128 * KiB},  // a 64 KiB sector, then the four top sectors
      {"5/22da", 1, 0x40000, 64 * KiB},
      {"8/8896", 8, 0x7E0000, 128 * KiB},  // a pair block of eight parameter blocks
      {"8/8896", 16, 0x100000, 128 * KiB},
  };
  for (const Case& tc : cases) {
    for (const bool slow : {false, true}) {
      SCOPED_TRACE(std::string(tc.chip) + (slow ? " chip-times=max" : " chip-times=typical"));
      SimOptions o;
      o.chip = tc.chip;
      o.size_mib = tc.size_mib;
      o.chip_times_max = slow;
      CartBench b(o);
      FlashRom& rom = flash_rom_of(b.a.sim);
      for (const std::uint32_t seed : {71u, 72u}) {  // onto blank flash, then over the first data
        const Bytes data = noise(tc.bytes, seed + tc.offset);
        Bytes want = flash_cells(rom, b.cart.rom_size);
        std::copy(data.begin(), data.end(), want.begin() + tc.offset);
        const Range range{static_cast<std::int32_t>(tc.offset), static_cast<std::int32_t>(tc.bytes)};
        EXPECT_NO_THROW(flash_write(b.a.link, b.cart, range, data, b.con)) << "write " << seed;
        EXPECT_TRUE(flash_cells(rom, b.cart.rom_size) == want) << "every byte of the ROM, write " << seed;
      }
      EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
    }
  }
}

// The JEDEC kinds program in the chips' unlock bypass. A part of the same
// ID whose sheet has no bypass takes its 0x20 as a broken sequence and
// ignores the two-write program after it: the agent finds the halfword not
// in, programs it with the whole sequence, and keeps to that for the rest
// of the session, so the chip sees one broken sequence in all, whatever
// the pieces, blocks and requests. The bytes around each range stay.
TEST(WordSteps, AChipWithoutTheUnlockBypassGetsTheWholeSequence) {
  struct Case {
    const char* chip;
    std::uint32_t size_mib;
  };
  for (const Case& tc : {Case{"6/22c4", 2}, Case{"5/22da", 1}}) {
    SCOPED_TRACE(tc.chip);
    RomOption option = *find_rom_option(tc.chip);
    ChipModel model = *option.chip;
    model.unlock_bypass = false;
    option.chip = &model;
    const Bytes before = noise(tc.size_mib * 1024 * 1024, 73);
    CartBench b([&](SimLog& log) -> std::unique_ptr<CartBus> {
      return std::make_unique<Cartridge>(std::make_unique<FlashRom>(option, tc.size_mib, before, log), true,
                                         nullptr, log);
    });
    FlashRom& rom = flash_rom_of(b.a.sim);
    Bytes want = before;
    // Within a sector and across the next one's start; then a second
    // request in another sector
    const std::uint32_t ranges[][2] = {{0x10000 + 0x1236, 70 * KiB}, {0x50000, 6 * KiB}};
    for (const auto& [offset, bytes] : ranges) {
      const Bytes data = noise(bytes, offset);
      std::copy(data.begin(), data.end(), want.begin() + offset);
      const Range range{static_cast<std::int32_t>(offset), static_cast<std::int32_t>(bytes)};
      EXPECT_NO_THROW(flash_write(b.a.link, b.cart, range, data, b.con)) << "write at " << offset;
      EXPECT_TRUE(flash_cells(rom, b.cart.rom_size) == want) << "every byte of the ROM after the write at " << offset;
    }
    ASSERT_EQ(b.a.sim.log().misuse_count(), 1u) << testing::PrintToString(b.a.sim.log().misuses());
    EXPECT_NE(b.a.sim.log().misuses()[0].find("broken by"), std::string::npos) << b.a.sim.log().misuses()[0];
  }
}

// A reset of the console in the middle of a write leaves the JEDEC chip in
// its unlock bypass, where it takes no identification command: the agent
// that comes up next still finds the chip, and writes it.
TEST(WordSteps, AChipLeftInItsUnlockBypassIsFoundAndWritten) {
  for (const char* chip : {"6/22c4", "5/22da"}) {
    SCOPED_TRACE(chip);
    const RomOption& option = *find_rom_option(chip);
    FlashRom* rom = nullptr;
    CartBench b([&](SimLog& log) -> std::unique_ptr<CartBus> {
      auto flash = std::make_unique<FlashRom>(option, option.sizes_mib.front(), Bytes{}, log);
      flash->write16(0xAAA, flash::JEDEC_UNLOCK1);
      flash->write16(0x554, flash::JEDEC_UNLOCK2);
      flash->write16(0xAAA, flash::JEDEC_UNLOCK_BYPASS);
      rom = flash.get();
      return std::make_unique<Cartridge>(std::move(flash), true, nullptr, log);
    });
    // Until the agent ends the bypass, the chip ignores the mapper's and
    // the save probe's writes; none of them programs anything.
    const std::uint64_t at_bringup = b.a.sim.log().misuse_count();
    for (const std::string& m : b.a.sim.log().misuses())
      EXPECT_NE(m.find("in the unlock bypass, which takes only"), std::string::npos) << m;
    EXPECT_TRUE(flash_cells(*rom, option.sizes_mib.front() * 1024 * 1024) ==
                Bytes(option.sizes_mib.front() * 1024 * 1024, 0xFF))
        << "the chip is still blank";
    EXPECT_EQ(b.cart.rom_size, static_cast<std::int32_t>(option.sizes_mib.front() * 1024 * 1024));
    EXPECT_EQ(b.cart.erase_block, static_cast<std::int32_t>(64 * KiB));
    const Bytes data = noise(10 * KiB, 74);
    Bytes want = flash_cells(*rom, b.cart.rom_size);
    std::copy(data.begin(), data.end(), want.begin() + 0x30000);
    EXPECT_NO_THROW(flash_write(b.a.link, b.cart, {0x30000, 10 * KiB}, data, b.con));
    EXPECT_TRUE(flash_cells(*rom, b.cart.rom_size) == want) << "every byte of the ROM";
    EXPECT_EQ(b.a.sim.log().misuse_count(), at_bringup) << testing::PrintToString(b.a.sim.log().misuses());
  }
}

}  // namespace
}  // namespace kartex::test
