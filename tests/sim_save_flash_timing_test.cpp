// FLASH save chips on the console's clock, advanced by hand: each part is
// busy for its program and erase times and no longer; the page-program
// part loads until no byte has come for the load window, then writes; a
// program a Macronix-type part cannot finish shows bit 5 after its limit
// and needs the reset command; identifier mode takes effect after the
// part's latency; an access with fewer WAITCNT cycles than the part needs
// is not taken and logged once.

#include <gtest/gtest.h>

#include "sim/save/save_commands.h"
#include "sim/save/save_flash.h"
#include "tests/sim_save_support.h"

namespace kartex {
namespace {

using namespace savetest;
using namespace save;
using simtime::microseconds;
using simtime::milliseconds;

struct TimedBench : Bench {
  explicit TimedBench(std::uint8_t maker, std::uint8_t device, std::vector<std::uint8_t> image = {})
      : Bench(std::make_unique<FlashSaveChip>(*find_flash_save_model(maker, device), sim.log(), std::move(image))),
        model(*find_flash_save_model(maker, device)) {}

  FlashSaveChip& chip() { return dynamic_cast<FlashSaveChip&>(cart->save_chip()); }
  void command(std::uint8_t c) {
    wr(FLASH_UNLOCK1_ADDR, FLASH_UNLOCK1);
    wr(FLASH_UNLOCK2_ADDR, FLASH_UNLOCK2);
    wr(FLASH_UNLOCK1_ADDR, c);
  }
  // Two reads in a row differ in bit 6 while the part works.
  bool busy(std::uint32_t at) { return ((rd(at) ^ rd(at)) & FLASH_DQ6_TOGGLE) != 0; }

  FlashSaveModel model;
};

const std::pair<std::uint8_t, std::uint8_t> FLASH_PARTS[] = {{MAKER_1F, DEV_3D}, {MAKER_BF, DEV_D4}, {MAKER_C2, DEV_1C},
                                                        {MAKER_32, DEV_1B}, {MAKER_C2, DEV_09}, {MAKER_62, DEV_13}};

std::string part_name(std::uint8_t maker, std::uint8_t device) { return hex_short(maker) + "/" + hex_short(device); }

TEST(SimSaveFlashTiming, EachOperationIsBusyForItsTimeAndNoLonger) {
  // On one part after another: a program in sector 0, a sector erase of
  // sector 2, then a chip erase.
  enum Op { Program, SectorErase, ChipErase };
  for (auto [maker, device] : FLASH_PARTS) {
    TimedBench b(maker, device, std::vector<std::uint8_t>(find_flash_save_model(maker, device)->bytes, 0x77));
    for (Op op : {Program, SectorErase, ChipErase}) {
      SCOPED_TRACE(part_name(maker, device) + " operation " + std::to_string(op));
      if (op == SectorErase && b.model.page_program) continue;  // the page part has none
      const std::uint32_t at = op == SectorErase ? 0x2400 : 0x0400;
      SimTime takes = 0;
      if (op == Program && b.model.page_program) {
        b.command(FLASH_PROGRAM);
        for (std::uint32_t i = 0; i < FLASH_PAGE_BYTES; ++i) b.wr(at + i, 0x11);
        // Still loading: no status yet, the old data reads back.
        b.pass(FLASH_PAGE_LOAD_WINDOW - 1);
        EXPECT_EQ(b.rd(at), 0x77);
        b.pass(1);
        takes = b.model.program;
      } else if (op == Program) {
        b.command(FLASH_PROGRAM);
        b.wr(at, 0x11);
        takes = b.model.program;
      } else {
        b.command(FLASH_ERASE_SETUP);
        b.wr(FLASH_UNLOCK1_ADDR, FLASH_UNLOCK1);
        b.wr(FLASH_UNLOCK2_ADDR, FLASH_UNLOCK2);
        if (op == SectorErase) {
          b.wr(at, FLASH_SECTOR_ERASE);
          takes = b.model.sector_erase;
        } else {
          b.wr(FLASH_UNLOCK1_ADDR, FLASH_CHIP_ERASE);
          takes = b.model.chip_erase;
        }
      }
      const SimTime started = b.now();
      ASSERT_GT(takes, microseconds(1));
      EXPECT_TRUE(b.busy(at)) << "right after the start";
      b.pass(takes - 1);
      EXPECT_TRUE(b.busy(at)) << "one tick before the end";
      b.pass(1);
      EXPECT_FALSE(b.busy(at)) << "at the end";
      EXPECT_EQ(b.now() - started, takes);
      EXPECT_EQ(b.rd(at), op == Program ? 0x11 : FLASH_ERASED);
      EXPECT_EQ(b.rd(at + 0x1000), op == ChipErase ? FLASH_ERASED : 0x77) << "the next sector stays";
      EXPECT_EQ(b.rd(at - 1), op == ChipErase || (op == SectorErase) ? FLASH_ERASED : 0x77) << "the byte before";
      b.expect_no_misuse();
    }
  }
}

TEST(SimSaveFlashTiming, PagePartTakesEveryWriteInTheLoadWindowAsAByteOfThePage) {
  struct Case {
    const char* name;
    SimTime gap;  // after the 128th byte, before the next command
    bool taken;   // the next command works
  };
  const Case cases[] = {
      {"command inside the load window", microseconds(20), false},
      {"command after the load window and the write cycle", FLASH_PAGE_LOAD_WINDOW + milliseconds(20), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> image(64 * KiB, 0x77);
    TimedBench b(MAKER_1F, DEV_3D, image);
    b.command(FLASH_PROGRAM);
    for (std::uint32_t i = 0; i < FLASH_PAGE_BYTES; ++i) b.wr(0x0100 + i, static_cast<std::uint8_t>(i));
    b.pass(c.gap);
    b.command(FLASH_ID_ENTER);  // the first of its bytes lands at 0x5555, outside the page
    b.pass(FLASH_PAGE_LOAD_WINDOW + milliseconds(20) + milliseconds(1));
    EXPECT_EQ(b.rd(0) == MAKER_1F && b.rd(1) == DEV_3D, c.taken);
    if (c.taken) {
      b.expect_no_misuse();
    } else {
      EXPECT_FALSE(b.new_misuses().empty()) << "bytes outside the page are named";
    }
    b.command(FLASH_RESET);
    b.pass(milliseconds(1));
    for (std::uint32_t i = 0; i < FLASH_PAGE_BYTES; ++i) ASSERT_EQ(b.chip().cells()[0x0100 + i], i);
    EXPECT_EQ(b.chip().cells()[0x00FF], 0x77);
    EXPECT_EQ(b.chip().cells()[0x0180], 0x77);
  }
}

TEST(SimSaveFlashTiming, AProgramAMacronixTypePartCannotFinishShowsBit5AndNeedsTheReset) {
  struct Case {
    std::uint8_t maker, device;
    bool time_limit;
  };
  const Case cases[] = {{MAKER_C2, DEV_1C, true}, {MAKER_C2, DEV_09, true}, {MAKER_BF, DEV_D4, false},
                        {MAKER_32, DEV_1B, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(part_name(c.maker, c.device));
    std::vector<std::uint8_t> image(find_flash_save_model(c.maker, c.device)->bytes, 0x0F);
    TimedBench b(c.maker, c.device, image);
    b.command(FLASH_PROGRAM);
    b.wr(0x0200, 0xF0);  // bits 4-7 are 0 already: only an erase sets them
    EXPECT_EQ(b.new_misuses().size(), 1u);
    EXPECT_EQ(b.rd(0x0200) & FLASH_DQ5_TIMEOUT, 0) << "bit 5 stays 0 until the limit";
    b.pass(milliseconds(5));
    if (!c.time_limit) {
      EXPECT_FALSE(b.busy(0x0200)) << "the part clears what it can and ends";
      EXPECT_EQ(b.rd(0x0200), 0x00);
      continue;
    }
    EXPECT_TRUE(b.busy(0x0200));
    EXPECT_EQ(b.rd(0x0200) & FLASH_DQ5_TIMEOUT, FLASH_DQ5_TIMEOUT);
    b.pass(milliseconds(100));
    EXPECT_TRUE(b.busy(0x0200)) << "still busy: only the reset ends it";
    b.wr(FLASH_UNLOCK1_ADDR, FLASH_RESET);
    EXPECT_FALSE(b.busy(0x0200));
    EXPECT_EQ(b.rd(0x0201), 0x0F);
    b.command(FLASH_PROGRAM);  // and the part takes commands again
    b.wr(0x0201, 0x05);
    b.pass(milliseconds(1));
    EXPECT_EQ(b.rd(0x0201), 0x05);
    EXPECT_EQ(b.new_misuses(), std::vector<std::string>{});
  }
}

TEST(SimSaveFlashTiming, IdentifierModeTakesEffectAfterThePartsLatency) {
  for (auto [maker, device] : FLASH_PARTS) {
    SCOPED_TRACE(part_name(maker, device));
    std::vector<std::uint8_t> image(find_flash_save_model(maker, device)->bytes, 0x5A);
    TimedBench b(maker, device, image);
    const SimTime latency = b.model.id_latency;
    b.command(FLASH_ID_ENTER);
    if (latency > 0) {
      EXPECT_EQ(b.rd(0), 0x5A) << "before the latency the array still reads";
      b.pass(latency - 1);
      EXPECT_EQ(b.rd(1), 0x5A);
      b.pass(1);
    }
    EXPECT_EQ(b.rd(0), maker);
    EXPECT_EQ(b.rd(1), device);
    b.command(FLASH_RESET);
    if (latency > 0) {
      EXPECT_EQ(b.rd(1), device) << "leaving takes the latency too";
      b.pass(latency);
    }
    EXPECT_EQ(b.rd(0), 0x5A);
    EXPECT_EQ(b.rd(1), 0x5A);
    b.expect_no_misuse();
  }
}

TEST(SimSaveFlashTiming, TooFewWaitCyclesTakeNoWriteAndReadUnsettledData) {
  for (auto [maker, device] : FLASH_PARTS) {
    const FlashSaveModel m = *find_flash_save_model(maker, device);
    std::vector<std::uint8_t> image(m.bytes, 0x5A);
    TimedBench b(maker, device, image);
    for (unsigned wait : {2u, 3u, 4u, 8u}) {
      SCOPED_TRACE(part_name(maker, device) + " at " + std::to_string(wait) + " cycles");
      b.cart->set_save_wait(wait);
      const bool read_ok = wait >= m.read_wait, write_ok = wait >= m.write_wait;
      EXPECT_EQ(b.rd(0x0010), read_ok ? 0x5A : CART_SAVE_OPEN_BUS);
      EXPECT_EQ(b.rd(0x0011), read_ok ? 0x5A : CART_SAVE_OPEN_BUS);
      b.command(FLASH_ID_ENTER);
      b.pass(milliseconds(1));
      b.cart->set_save_wait(SAVE_WAIT_DETECT);
      const bool identified = b.rd(0) == maker && b.rd(1) == device;
      EXPECT_EQ(identified, write_ok) << "the command reached the part";
      // One line for each kind of access that was too fast, however many.
      EXPECT_EQ(b.new_misuses().size(), (read_ok ? 0u : 1u) + (write_ok ? 0u : 1u));
      b.command(FLASH_RESET);
      b.pass(milliseconds(1));
      EXPECT_EQ(b.chip().cells(), image);
    }
  }
}

TEST(SimSaveFlashTiming, AKeptStateKeepsTheDeadlineAndAnImpossibleOneIsRefused) {
  TimedBench b(MAKER_BF, DEV_D4);
  b.pass(milliseconds(3));
  b.command(FLASH_ERASE_SETUP);
  b.command(FLASH_CHIP_ERASE);
  StateWriter out;
  b.chip().save(out);
  const std::vector<std::uint8_t> bytes = out.bytes();

  StateReader in(bytes, "test");
  std::unique_ptr<SaveChip> copy = FlashSaveChip::load(in, b.sim.log());
  b.pass(b.model.chip_erase - 1);
  EXPECT_EQ((copy->read8(SAVE, 0) ^ copy->read8(SAVE, 0)) & FLASH_DQ6_TOGGLE, FLASH_DQ6_TOGGLE) << "still erasing";
  b.pass(1);
  EXPECT_EQ(copy->read8(SAVE, 0), FLASH_ERASED);

  // The same state with the deadline moved to 0: a chip erase cannot have
  // ended before it began. The deadline follows maker, device, the cells
  // (an 8-byte length and 64 KiB), the mode, the identifier mode's two
  // flags and time, and the bank.
  std::vector<std::uint8_t> damaged = bytes;
  const std::size_t deadline_at = 2 + 8 + 64 * KiB + 1 + 2 + 8 + 1;
  std::uint64_t deadline = 0;
  for (std::size_t i = 0; i < 8; ++i) deadline |= static_cast<std::uint64_t>(damaged[deadline_at + i]) << (8 * i);
  ASSERT_EQ(deadline, milliseconds(3) + b.model.chip_erase) << "the field is where the test looks";
  for (std::size_t i = 0; i < 8; ++i) damaged[deadline_at + i] = 0;
  StateReader bad(damaged, "test");
  EXPECT_THROW(FlashSaveChip::load(bad, b.sim.log()), std::exception);
}

}  // namespace
}  // namespace kartex
