// Flash ROM chip models against the behaviour of their command families:
// identifiers, erase blocks, programming that only clears bits, busy time,
// buffered and page programs, locks, pairs, and refused sequences.

#include <gtest/gtest.h>

#include <functional>

#include "sim_flash_support.h"
#include "tests/support/sizes.h"

namespace kartex::flashtest {
namespace {

using test::MiB;

using namespace flash;

// Every row of the identification table: maker, device code, one chip or
// a pair, and the sizes the row's cartridges come in.
struct IdRow {
  const char* chip;
  std::uint16_t maker, device;
  bool pair, jedec;
  std::vector<std::uint32_t> sizes_mib;
  std::uint32_t chip_mbit;
};
const IdRow ID_ROWS[] = {
    {"2/16", 0x89, 0x0016, false, false, {4}, 32},
    {"2/17", 0x89, 0x0017, false, false, {8}, 64},
    {"2/18", 0x89, 0x0018, false, false, {16}, 128},
    {"3/16", 0x89, 0x0016, true, false, {8}, 32},
    {"3/17", 0x89, 0x0017, true, false, {16}, 64},
    {"3/18", 0x89, 0x0018, true, false, {32, 64, 128}, 128},
    {"3/8801", 0x89, 0x8801, true, false, {16, 32}, 64},
    {"3/8802", 0x89, 0x8802, true, false, {32, 64, 128}, 128},
    {"3/8803", 0x89, 0x8803, true, false, {64}, 256},
    {"4/e2", 0xB0, 0x00E2, false, false, {8}, 64},
    {"5/22da", 0x04, 0x22DA, false, true, {1}, 8},
    {"6/22c4", 0x04, 0x22C4, false, true, {2}, 16},
    {"7/8897", 0x89, 0x8897, false, false, {4}, 32},
    {"8/8896", 0x89, 0x8896, true, false, {8, 16}, 32},
    {"8/8897", 0x89, 0x8897, true, false, {8, 16}, 32},
    {"8/88c4", 0x89, 0x88C4, true, false, {8, 16, 32}, 32},
    {"8/88c5", 0x89, 0x88C5, true, false, {8, 16, 32}, 32},
    {"8/88cc", 0x89, 0x88CC, true, false, {16, 32}, 64},
    {"8/88cd", 0x89, 0x88CD, true, false, {16, 32}, 64},
    {"9/20", 0x1C, 0x0020, true, false, {8, 16}, 32},
    {"10/2221", 0x01, 0x227E, false, true, {16}, 128},
    {"10/2222", 0x01, 0x227E, false, true, {32}, 256},
    {"10/22f9", 0x01, 0x22F9, false, true, {4}, 32},
    {"10/881b", 0x89, 0x881B, false, false, {16}, 128},
    {"10/8818", 0x89, 0x8818, false, false, {16}, 128},
    {"10/891c", 0x89, 0x891C, false, false, {32}, 256},
    {"10/8919", 0x89, 0x8919, false, false, {32}, 256},
};

TEST(SimFlash, EveryRowAnswersItsIdentifierInEveryChipAndReturnsToReadMode) {
  EXPECT_EQ(rom_options().size(), std::size(ID_ROWS)) << "a chip= row without a test row";
  for (const IdRow& row : ID_ROWS) {
    EXPECT_EQ(option(row.chip).sizes_mib, row.sizes_mib) << row.chip;
    for (std::uint32_t mib : row.sizes_mib) {
      SCOPED_TRACE(std::string(row.chip) + " " + std::to_string(mib) + " MiB");
      TestRom t(row.chip, mib);
      ASSERT_EQ(t.rom.span(), mib * MiB);
      EXPECT_EQ(t.rom.chip_count(), mib * 8 / row.chip_mbit);
      for (std::size_t i = 0; i < t.rom.chip_count(); ++i)
        EXPECT_EQ(t.rom.chip(i).cells().size() * 16, row.chip_mbit * MiB) << "chip " << i;
      const std::uint32_t set = option(row.chip).set_bytes();
      for (std::uint32_t base = 0; base < mib * MiB; base += set) {
        if (row.jedec) {
          t.jedec(JEDEC_AUTOSELECT);
          EXPECT_EQ(t.rd(base), row.maker);
          EXPECT_EQ(t.rd(base + 2), row.device);
          t.wr(base, JEDEC_RESET);
        } else if (row.pair) {
          t.wr(base, CMD_READ_ID);
          t.wr(base + 2, CMD_READ_ID);
          EXPECT_EQ(t.rd(base), row.maker) << "even chip at " << std::hex << base;
          EXPECT_EQ(t.rd(base + 2), row.maker) << "odd chip";
          EXPECT_EQ(t.rd(base + 4), row.device) << "even chip";
          EXPECT_EQ(t.rd(base + 6), row.device) << "odd chip";
          t.wr(base, CMD_READ_ARRAY);
          t.wr(base + 2, CMD_READ_ARRAY);
        } else {
          t.wr(base, CMD_READ_ID);
          EXPECT_EQ(t.rd(base), row.maker);
          EXPECT_EQ(t.rd(base + 2), row.device);
          t.wr(base, CMD_READ_ARRAY);
        }
        EXPECT_EQ(t.rd(base + 4), 0xFFFF) << "not back in read mode at " << std::hex << base;
      }
      EXPECT_EQ(t.log.misuse_count(), 0u);
    }
  }
}

// An erase at `at` clears exactly [start, start + bytes) of the chip hit;
// on a pair only that chip's halfwords.
struct EraseCase {
  const char* chip;
  std::uint32_t mib, at, start, bytes;
};
const EraseCase ERASES[] = {
    {"2/17", 8, 0x20100, 0x20000, 0x20000},      // uniform 128 KiB
    {"3/16", 8, 0x40002, 0x40000, 0x40000},      // odd chip of a pair: 2 x 128 KiB
    {"4/e2", 8, 0x3F2000, 0x3F2000, 0x2000},     // 8 KiB parameter block, top of the first half
    {"4/e2", 8, 0x3EFFFE, 0x3E0000, 0x10000},    // the main block below it
    {"4/e2", 8, 0x7FE000, 0x7FE000, 0x2000},     // last parameter block
    {"4/e2", 8, 0x400000, 0x400000, 0x10000},    // first block of the second half
    {"7/8897", 4, 0x2000, 0x2000, 0x2000},       // bottom parameter blocks
    {"7/8897", 4, 0xE000, 0xE000, 0x2000},
    {"7/8897", 4, 0x10000, 0x10000, 0x10000},    // first main block
    {"7/8897", 4, 0x3F0000, 0x3F0000, 0x10000},
    {"8/8896", 8, 0x7FC000, 0x7FC000, 0x4000},   // top parameter block, 8 KiB per chip
    {"8/8896", 8, 0x7E0000, 0x7E0000, 0x4000},   // lowest parameter block
    {"8/8896", 8, 0x7C0002, 0x7C0000, 0x20000},  // main block under them, odd chip
    {"8/88c5", 8, 0x4000, 0x4000, 0x4000},       // bottom boot, locked at power-up
    {"8/88c5", 8, 0x20000, 0x20000, 0x20000},
    {"8/88cc", 16, 0xFFC002, 0xFFC000, 0x4000},  // 64 Mbit top boot, odd chip
    {"9/20", 8, 0x7FE000, 0x7FC000, 0x4000},
    {"3/8802", 32, 0x1FC0000, 0x1FC0000, 0x40000},
    {"5/22da", 1, 0xF0000, 0xF0000, 0x8000},     // JEDEC top boot: 32, 8, 8, 16 KiB
    {"5/22da", 1, 0xF8000, 0xF8000, 0x2000},
    {"5/22da", 1, 0xFA000, 0xFA000, 0x2000},
    {"5/22da", 1, 0xFC000, 0xFC000, 0x4000},
    {"5/22da", 1, 0x10000, 0x10000, 0x10000},
    {"6/22c4", 2, 0x1F0000, 0x1F0000, 0x8000},
    {"6/22c4", 2, 0x1FC000, 0x1FC000, 0x4000},
    {"6/22c4", 2, 0x1E0000, 0x1E0000, 0x10000},
};

TEST(SimFlash, EraseSetsExactlyTheBlockToOnes) {
  for (const EraseCase& c : ERASES) {
    SCOPED_TRACE(std::string(c.chip) + " erase at " + std::to_string(c.at));
    const std::vector<std::uint8_t> zeros(c.mib * MiB, 0);
    TestRom t(c.chip, c.mib, zeros);
    const bool pair = option(c.chip).chips_per_set == 2;
    if (option(c.chip).chip->locked_at_power_up) t.unlock_block(c.at);
    t.erase(c.at);
    std::uint32_t wrong = 0;
    for (std::uint32_t o = 0; o < c.mib * MiB; o += 2) {
      const bool same_chip = !pair || ((o ^ c.at) & 2) == 0;
      const bool erased = same_chip && o >= c.start && o < c.start + c.bytes;
      if (t.rom.cell(o) != (erased ? 0xFFFF : 0x0000) && wrong++ < 4)
        ADD_FAILURE() << std::hex << "at 0x" << o << ": 0x" << t.rom.cell(o);
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

TEST(SimFlash, ProgrammingOnlyClearsBits) {
  struct Case {
    std::uint16_t old_value, program, result;
  };
  const Case cases[] = {{0xFF0F, 0x00F0, 0x0000}, {0xFFFF, 0xA5A5, 0xA5A5}, {0xF0F0, 0x3C3C, 0x3030}};
  // (JEDEC parts time out instead: see the DQ5 test.)
  for (const char* chip : {"2/16", "3/16", "4/e2", "7/8897", "8/8896", "9/20"}) {
    SCOPED_TRACE(chip);
    std::vector<std::uint8_t> rom;
    for (const Case& c : cases) {
      rom.push_back(static_cast<std::uint8_t>(c.old_value));
      rom.push_back(static_cast<std::uint8_t>(c.old_value >> 8));
    }
    TestRom t(chip, 0, rom);
    if (option(chip).chip->locked_at_power_up) t.unlock_block(0);
    for (std::uint32_t i = 0; i < std::size(cases); ++i) t.program(2 * i, cases[i].program);
    for (std::uint32_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(t.rd(2 * i), cases[i].result) << i;
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
  // A status-register chip leaves a 0 bit alone when told to write 1.
  const std::uint8_t written[] = {0x34, 0x12};
  TestRom t("2/16", 0, written);
  t.program(0, 0xFFFF);
  EXPECT_EQ(t.rd(0), 0x1234);
}

// Each operation: the first status read shows busy, a later one ready.
TEST(SimFlash, OperationsStayBusyForSomeStatusReadsThenReady) {
  struct Case {
    const char* name;
    const char* chip;
    std::function<void(TestRom&)> start;
  };
  const Case cases[] = {
      {"word program", "2/16", [](TestRom& t) { t.wr(0x100, CMD_WORD_PROGRAM); t.wr(0x100, 0x1234); }},
      {"block erase", "7/8897", [](TestRom& t) { t.wr(0x100, CMD_BLOCK_ERASE); t.wr(0x100, CMD_CONFIRM); }},
      {"buffered write", "2/17",
       [](TestRom& t) {
         t.wr(0x100, CMD_BUFFERED_WRITE);
         t.wr(0x100, 0);  // one word
         t.wr(0x100, 0x1234);
         t.wr(0x100, CMD_CONFIRM);
       }},
      {"page program", "9/20",
       [](TestRom& t) {
         t.wr(0x100, CMD_PAGE_PROGRAM);
         for (std::uint32_t i = 0; i < 128; ++i) t.wr(i * 4, 0x1234);  // even chip's first page
       }},
      {"lock bits cleared", "2/16", [](TestRom& t) { t.wr(0x100, CMD_LOCK_SETUP); t.wr(0x100, CMD_CONFIRM); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRom t(c.chip);
    c.start(t);
    EXPECT_EQ(t.rd(0x100) & SR_READY, 0) << "finished at once";
    EXPECT_GT(t.wait_ready(0x100), 0u);
    EXPECT_EQ(t.rd(0x100), SR_READY) << "status mode until read array, no error";
    t.wr(0x100, CMD_READ_ARRAY);
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

TEST(SimFlash, JedecTogglesBit6WhileBusyThenReadsData) {
  TestRom t("5/22da");
  t.jedec(JEDEC_PROGRAM);
  t.wr(0x2000, 0x0034);  // bit 7 of the data is 0
  const std::uint16_t a = t.rd(0x2000), b = t.rd(0x2000);
  EXPECT_NE(a & DQ6_TOGGLE, b & DQ6_TOGGLE) << "DQ6 did not toggle";
  EXPECT_EQ(a & DQ7_POLL, DQ7_POLL) << "DQ7 shows the complement of the data's bit 7";
  EXPECT_EQ(a & DQ5_TIMEOUT, 0);
  t.wait_toggle(0x2000);
  EXPECT_EQ(t.rd(0x2000), 0x0034);
  EXPECT_EQ(t.rd(0x2000), 0x0034);

  t.jedec(JEDEC_ERASE_SETUP);
  t.wr(0xAAA, JEDEC_UNLOCK1);
  t.wr(0x554, JEDEC_UNLOCK2);
  t.wr(0x2000, JEDEC_SECTOR_ERASE);
  const std::uint16_t e = t.rd(0x2000);
  EXPECT_EQ(e & DQ7_POLL, 0) << "DQ7 reads 0 while erasing";
  EXPECT_NE(e & DQ6_TOGGLE, t.rd(0x2000) & DQ6_TOGGLE);
  EXPECT_GT(t.wait_toggle(0x2000), 0u);
  EXPECT_EQ(t.rd(0x2000), 0xFFFF);
  EXPECT_EQ(t.log.misuse_count(), 0u);
}

TEST(SimFlash, JedecProgramOfAOneOverAZeroTimesOutUntilReset) {
  const std::uint8_t zero[] = {0x00, 0x00};
  TestRom t("6/22c4", 0, zero);
  t.jedec(JEDEC_PROGRAM);
  t.wr(0, 0x00FF);
  bool timed_out = false;
  for (int i = 0; i < 100 && !timed_out; ++i, t.pass(simtime::microseconds(10)))
    timed_out = (t.rd(0) & DQ5_TIMEOUT) != 0;
  EXPECT_TRUE(timed_out) << "DQ5 never rose";
  EXPECT_NE(t.rd(0) & DQ6_TOGGLE, t.rd(0) & DQ6_TOGGLE) << "still toggling after the time-out";
  EXPECT_EQ(t.log.misuse_count(), 1u);
  t.wr(0, JEDEC_RESET);
  EXPECT_EQ(t.rd(0), 0x0000) << "the cell keeps its zeros";
}

TEST(SimFlash, BufferedWriteProgramsTheCountedWordsAfterTheConfirm) {
  TestRom t("2/17");
  const std::uint32_t a = 0x40020;  // 16 words from here
  t.wr(a, CMD_BUFFERED_WRITE);
  EXPECT_EQ(t.rd(a) & SR_READY, SR_READY) << "a buffer is free";
  t.wr(a, 0x0F);
  for (std::uint16_t i = 0; i < 16; ++i) t.wr(a + 2 * i, static_cast<std::uint16_t>(0x1000 + i));
  EXPECT_EQ(t.rom.cell(a), 0xFFFF) << "programmed before the confirm";
  t.wr(a + 30, CMD_CONFIRM);
  t.wait_ready(a);
  t.wr(a, CMD_READ_ARRAY);
  for (std::uint16_t i = 0; i < 16; ++i) EXPECT_EQ(t.rd(a + 2 * i), 0x1000 + i);
  EXPECT_EQ(t.rd(a + 32), 0xFFFF);
  EXPECT_EQ(t.rd(a - 2), 0xFFFF);
  EXPECT_EQ(t.log.misuse_count(), 0u);

  // A pair takes 32 words for each chip on the 32-word parts.
  TestRom p("3/8802");
  p.unlock_block(0);
  p.unlock_block(2);
  for (std::uint32_t chip : {0u, 2u}) {
    p.wr(chip, CMD_BUFFERED_WRITE);
    p.wr(chip, 0x1F);
    for (std::uint16_t i = 0; i < 32; ++i) p.wr(chip + 4 * i, static_cast<std::uint16_t>(chip << 8 | i));
    p.wr(chip, CMD_CONFIRM);
    p.wait_ready(chip);
    p.wr(chip, CMD_READ_ARRAY);
  }
  for (std::uint16_t h = 0; h < 64; ++h)
    EXPECT_EQ(p.rd(2 * h), ((h & 1) << 9) | (h >> 1)) << "halfword " << h;
  EXPECT_EQ(p.log.misuse_count(), 0u);
}

TEST(SimFlash, BufferedWriteSequencesThePartRefuses) {
  struct Case {
    const char* name;
    std::function<void(TestRom&)> drive;
  };
  const Case cases[] = {
      {"count larger than the buffer",
       [](TestRom& t) { t.wr(0, CMD_BUFFERED_WRITE); t.wr(0, CMD_READ_STATUS); t.wr(0, 0x0F); }},
      {"word outside the counted range",
       [](TestRom& t) { t.wr(0, CMD_BUFFERED_WRITE); t.wr(0, 1); t.wr(0, 0); t.wr(8, 0); }},
      {"no confirm", [](TestRom& t) { t.wr(0, CMD_BUFFERED_WRITE); t.wr(0, 0); t.wr(0, 0); t.wr(0, 0xFF); }},
      {"count in another block", [](TestRom& t) { t.wr(0, CMD_BUFFERED_WRITE); t.wr(0x20000, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRom t("2/16");
    c.drive(t);
    EXPECT_EQ(t.log.misuse_count(), 1u);
    EXPECT_EQ(t.rd(0) & (SR_ERASE_ERROR | SR_PROGRAM_ERROR), SR_ERASE_ERROR | SR_PROGRAM_ERROR);
    t.wr(0, CMD_CLEAR_STATUS);
    EXPECT_EQ(t.rd(0), SR_READY);
    t.wr(0, CMD_READ_ARRAY);
    EXPECT_EQ(t.rd(0), 0xFFFF) << "nothing programmed";
  }
}

TEST(SimFlash, PageProgramWritesTheWholePageAfterItsLastWord) {
  TestRom t("9/20");
  const std::uint32_t page = 0x400;  // even chip, word 0x100: its third page
  t.wr(page, CMD_PAGE_PROGRAM);
  t.wr(page + 2, CMD_PAGE_PROGRAM);
  for (std::uint16_t i = 0; i < 256; ++i) {
    // Halfword 254 is the even chip's 128th word, 255 the odd chip's.
    if (i == 254) {
      EXPECT_EQ(t.rom.cell(page), 0xFFFF) << "programmed before the page was full";
    } else if (i == 255) {
      EXPECT_EQ(t.rom.cell(page + 2), 0xFFFF) << "odd chip programmed early";
      EXPECT_EQ(t.rom.cell(page), 0x0000) << "even chip's full page not programmed";
    }
    t.wr(page + 2 * i, i);
  }
  t.wait_ready(page);
  t.wait_ready(page + 2);
  t.wr(page, CMD_READ_ARRAY);
  t.wr(page + 2, CMD_READ_ARRAY);
  for (std::uint16_t i = 0; i < 256; ++i) EXPECT_EQ(t.rd(page + 2 * i), i);
  EXPECT_EQ(t.rd(page + 512), 0xFFFF);
  EXPECT_EQ(t.log.misuse_count(), 0u);

  TestRom bad("9/20");
  bad.wr(0, CMD_PAGE_PROGRAM);
  bad.wr(0, 1);
  bad.wr(4 * 128, 2);  // the even chip's next page
  EXPECT_EQ(bad.log.misuse_count(), 1u);
  EXPECT_EQ(bad.rd(0) & SR_PROGRAM_ERROR, SR_PROGRAM_ERROR);
}

TEST(SimFlash, BlocksLockedAtPowerUpRefuseUntilUnlocked) {
  for (const char* chip : {"3/8801", "3/8802", "8/88c4", "8/88cd"}) {
    SCOPED_TRACE(chip);
    const std::vector<std::uint8_t> zeros(0x100000, 0);
    TestRom t(chip, 0, zeros);
    t.wr(0x40, CMD_WORD_PROGRAM);
    t.wr(0x40, 0x0000);
    t.wait_ready(0x40);
    t.wr(0x80, CMD_BLOCK_ERASE);
    t.wr(0x80, CMD_CONFIRM);
    t.wait_ready(0x80);
    EXPECT_EQ(t.rd(0x80), SR_READY | SR_ERASE_ERROR | SR_PROGRAM_ERROR | SR_BLOCK_LOCKED);
    EXPECT_EQ(t.log.misuse_count(), 2u);
    t.wr(0x80, CMD_READ_ID);
    EXPECT_EQ(t.rd(0x8) & ID_LOCK_LOCKED, ID_LOCK_LOCKED) << "identifier mode shows the lock";
    t.wr(0, CMD_CLEAR_STATUS);
    t.wr(0, CMD_READ_ARRAY);
    EXPECT_EQ(t.rom.cell(0x80), 0x0000) << "erased a locked block";

    t.unlock_block(0x80);  // the even chip's first block only
    t.erase(0x80);
    EXPECT_EQ(t.rd(0x80), 0xFFFF);
    EXPECT_EQ(t.rd(0x82), 0x0000) << "the odd chip's block was unlocked too";
    t.erase(0x82);
    EXPECT_EQ(t.rd(0x82), 0x0000);
    EXPECT_EQ(t.log.misuse_count(), 3u);
  }
}

// A program into a locked block is refused with the status bits either
// way; only one that would clear bits is a misuse: all ones changes no
// cell locked or not (what a probe gives a set-up code it did not mean).
TEST(SimFlash, ALockedBlockRefusesEveryProgramAndOnlyOneThatClearsBitsIsAMisuse) {
  struct Case {
    const char* chip;
    std::uint16_t value;
    std::uint64_t misuses;
  };
  const Case cases[] = {{"10/891c", 0xFFFF, 0}, {"10/891c", 0x0050, 1}, {"3/8801", 0xFFFF, 0}, {"3/8801", 0x1234, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.chip) + " " + std::to_string(c.value));
    const std::vector<std::uint8_t> old(0x100, 0x5A);
    TestRom t(c.chip, 0, old);
    t.wr(0x40, 0x10);  // the other program set-up code
    t.wr(0x40, c.value);
    t.wait_ready(0x40);
    EXPECT_EQ(t.rd(0x40), SR_READY | SR_PROGRAM_ERROR | SR_BLOCK_LOCKED);
    EXPECT_EQ(t.log.misuse_count(), c.misuses);
    t.wr(0, CMD_CLEAR_STATUS);
    t.wr(0, CMD_READ_ARRAY);
    for (std::uint32_t at : {0x3Eu, 0x40u, 0x42u}) EXPECT_EQ(t.rom.cell(at), 0x5A5A) << "at " << at;
  }
}

TEST(SimFlash, LockDownHoldsAndSingleClearReleasesAllNonVolatileBits) {
  TestRom t("8/88c4");
  t.wr(0, CMD_LOCK_SETUP);
  t.wr(0, CMD_LOCK_DOWN);
  t.unlock_block(0);
  EXPECT_EQ(t.log.misuse_count(), 1u) << "unlock of a locked-down block";
  t.program(0, 0);
  EXPECT_EQ(t.rom.cell(0), 0xFFFF);

  // Lock bits that one 0x60 0xD0 clears everywhere.
  const std::vector<std::uint8_t> zeros(0x80000, 0);
  TestRom j("2/16", 0, zeros);
  j.erase(0x20000);
  EXPECT_EQ(j.rom.cell(0x20000), 0xFFFF) << "blocks open at power-up";
  for (std::uint32_t b : {0x40000u, 0x60000u}) {
    j.wr(b, CMD_LOCK_SETUP);
    j.wr(b, CMD_LOCK_BLOCK);
    j.wait_ready(b);
  }
  j.wr(0x40000, CMD_BLOCK_ERASE);
  j.wr(0x40000, CMD_CONFIRM);
  j.wait_ready(0x40000);
  EXPECT_EQ(j.rd(0x40000) & SR_BLOCK_LOCKED, SR_BLOCK_LOCKED);
  EXPECT_EQ(j.rom.cell(0x40000), 0x0000);
  j.wr(0, CMD_CLEAR_STATUS);
  j.wr(0, CMD_LOCK_SETUP);
  j.wr(0, CMD_CONFIRM);
  j.wait_ready(0);
  j.erase(0x40000);
  j.erase(0x60000);
  EXPECT_EQ(j.rom.cell(0x40000), 0xFFFF);
  EXPECT_EQ(j.rom.cell(0x60000), 0xFFFF);
  EXPECT_EQ(j.log.misuse_count(), 1u);
}

TEST(SimFlash, CommandsToOneChipOfAPairLeaveTheOtherAlone) {
  const std::uint8_t data[] = {0x11, 0x11, 0x22, 0x22, 0x33, 0x33, 0x44, 0x44};
  TestRom t("8/8897", 0, data);
  t.wr(0, CMD_READ_ID);
  EXPECT_EQ(t.rd(0), 0x89);
  EXPECT_EQ(t.rd(2), 0x2222) << "odd chip left read mode";
  EXPECT_EQ(t.rd(4), 0x8897);
  EXPECT_EQ(t.rd(6), 0x4444);
  t.wr(2, CMD_WORD_PROGRAM);
  t.wr(2, 0x0202);
  EXPECT_EQ(t.rd(0), 0x89) << "even chip left identifier mode";
  t.wait_ready(2);
  t.wr(2, CMD_READ_ARRAY);
  t.wr(0, CMD_READ_ARRAY);
  EXPECT_EQ(t.rd(0), 0x1111);
  EXPECT_EQ(t.rd(2), 0x0202);
  EXPECT_EQ(t.log.misuse_count(), 0u);
}

TEST(SimFlash, RefusedSequencesAreLoggedAndTheChipGoesBackToReading) {
  struct Case {
    const char* name;
    const char* chip;
    std::function<void(TestRom&)> drive;
    std::uint16_t after;  // what offset 0 reads next (status or array)
  };
  const std::uint16_t error_status = SR_READY | SR_ERASE_ERROR | SR_PROGRAM_ERROR;
  const Case cases[] = {
      {"erase set-up then read array", "7/8897", [](TestRom& t) { t.wr(0, CMD_BLOCK_ERASE); t.wr(0, 0xFF); },
       error_status},
      {"lock set-up then garbage", "8/88c4", [](TestRom& t) { t.wr(0, CMD_LOCK_SETUP); t.wr(0, 0x12); },
       error_status},
      {"confirm without set-up", "2/16", [](TestRom& t) { t.wr(0, CMD_CONFIRM); }, 0x5A5A},
      {"write while busy", "2/16",
       [](TestRom& t) { t.wr(0, CMD_BLOCK_ERASE); t.wr(0, CMD_CONFIRM); t.wr(0, CMD_READ_ARRAY); t.wait_ready(0); },
       SR_READY},
      {"JEDEC unlock broken", "5/22da", [](TestRom& t) { t.wr(0xAAA, 0xAA); t.wr(0x554, 0x12); }, 0x5A5A},
      {"JEDEC unknown command", "6/22c4", [](TestRom& t) { t.jedec(0x12); }, 0x5A5A},
      {"JEDEC erase without second prefix", "5/22da",
       [](TestRom& t) { t.jedec(JEDEC_ERASE_SETUP); t.wr(0, JEDEC_SECTOR_ERASE); }, 0x5A5A},
      {"JEDEC write while busy", "5/22da",
       [](TestRom& t) { t.jedec(JEDEC_PROGRAM); t.wr(0x10, 0); t.wr(0x10, JEDEC_RESET); t.wait_toggle(0x10); },
       0x5A5A},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint8_t data[] = {0x5A, 0x5A};
    TestRom t(c.chip, 0, data);
    c.drive(t);
    EXPECT_EQ(t.log.misuse_count(), 1u);
    EXPECT_EQ(t.rd(0), c.after);
    ASSERT_FALSE(t.log.misuses().empty());
    EXPECT_EQ(t.log.misuses()[0].rfind("flash ROM " + std::string(c.chip), 0), 0u) << t.log.misuses()[0];
  }
}

// The mapper's unlock values reach a chip on a board without the mapper; a
// status-register part takes each as an invalid command (the command
// sequence error, status shown) and so does a command it lacks. Nothing is
// logged: the part cannot tell a stray write from a mistake. A JEDEC part
// starts no sequence. The cells never change.
TEST(SimFlash, ValuesThatAreNoCommandSetTheSequenceErrorAndChangeNoCell) {
  struct Case {
    const char* name;
    const char* chip;
    std::vector<std::uint16_t> values;
    bool status_register;
  };
  const std::vector<std::uint16_t> mapper_values = {0x5354, 0x1234, 0x5678, 0xABCD, 0x9413};
  const Case cases[] = {
      {"mapper unlock values", "3/8802", mapper_values, true},
      {"mapper unlock values", "9/20", mapper_values, true},
      {"mapper unlock values", "5/22da", mapper_values, false},
      {"buffer command on a part without buffer", "7/8897", {CMD_BUFFERED_WRITE}, true},
      {"page program on a part without it", "2/16", {CMD_PAGE_PROGRAM}, true},
      {"lock command on a part without locks", "8/8896", {CMD_LOCK_SETUP}, true},
  };
  const std::uint16_t error_status = SR_READY | SR_ERASE_ERROR | SR_PROGRAM_ERROR;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " on " + c.chip);
    const std::uint8_t data[] = {0x5A, 0x5A};
    TestRom t(c.chip, 0, data);
    for (std::uint16_t v : c.values) t.wr(0, v);
    EXPECT_EQ(t.rd(0), c.status_register ? error_status : 0x5A5A);
    t.wr(0, CMD_READ_ARRAY);
    EXPECT_EQ(t.rd(0), 0x5A5A);
    if (c.status_register) {
      t.wr(0, CMD_READ_STATUS);
      EXPECT_EQ(t.rd(0), error_status) << "the error bits stay until Clear Status";
      t.wr(0, CMD_CLEAR_STATUS);
      EXPECT_EQ(t.rd(0), SR_READY);
    }
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

}  // namespace
}  // namespace kartex::flashtest
