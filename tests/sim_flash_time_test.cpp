// Flash ROM chips on the console's clock: each family's erase and program
// take the data sheets' typical time (the clock moved by hand), a status
// poll before the deadline sees busy and one at it ready; error bits stay
// until Clear Status, and the page-program part refuses commands while
// they stand; worn blocks fail as the sheets describe; kind 4 locks its
// blocks at power-up.

#include <gtest/gtest.h>

#include <functional>

#include "sim/save/save_rom.h"
#include "sim_flash_support.h"

namespace kartex::flashtest {
namespace {

using namespace flash;
using simtime::microseconds;
using simtime::milliseconds;

constexpr std::uint16_t ERROR_STATUS = SR_READY | SR_ERASE_ERROR | SR_PROGRAM_ERROR;

// A status-register operation started by `start` at `at`; JEDEC ones are
// polled by their toggle bit.
struct TimedCase {
  const char* name;
  const char* chip;
  std::uint32_t at;
  std::function<void(TestRom&, std::uint32_t)> start;
  SimTime expected;
};

void sr_erase(TestRom& t, std::uint32_t a) {
  t.wr(a, CMD_BLOCK_ERASE);
  t.wr(a, CMD_CONFIRM);
}
void sr_program(TestRom& t, std::uint32_t a) {
  t.wr(a, CMD_WORD_PROGRAM);
  t.wr(a, 0x1234);
}
// A buffered write of `words` words from `a` (a single chip).
std::function<void(TestRom&, std::uint32_t)> sr_buffer(std::uint32_t words) {
  return [words](TestRom& t, std::uint32_t a) {
    const std::uint32_t step = 2 * t.rom.option().chips_per_set;  // one chip's next word
    t.wr(a, CMD_BUFFERED_WRITE);
    t.wr(a, static_cast<std::uint16_t>(words - 1));
    for (std::uint32_t i = 0; i < words; ++i) t.wr(a + step * i, 0x5555);
    t.wr(a, CMD_CONFIRM);
  };
}
void page_program(TestRom& t, std::uint32_t a) {
  t.wr(a, CMD_PAGE_PROGRAM);
  for (std::uint32_t i = 0; i < 128; ++i) t.wr(a + 4 * i, 0x1234);  // the even chip's page
}
void jedec_sector_erase(TestRom& t, std::uint32_t a) {
  t.jedec(JEDEC_ERASE_SETUP);
  t.wr(0xAAA, JEDEC_UNLOCK1);
  t.wr(0x554, JEDEC_UNLOCK2);
  t.wr(a, JEDEC_SECTOR_ERASE);
}
void jedec_chip_erase(TestRom& t, std::uint32_t) {
  t.jedec(JEDEC_ERASE_SETUP);
  t.wr(0xAAA, JEDEC_UNLOCK1);
  t.wr(0x554, JEDEC_UNLOCK2);
  t.wr(0xAAA, JEDEC_CHIP_ERASE);
}
void jedec_program(TestRom& t, std::uint32_t a) {
  t.jedec(JEDEC_PROGRAM);
  t.wr(a, 0x1234);
}
void lock_set(TestRom& t, std::uint32_t a) {
  t.wr(a, CMD_LOCK_SETUP);
  t.wr(a, CMD_LOCK_BLOCK);
}
void locks_clear(TestRom& t, std::uint32_t a) {
  t.wr(a, CMD_LOCK_SETUP);
  t.wr(a, CMD_CONFIRM);
}

bool busy_at(TestRom& t, const TimedCase& c) {
  if (option(c.chip).chip->family == FlashFamily::Jedec) return ((t.rd(c.at) ^ t.rd(c.at)) & DQ6_TOGGLE) != 0;
  return (t.rd(c.at) & SR_READY) == 0;
}

TEST(SimFlashTime, EachOperationTakesItsFamilysTypicalTime) {
  const TimedCase cases[] = {
      // 16-word buffer family: 210 us a word, 218 us a full buffer, 1 s a block
      {"J3-type block erase", "2/16", 0x20000, sr_erase, milliseconds(1000)},
      {"J3-type word program", "2/16", 0x100, sr_program, microseconds(210)},
      {"J3-type full buffer", "2/16", 0x100, sr_buffer(16), microseconds(218) / 16 * 16},
      {"J3-type 4-word buffer", "2/16", 0x100, sr_buffer(4), microseconds(218) / 16 * 4},
      {"J3-type set lock bit", "2/16", 0x100, lock_set, microseconds(64)},
      {"J3-type clear lock bits", "2/16", 0x100, locks_clear, milliseconds(500)},
      {"boot-block main block erase", "7/8897", 0x100000, sr_erase, milliseconds(1000)},
      {"boot-block parameter block erase", "7/8897", 0x2000, sr_erase, milliseconds(500)},
      {"boot-block word program", "7/8897", 0x100, sr_program, microseconds(22)},
      {"pair: one chip's parameter block", "8/8896", 0x7F0000, sr_erase, milliseconds(500)},
      {"page program", "9/20", 0x100000, page_program, milliseconds(4)},
      {"page-program part block erase", "9/20", 0x100000, sr_erase, milliseconds(40)},
      {"JEDEC word program", "5/22da", 0x100, jedec_program, microseconds(11)},
      {"JEDEC sector erase", "5/22da", 0x10000, jedec_sector_erase, milliseconds(700)},
      {"JEDEC small sector erase", "6/22c4", 0x1FC000, jedec_sector_erase, milliseconds(700)},
      {"JEDEC chip erase, 19 sectors", "5/22da", 0, jedec_chip_erase, milliseconds(700) * 19},
  };
  for (const TimedCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRom t(c.chip);
    t.pass(milliseconds(3));  // not at the clock's start
    const SimTime start = t.now();
    c.start(t, c.at);
    t.pass(c.expected - 1);
    EXPECT_TRUE(busy_at(t, c)) << "ready before its time";
    t.pass(1);
    EXPECT_FALSE(busy_at(t, c)) << "still busy at its time";
    EXPECT_EQ(t.now() - start, c.expected);
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

// The 32-word buffer of the parts locked at power-up, per word: 440 us a
// whole buffer. Kind 4 at its own figures.
TEST(SimFlashTime, LockedFamiliesOnceUnlocked) {
  const TimedCase cases[] = {
      {"K3-type full buffer", "3/8802", 0x100, sr_buffer(32), microseconds(440) / 32 * 32},
      {"K3-type block erase", "3/8802", 0x40000, sr_erase, milliseconds(1000)},
      {"K3-type word program", "3/8802", 0x100, sr_program, microseconds(110)},
      {"dual-bank main block erase", "4/e2", 0x10000, sr_erase, milliseconds(400)},
      {"dual-bank parameter block erase", "4/e2", 0x3F2000, sr_erase, milliseconds(200)},
      {"dual-bank word program", "4/e2", 0x100, sr_program, microseconds(20)},
  };
  for (const TimedCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRom t(c.chip);
    t.unlock_block(c.at);
    const SimTime start = t.now();
    c.start(t, c.at);
    t.pass(c.expected - 1);
    EXPECT_TRUE(busy_at(t, c));
    t.pass(1);
    EXPECT_FALSE(busy_at(t, c));
    EXPECT_EQ(t.now() - start, c.expected);
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

// Kind 4 and the ROM-resident save area lock every block at power-up:
// erase and program are refused (SR.1 with SR.5 or SR.4) until the block is
// unlocked; the cells stay.
TEST(SimFlashTime, Kind4AndTheRomSaveAreaStartLocked) {
  const std::vector<std::uint8_t> zeros(0x20000, 0);
  TestRom t("4/e2", 0, zeros);
  sr_erase(t, 0x10000);
  t.wait_ready(0x10000);
  EXPECT_EQ(t.rd(0x10000), SR_READY | SR_ERASE_ERROR | SR_BLOCK_LOCKED);
  t.wr(0, CMD_CLEAR_STATUS);
  t.wr(0, CMD_READ_ARRAY);
  EXPECT_EQ(t.rd(0x10000), 0x0000) << "a locked block was erased";
  t.unlock_block(0x10000);
  t.erase(0x10000);
  EXPECT_EQ(t.rd(0x10000), 0xFFFF);
  EXPECT_EQ(t.rd(0x0FFFE), 0x0000) << "the block before stays";
  EXPECT_EQ(t.log.misuse_count(), 1u);

  SimLog log;
  const auto chip = make_flash_chip(RomSaveArea::model(), "area", log);
  chip->write(0x100, CMD_WORD_PROGRAM);
  chip->write(0x100, 0x1234);
  log.clock().advance(milliseconds(1));
  EXPECT_EQ(chip->read(0x100), SR_READY | SR_PROGRAM_ERROR | SR_BLOCK_LOCKED);
  EXPECT_EQ(chip->cells()[0x100], 0xFFFF);
  EXPECT_EQ(log.misuse_count(), 1u);
}

// Error bits stay until Clear Status. The page-program part then takes no
// erase or program (each refusal is the command sequence error); the
// others carry on with the bits still set.
TEST(SimFlashTime, ErrorBitsStayAndThePageProgramPartWaitsForClearStatus) {
  for (const char* chip : {"9/20", "7/8897", "2/16"}) {
    SCOPED_TRACE(chip);
    const bool holds = option(chip).chip->errors_hold_commands;
    TestRom t(chip);
    t.wr(0, 0x34);  // no command of the part
    EXPECT_EQ(t.rd(0), ERROR_STATUS);
    t.wr(0, CMD_READ_ARRAY);
    t.program(0, 0x1234);
    EXPECT_EQ(t.rd(0), holds ? 0xFFFF : 0x1234);
    EXPECT_EQ(t.log.misuse_count(), holds ? 1u : 0u);
    t.wr(0, CMD_READ_STATUS);
    EXPECT_EQ(t.rd(0), ERROR_STATUS) << "the bits stayed";
    t.wr(0, CMD_CLEAR_STATUS);
    t.program(0, 0x0234);
    EXPECT_EQ(t.rd(0), 0x0234) << "after Clear Status every part programs";
    t.wr(0, CMD_READ_STATUS);
    EXPECT_EQ(t.rd(0), SR_READY);
  }
}

// A worn block: the erase takes its time and ends with SR.5 (JEDEC: DQ5
// with DQ6 still toggling, until reset), a program with SR.4; the cells
// keep what they held; other blocks work.
TEST(SimFlashTime, WornBlocksFailWithTheFamilysErrorStatus) {
  struct Case {
    const char* chip;
    std::uint32_t block, other;
  };
  for (const Case& c : {Case{"2/16", 0x20000, 0x40000}, Case{"8/8897", 0x40000, 0x80000},
                        Case{"5/22da", 0x10000, 0x20000}}) {
    SCOPED_TRACE(c.chip);
    const std::vector<std::uint8_t> zeros(0x100000, 0x00);
    TestRom t(c.chip, 0, zeros);
    const bool jedec = option(c.chip).chip->family == FlashFamily::Jedec;
    FlashChip& chip = t.rom.chip(0);  // the chip (or even chip) at offset 0
    const std::uint32_t per = option(c.chip).chips_per_set;
    chip.wear_out(c.block / 2 / per, FlashChip::WEAR_ERASE | FlashChip::WEAR_PROGRAM);

    if (jedec) {
      jedec_sector_erase(t, c.block);
      t.pass(milliseconds(700));
      const std::uint16_t a = t.rd(c.block), b = t.rd(c.block);
      EXPECT_EQ(b & DQ5_TIMEOUT, DQ5_TIMEOUT);
      EXPECT_NE(a & DQ6_TOGGLE, b & DQ6_TOGGLE) << "DQ6 keeps toggling after a failure";
      t.wr(0, JEDEC_RESET);
    } else {
      sr_erase(t, c.block);
      t.pass(milliseconds(1000));
      EXPECT_EQ(t.rd(c.block), SR_READY | SR_ERASE_ERROR);
      t.wr(c.block, CMD_CLEAR_STATUS);
      t.wr(c.block, CMD_READ_ARRAY);
    }
    EXPECT_EQ(t.rd(c.block), 0x0000) << "a failed erase left the cells";
    t.erase(c.other);
    EXPECT_EQ(t.rd(c.other), 0xFFFF) << "another block erases";
    if (!jedec) {
      t.wr(c.block, CMD_WORD_PROGRAM);
      t.wr(c.block, 0x0000);
      t.wait_ready(c.block);
      EXPECT_EQ(t.rd(c.block), SR_READY | SR_PROGRAM_ERROR);
    }
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

// A busy chip keeps its deadline across a saved state; a busy one with no
// deadline is refused.
TEST(SimFlashTime, BusyDeadlineIsKeptInTheState) {
  for (const char* chip : {"2/16", "5/22da"}) {
    SCOPED_TRACE(chip);
    TestRom t(chip);
    t.pass(milliseconds(5));
    t.erase(0);  // leaves read mode
    if (option(chip).chip->family == FlashFamily::Jedec)
      jedec_sector_erase(t, 0);
    else
      sr_erase(t, 0);
    StateWriter out;
    t.rom.save(out);
    TestRom copy(chip);
    copy.pass(t.now() - copy.now());
    StateReader in(out.bytes(), "test");
    in.str();
    in.u32();
    copy.rom.load_chips(in);
    const TimedCase c{"", chip, 0, nullptr, 0};
    copy.pass(milliseconds(600));
    EXPECT_TRUE(busy_at(copy, c));
    copy.pass(milliseconds(500));
    EXPECT_FALSE(busy_at(copy, c));
  }
}

}  // namespace
}  // namespace kartex::flashtest
