// Flash ROM chips that refuse or fail, end to end with the real agent: a
// worn block is one line and a failure, not "done"; blocks locked at
// power-up (kind 4, every page of a 128 MiB kind 3 cartridge) are unlocked
// before they are written; chips on a board without the mapper, which take
// its unlock writes as invalid commands, still write.

#include <gtest/gtest.h>

#include "cart/commands.h"
#include "common/failure.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_catalog.h"
#include "sim/cart/flash_rom.h"
#include "tests/support/cart_bench.h"
#include "tests/support/flash_cells.h"
#include "tests/support/sizes.h"

namespace kartex::test {
namespace {

SimOptions cart_options(const char* chip, std::uint32_t mib = 0, bool mapper = true, const char* save = "none") {
  SimOptions options;
  options.chip = chip;
  options.size_mib = mib;
  options.mapper = mapper;
  options.save = save;
  return options;
}

// Writes `data` at `at`, expecting success and the bytes around unchanged.
void write_and_check(CartBench& b, std::uint32_t at, const Bytes& data) {
  const Bytes before = b.read_rom(at - 0x100, 0x100);
  flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(at), NOT_GIVEN}, data, b.con);
  EXPECT_TRUE(b.read_rom(at, static_cast<std::uint32_t>(data.size())) == data) << std::hex << at;
  EXPECT_TRUE(b.read_rom(at - 0x100, 0x100) == before) << "the bytes before the range changed";
  EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
}

// The agent's wait on an erase ends when the chip's does, on the console's
// clock, and the simulator does not run the poll loop's passes one by one
// (a 1 s erase would be some two million instructions).
TEST(FlashFailures, AnEraseThroughTheAgentTakesTheChipsTime) {
  struct Case {
    const char* chip;
    std::uint32_t block;  // ROM offset of a main block
    double erase_s;       // the family's typical block or sector erase
  };
  const Case cases[] = {{"2/16", 0x20000, 1.0}, {"5/22da", 0x10000, 0.7}, {"9/20", 0x100000, 0.04}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chip);
    CartBench b(cart_options(c.chip));
    write_and_check(b, c.block, Bytes(0x100, 0x00));
    const SimTime start = b.a.sim.console().clock().now();
    const std::uint64_t instructions = b.a.sim.console().instructions();
    std::uint32_t done[1];
    b.a.link.agent_request(REQ_FLASH_ERASE, c.block, 0, 0, done);
    const double took = simtime::seconds(b.a.sim.console().clock().now() - start);
    EXPECT_GE(took, c.erase_s);
    EXPECT_LT(took, c.erase_s + 0.005) << "the agent saw the chip ready within a few polls";
    EXPECT_LT(b.a.sim.console().instructions() - instructions, 20'000u);
    EXPECT_TRUE(b.read_rom(c.block, 0x100) == Bytes(0x100, 0xFF));
  }
}

TEST(FlashFailures, AWornBlockIsOneLineNotDone) {
  struct Case {
    const char* name;
    const char* chip;
    std::uint32_t block;       // ROM offset of the worn block
    std::uint8_t wear;
    bool blank;                // the block is erased first (a program, no erase)
    const char* line;
  };
  const Case cases[] = {
      {"erase error", "2/16", 0x20000, FlashChip::WEAR_ERASE, false,
       "the flash ROM failed the erase at 0x20000 (chip status 0xA0)"},
      {"program error", "2/16", 0x20000, FlashChip::WEAR_PROGRAM, true,
       "the flash ROM failed the program at 0x20000 (chip status 0x90)"},
      {"JEDEC erase time-out", "5/22da", 0x10000, FlashChip::WEAR_ERASE, false,
       "the flash ROM failed the erase at 0x10000"},
      // The word-program steps take the next command at once after a ready
      // status without error bits; one with them, or a halfword that never
      // comes in, still fails the write
      {"word program error", "7/8897", 0x20000, FlashChip::WEAR_PROGRAM, true,
       "the flash ROM failed the program at 0x20000"},
      {"dual-bank word program error", "4/e2", 0x20000, FlashChip::WEAR_PROGRAM, true,
       "the flash ROM failed the program at 0x20000"},
      {"pair word program error", "8/8896", 0x20000, FlashChip::WEAR_PROGRAM, true,
       "the flash ROM failed the program at 0x20000"},
      {"JEDEC program time-out", "6/22c4", 0x10000, FlashChip::WEAR_PROGRAM, true,
       "the flash ROM failed the program at 0x10000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CartBench b(cart_options(c.chip));
    if (!c.blank) write_and_check(b, c.block, Bytes(0x100, 0x00));
    // The first chip of a pair holds every other halfword of the ROM
    flash_rom_of(b.a.sim).chip(0).wear_out(c.block / 2 / find_rom_option(c.chip)->chips_per_set, c.wear);
    const Bytes data(0x200, 0x5A);
    try {
      flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(c.block), NOT_GIVEN}, data, b.con);
      ADD_FAILURE() << "the write reported success";
    } catch (const Failure& f) {
      EXPECT_EQ(std::string(f.what()).rfind(c.line, 0), 0u) << f.what();
      EXPECT_EQ(f.status(), EXIT_FATAL);
    }
    // The agent is in step: the next request is answered.
    EXPECT_EQ(b.read_rom(0, 4).size(), 4u);
  }
}

TEST(FlashFailures, EraseCommandReportsAWornBlock) {
  CartBench b(cart_options("7/8897"));
  write_and_check(b, 0x10000, Bytes(0x100, 0x00));
  flash_rom_of(b.a.sim).chip(0).wear_out(0x10000 / 2, FlashChip::WEAR_ERASE);
  try {
    flash_erase(b.a.link, b.cart, b.con);
    ADD_FAILURE() << "the erase reported success";
  } catch (const Failure& f) {
    EXPECT_STREQ(f.what(), "the flash ROM failed the erase at 0x10000 (chip status 0xA0)");
  }
}

TEST(FlashFailures, BlocksLockedAtPowerUpAreUnlockedBeforeWriting) {
  {
    SCOPED_TRACE("kind 4: a main block and a parameter block");
    CartBench b(cart_options("4/e2"));
    write_and_check(b, 0x10000, Bytes(0x300, 0x12));
    write_and_check(b, 0x3F2000, Bytes(0x300, 0x34));
  }
}

TEST(FlashFailures, EveryPageOfA128MiBLockedPairIsUnlocked) {
  {
    SCOPED_TRACE("kind 3 0x8802, 128 MiB: the top page too");
    CartBench b(cart_options("3/8802", 128, true, "sram1m"));
    ASSERT_EQ(b.cart.rom_size, static_cast<std::int32_t>(128 * MiB));
    write_and_check(b, 100 * MiB, Bytes(0x400, 0x56));
    write_and_check(b, 127 * MiB, Bytes(0x400, 0x78));
  }
}

TEST(FlashFailures, ChipsOnABoardWithoutTheMapperStillWrite) {
  for (const char* chip : {"9/20", "2/16"}) {
    SCOPED_TRACE(chip);
    CartBench b(cart_options(chip, 0, false));
    write_and_check(b, 0x40000, Bytes(0x400, 0x9A));
    EXPECT_TRUE(b.read_rom(0, 0x100) == Bytes(0x100, 0xFF)) << "the ROM's start reads as ROM";
  }
}

}  // namespace
}  // namespace kartex::test
