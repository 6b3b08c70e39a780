// The CFI chip models: the query table each part's sheet gives, read
// through a straight board and through one that swaps D0 and D1; the
// write buffer and its aborts; what the swap does to commands and data.

#include <gtest/gtest.h>

#include "sim/cart/cfi_table.h"
#include "sim_flash_support.h"

namespace kartex::flashtest {
namespace {

using namespace flash;

struct SwappedRom {
  SimLog log;
  FlashRom rom;
  explicit SwappedRom(const std::string& label, std::span<const std::uint8_t> contents = {})
      : rom(option(label), option(label).sizes_mib.front(), contents, log, false, true) {}
  std::uint16_t rd(std::uint32_t offset) { return rom.read16(offset); }
  void wr(std::uint32_t offset, std::uint16_t value) { rom.write16(offset, value); }
};

// Table bytes by word address, as the parts' sheets list them
struct TableRow {
  const char* chip;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
};
const TableRow TABLES[] = {
    {"10/2221",
     {{0x10, 'Q'}, {0x11, 'R'}, {0x12, 'Y'}, {0x13, 0x02}, {0x14, 0x00}, {0x15, 0x40}, {0x1B, 0x27}, {0x1C, 0x36},
      {0x1F, 0x06}, {0x20, 0x08}, {0x21, 0x09}, {0x22, 0x10}, {0x23, 0x02}, {0x24, 0x02}, {0x25, 0x03},
      {0x26, 0x02}, {0x27, 0x18}, {0x28, 0x02}, {0x29, 0x00}, {0x2A, 0x06}, {0x2B, 0x00}, {0x2C, 0x01},
      {0x2D, 0x7F}, {0x2E, 0x00}, {0x2F, 0x00}, {0x30, 0x02}}},
    {"10/2222", {{0x22, 0x11}, {0x27, 0x19}, {0x2A, 0x06}, {0x2C, 0x01}, {0x2D, 0xFF}, {0x2E, 0x00}, {0x30, 0x02}}},
    {"10/22f9",
     {{0x10, 'Q'}, {0x13, 0x02}, {0x1F, 0x04}, {0x20, 0x00}, {0x21, 0x0A}, {0x23, 0x05}, {0x25, 0x04},
      {0x27, 0x16}, {0x2A, 0x00}, {0x2C, 0x02}, {0x2D, 0x07}, {0x2E, 0x00}, {0x2F, 0x20}, {0x30, 0x00},
      {0x31, 0x3E}, {0x32, 0x00}, {0x33, 0x00}, {0x34, 0x01}}},
};

TEST(SimCfi, EachPartAnswersTheQueryWithItsSheetsTableAndLeavesOnReset) {
  for (const TableRow& row : TABLES) {
    SCOPED_TRACE(row.chip);
    TestRom t(row.chip);
    t.wr(2 * CFI_QUERY_ADDR, CFI_QUERY);
    for (auto [word, byte] : row.bytes) EXPECT_EQ(t.rd(2 * word), byte) << "word 0x" << std::hex << word;
    t.wr(0, JEDEC_RESET);
    EXPECT_EQ(t.rd(2 * 0x10), 0xFFFF) << "back to the erased array";
    // Also from autoselect, as the sheets allow
    t.jedec(JEDEC_AUTOSELECT);
    t.wr(2 * CFI_QUERY_ADDR, CFI_QUERY);
    EXPECT_EQ(t.rd(2 * 0x11), 'R');
    t.wr(0, JEDEC_RESET);
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

// Status-register parts: 0x98 at any word of a block, from read, identifier
// or status mode; the table at word offsets from that block's start; 0xFF
// back to the array. A JEDEC reset (0xF0) is no command of theirs.
const TableRow SR_TABLES[] = {
    {"10/881b",
     {{0x10, 'Q'}, {0x11, 'R'}, {0x12, 'Y'}, {0x13, 0x01}, {0x14, 0x00}, {0x15, 0x0A}, {0x16, 0x01}, {0x1B, 0x17},
      {0x1C, 0x20}, {0x1D, 0x85}, {0x1E, 0x95}, {0x1F, 0x08}, {0x20, 0x09}, {0x21, 0x0A}, {0x22, 0x00},
      {0x23, 0x01}, {0x24, 0x01}, {0x25, 0x02}, {0x26, 0x00}, {0x27, 0x18}, {0x28, 0x01}, {0x2A, 0x06},
      {0x2C, 0x02}, {0x2D, 0x03}, {0x2E, 0x00}, {0x2F, 0x80}, {0x30, 0x00}, {0x31, 0x7E}, {0x32, 0x00},
      {0x33, 0x00}, {0x34, 0x02}}},
    {"10/8818", {{0x13, 0x01}, {0x27, 0x18}, {0x2C, 0x02}, {0x2D, 0x7E}, {0x2E, 0x00}, {0x2F, 0x00}, {0x30, 0x02},
                 {0x31, 0x03}, {0x32, 0x00}, {0x33, 0x80}, {0x34, 0x00}}},
    // The 256 Mbit members: the same bytes but the size and the main blocks
    {"10/891c", {{0x13, 0x01}, {0x1F, 0x08}, {0x20, 0x09}, {0x21, 0x0A}, {0x23, 0x01}, {0x24, 0x01}, {0x25, 0x02},
                 {0x27, 0x19}, {0x2A, 0x06}, {0x2C, 0x02}, {0x2D, 0x03}, {0x2E, 0x00}, {0x2F, 0x80}, {0x30, 0x00},
                 {0x31, 0xFE}, {0x32, 0x00}, {0x33, 0x00}, {0x34, 0x02}}},
    {"10/8919", {{0x13, 0x01}, {0x27, 0x19}, {0x2C, 0x02}, {0x2D, 0xFE}, {0x2E, 0x00}, {0x2F, 0x00}, {0x30, 0x02},
                 {0x31, 0x03}, {0x32, 0x00}, {0x33, 0x80}, {0x34, 0x00}}},
};

TEST(SimCfi, StatusRegisterPartsAnswerTheQueryAtAnyBlockFromEveryMode) {
  struct Mode {
    const char* name;
    std::uint16_t before;  // the command that sets the mode the query comes from
  };
  const Mode modes[] = {{"read array", CMD_READ_ARRAY}, {"identifier", CMD_READ_ID}, {"status", CMD_READ_STATUS}};
  for (const TableRow& row : SR_TABLES)
    for (const Mode& m : modes)
      for (std::uint32_t block : {0u, 0xA00000u}) {
        SCOPED_TRACE(std::string(row.chip) + " from " + m.name + " at 0x" + std::to_string(block));
        TestRom t(row.chip);
        t.wr(block, m.before);
        t.wr(block + 2 * CFI_QUERY_ADDR, CFI_QUERY);
        for (auto [word, byte] : row.bytes)
          EXPECT_EQ(t.rd(block + 2 * word), byte) << "word 0x" << std::hex << word;
        t.wr(block, CMD_READ_ARRAY);
        EXPECT_EQ(t.rd(block + 2 * 0x10), 0xFFFF) << "back to the erased array";
        EXPECT_EQ(t.log.misuse_count(), 0u);
      }
}

// The described kinds' parts whose sheets list CFI answer the query too:
// each chip of a pair on its own halfwords.
TEST(SimCfi, DescribedPartsWithASheetTableAnswerTheQuery) {
  struct Case {
    const char* chip;
    std::uint32_t chips;  // 2: a pair on alternate halfwords
    std::uint8_t size_log, buffer_log;
  };
  const Case cases[] = {{"2/16", 1, 22, 5},   {"2/17", 1, 23, 5},   {"2/18", 1, 24, 5},  {"3/16", 2, 22, 5},
                        {"3/18", 2, 24, 5},   {"3/8801", 2, 23, 6}, {"3/8802", 2, 24, 6},
                        {"3/8803", 2, 25, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chip);
    TestRom t(c.chip);
    const std::uint32_t step = 2 * c.chips;  // bytes from one word of a chip to its next
    for (std::uint32_t chip = 0; chip < c.chips; ++chip) t.wr(2 * chip, CFI_QUERY);
    for (std::uint32_t chip = 0; chip < c.chips; ++chip) {
      const std::uint32_t at = 2 * chip;
      EXPECT_EQ(t.rd(at + step * 0x10), 'Q') << "chip " << chip;
      EXPECT_EQ(t.rd(at + step * 0x11), 'R');
      EXPECT_EQ(t.rd(at + step * 0x12), 'Y');
      EXPECT_EQ(t.rd(at + step * 0x13), 0x01) << "command set 0x0001";
      EXPECT_EQ(t.rd(at + step * 0x15), 0x31) << "primary table";
      EXPECT_EQ(t.rd(at + step * 0x27), c.size_log);
      EXPECT_EQ(t.rd(at + step * 0x2A), c.buffer_log);
      EXPECT_EQ(t.rd(at + step * 0x2D), (1u << (c.size_log - 17)) - 1) << "blocks less one";
    }
    for (std::uint32_t chip = 0; chip < c.chips; ++chip) t.wr(2 * chip, CMD_READ_ARRAY);
    EXPECT_EQ(t.rd(step * 0x10), 0xFFFF) << "back to the array";
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

// A pair's table byte by byte, read from each chip at its own halfwords:
// the times and supply bytes the agent would size its waits by.
const TableRow PAIR_TABLES[] = {
    {"3/8801",
     {{0x10, 'Q'}, {0x11, 'R'}, {0x12, 'Y'}, {0x13, 0x01}, {0x14, 0x00}, {0x15, 0x31}, {0x16, 0x00}, {0x17, 0x00},
      {0x1B, 0x27}, {0x1C, 0x36}, {0x1D, 0x00}, {0x1E, 0x00}, {0x1F, 0x07}, {0x20, 0x09}, {0x21, 0x0A},
      {0x22, 0x00}, {0x23, 0x02}, {0x24, 0x02}, {0x25, 0x02}, {0x26, 0x00}, {0x27, 0x17}, {0x28, 0x01},
      {0x29, 0x00}, {0x2A, 0x06}, {0x2B, 0x00}, {0x2C, 0x01}, {0x2D, 0x3F}, {0x2E, 0x00}, {0x2F, 0x00},
      {0x30, 0x02}}},
    {"3/8803", {{0x27, 0x19}, {0x2C, 0x01}, {0x2D, 0xFF}, {0x2E, 0x00}, {0x2F, 0x00}, {0x30, 0x02}}},
    // The J3-type pair keeps its own bytes beside the new ones
    {"3/17",
     {{0x13, 0x01}, {0x15, 0x31}, {0x1B, 0x27}, {0x1C, 0x36}, {0x1F, 0x07}, {0x20, 0x07}, {0x21, 0x0A},
      {0x22, 0x00}, {0x23, 0x04}, {0x24, 0x04}, {0x25, 0x04}, {0x26, 0x00}, {0x27, 0x17}, {0x28, 0x02},
      {0x2A, 0x05}, {0x2D, 0x3F}, {0x30, 0x02}}},
};

TEST(SimCfi, EachChipOfAPairAnswersItsTableByteForByte) {
  for (const TableRow& row : PAIR_TABLES)
    for (std::uint32_t chip = 0; chip < 2; ++chip) {
      SCOPED_TRACE(std::string(row.chip) + " chip " + std::to_string(chip));
      TestRom t(row.chip);
      t.wr(2 * chip + 4 * CFI_QUERY_ADDR, CFI_QUERY);
      for (auto [word, byte] : row.bytes)
        EXPECT_EQ(t.rd(2 * chip + 4 * word), byte) << "word 0x" << std::hex << word;
      EXPECT_EQ(t.rd(2 * (1 - chip) + 4 * 0x10), 0xFFFF) << "the other chip still reads its array";
      t.wr(2 * chip, CMD_READ_ARRAY);
      EXPECT_EQ(t.rd(2 * chip + 4 * 0x10), 0xFFFF) << "back to the erased array";
      EXPECT_EQ(t.log.misuse_count(), 0u);
    }
}

// Every table, read through its model, names the model's command set, its
// size and its erase blocks run by run: a table that disagreed would have
// the agent erase and program by the wrong blocks.
TEST(SimCfi, EveryTableDescribesItsModelsSizeAndBlocks) {
  struct Case {
    const char* chip;
    std::uint16_t command_set;
  };
  const Case cases[] = {{"2/16", 1},    {"2/18", 1},    {"3/16", 1},    {"3/8801", 1},  {"3/8802", 1},
                        {"3/8803", 1},  {"10/2221", 2}, {"10/2222", 2}, {"10/22f9", 2}, {"10/881b", 1},
                        {"10/8818", 1}, {"10/891c", 1}, {"10/8919", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chip);
    const RomOption& o = option(c.chip);
    const ChipModel& m = *o.chip;
    TestRom t(c.chip);
    const std::uint32_t step = 2 * o.chips_per_set;
    t.wr(step * CFI_QUERY_ADDR, CFI_QUERY);
    auto byte = [&](std::uint32_t word) -> std::uint32_t { return t.rd(step * word); };
    EXPECT_EQ(byte(0x10), 'Q');
    EXPECT_EQ(byte(0x11), 'R');
    EXPECT_EQ(byte(0x12), 'Y');
    EXPECT_EQ(byte(0x13) | byte(0x14) << 8, c.command_set);
    EXPECT_EQ(1ull << byte(0x27), m.layout.chip_bytes()) << "device size";
    const std::vector<BlockRun> runs = m.layout.runs();
    ASSERT_EQ(byte(0x2C), runs.size()) << "erase block regions";
    std::uint32_t covered = 0;
    for (std::uint32_t i = 0; i < runs.size(); ++i) {
      const std::uint32_t at = 0x2D + 4 * i;
      EXPECT_EQ((byte(at) | byte(at + 1) << 8) + 1, runs[i].count) << "region " << i;
      EXPECT_EQ((byte(at + 2) | byte(at + 3) << 8) * 256, runs[i].bytes) << "region " << i;
      covered += (byte(at) | byte(at + 1) << 8) + 1;
    }
    EXPECT_EQ(covered, m.layout.block_count());
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

TEST(SimCfi, PartsWithoutQueryModeIgnoreTheCommand) {
  for (const char* chip : {"5/22da", "6/22c4"}) {
    SCOPED_TRACE(chip);
    TestRom t(chip);
    t.wr(2 * CFI_QUERY_ADDR, CFI_QUERY);
    EXPECT_EQ(t.rd(2 * 0x10), 0xFFFF);
  }
}

// The agent's waits come from the table: each must cover the model's own
// longest time, or a good chip would be reported as hung.
TEST(SimCfi, TheTablesMaximaCoverTheModelsLongestTimes) {
  for (const char* chip : {"2/16", "3/8801", "3/8802", "3/8803", "10/2221", "10/2222", "10/22f9", "10/881b",
                           "10/8818", "10/891c", "10/8919"}) {
    SCOPED_TRACE(chip);
    const ChipModel& m = *option(chip).chip;
    const CfiTimes c = cfi_times(m.cfi);
    EXPECT_GE(simtime::microseconds(c.word_max_us), m.max_times.word_program);
    EXPECT_GE(simtime::microseconds(c.erase_max_us), std::max(m.max_times.main_erase, m.max_times.param_erase));
    if (m.buffer_words) {
      EXPECT_GE(simtime::microseconds(c.buffer_max_us), m.max_times.buffer(m.buffer_words));
    }
  }
}

TEST(SimCfi, SwappedBoardCrossesD0AndD1BothWays) {
  const std::vector<std::uint8_t> contents = {0x01, 0x02, 0x03, 0xFC};
  SwappedRom t("10/2221", contents);
  // What the console reads is what it loaded; the chip holds it crossed.
  EXPECT_EQ(t.rd(0), 0x0201);
  EXPECT_EQ(t.rd(2), 0xFC03);
  EXPECT_EQ(t.rom.chip(0).cells()[0], 0x0202);
  EXPECT_EQ(t.rom.chip(0).cells()[1], 0xFC03);
  // The query reads crossed: 'Q' 0x51 as 0x52, 'R' as 0x51, 'Y' 0x59 as 0x5A
  t.wr(2 * CFI_QUERY_ADDR, CFI_QUERY);
  EXPECT_EQ(t.rd(0x20), 0x52);
  EXPECT_EQ(t.rd(0x22), 0x51);
  EXPECT_EQ(t.rd(0x24), 0x5A);
  t.wr(0, JEDEC_RESET);
  // An unlock written straight is no unlock: 0xAA reaches the chip as 0xA9.
  t.wr(0xAAA, JEDEC_UNLOCK1);
  t.wr(0x554, JEDEC_UNLOCK2);
  t.wr(0xAAA, JEDEC_AUTOSELECT);
  EXPECT_EQ(t.rd(2), 0xFC03) << "still reading the array";
  // Written crossed it is; the program's data goes through the same lines.
  t.wr(0xAAA, swap_d0d1(JEDEC_UNLOCK1));
  t.wr(0x554, swap_d0d1(JEDEC_UNLOCK2));
  t.wr(0xAAA, swap_d0d1(JEDEC_PROGRAM));
  t.wr(0x100, 0x1235);
  t.log.clock().advance(simtime::milliseconds(1));
  EXPECT_EQ(t.rd(0x100), 0x1235);
  EXPECT_EQ(t.rom.chip(0).cells()[0x80], 0x1236);
  EXPECT_EQ(t.rom.cell(0x100), 0x1235) << "cell() is the console's view";
  EXPECT_EQ(t.log.misuse_count(), 0u) << "0xA9 at 0x555 begins no sequence";
}

// Write buffer: count less one, words of one page, 0x29 at the sector
struct BufferCase {
  const char* name;
  std::uint32_t at;     // byte offset of the first word
  std::uint16_t count;  // words the count announces
  std::uint32_t given;  // words written
  std::uint32_t step;   // bytes between them
  bool confirm_elsewhere;
  bool programs;
};
const BufferCase BUFFERS[] = {
    {"a whole page", 0x20040, 32, 32, 2, false, true},
    {"three words mid-page", 0x2004A, 3, 3, 2, false, true},
    {"count beyond the buffer", 0x20040, 33, 0, 2, false, false},
    {"a word past the page", 0x2007C, 3, 3, 2, false, false},
    {"confirm in another sector", 0x20040, 2, 2, 2, true, false},
};

TEST(SimCfi, WriteBufferProgramsOnePageAndAbortsOtherwise) {
  for (const BufferCase& c : BUFFERS) {
    SCOPED_TRACE(c.name);
    TestRom t("10/2221");
    t.wr(0xAAA, JEDEC_UNLOCK1);
    t.wr(0x554, JEDEC_UNLOCK2);
    t.wr(c.at, JEDEC_WRITE_BUFFER);
    t.wr(c.at, static_cast<std::uint16_t>(c.count - 1));
    for (std::uint32_t i = 0; i < c.given; ++i) t.wr(c.at + i * c.step, static_cast<std::uint16_t>(0x1100 + i));
    t.wr(c.confirm_elsewhere ? c.at + 0x20000 : c.at, JEDEC_BUFFER_CONFIRM);
    if (c.programs) {
      EXPECT_NE(t.rd(c.at), 0x1100) << "busy at first";
      t.pass(simtime::microseconds(250));
      for (std::uint32_t i = 0; i < c.given; ++i) EXPECT_EQ(t.rd(c.at + 2 * i), 0x1100 + i);
      EXPECT_EQ(t.rd(c.at - 2), 0xFFFF) << "the word before the range";
      EXPECT_EQ(t.log.misuse_count(), 0u);
    } else {
      EXPECT_EQ(t.rd(c.at) & DQ1_BUFFER_ABORT, DQ1_BUFFER_ABORT);
      EXPECT_EQ(t.log.misuse_count(), 1u);
      t.wr(0, JEDEC_RESET);
      EXPECT_TRUE(t.rd(c.at) & DQ1_BUFFER_ABORT) << "a plain reset does not leave the abort";
      t.jedec(JEDEC_RESET);
      EXPECT_EQ(t.rd(c.at), 0xFFFF) << "nothing programmed, reading the array again";
    }
  }
}

TEST(SimCfi, BufferProgramTakesTheSheetsTime) {
  for (bool slow : {false, true}) {
    SCOPED_TRACE(slow ? "max" : "typical");
    SimLog log;
    FlashRom rom(option("10/2221"), 16, {}, log, slow);
    const SimTime start = log.clock().now();
    rom.write16(0xAAA, JEDEC_UNLOCK1);
    rom.write16(0x554, JEDEC_UNLOCK2);
    rom.write16(0x40, JEDEC_WRITE_BUFFER);
    rom.write16(0x40, 31);
    for (std::uint32_t i = 0; i < 32; ++i) rom.write16(0x40 + 2 * i, 0);
    rom.write16(0x40, JEDEC_BUFFER_CONFIRM);
    while (rom.read16(0x7E) != 0) log.clock().advance(simtime::microseconds(5));
    const double took = simtime::seconds(log.clock().now() - start) * 1e6;
    EXPECT_GE(took, slow ? 750 : 240);
    EXPECT_LT(took, slow ? 760 : 250);
  }
}

}  // namespace
}  // namespace kartex::flashtest
