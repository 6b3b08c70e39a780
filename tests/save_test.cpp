// The save memory commands on the wire: the request of each save type,
// whole blocks, each block read checked (the console's CRC of a memory-mapped
// save, a second read of an EEPROM) and read again when it arrived
// corrupted, acknowledgements, the verify after a write, clipping and the
// boundary rules.

#include <gtest/gtest.h>

#include "cart/agent_crc.h"
#include "cart/save_plan.h"
#include "tests/support/body_fixture.h"
#include "tests/support/rom_wire.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t REQ_SAVE_CRC = 0xFFFF0031;
constexpr std::uint32_t REQ_SAVE_WRITE_CHECKED_CODE = 0xFFFF0039;
constexpr std::uint32_t REQ_SAVE_WRITE_AHEAD_CODE = 0xFFFF0040;
constexpr std::uint32_t AHEAD_BLOCKS = 2;  // asked first, and summed ahead by each run

CartInfo save_cart(std::int32_t save_type, std::uint32_t variant = 1) {
  CartInfo cart = cart_of(1, 0x400000, 0, variant);
  cart.save_type = save_type;
  derive_save_geometry(cart);
  return cart;
}

bool is_eeprom(std::int32_t save_type) { return save_type == 4 || save_type == 5; }

// The report's lines after a save read of `data`.
std::string crc_line(const Bytes& data, unsigned rereads = 0) { return digest_lines(data, rereads); }

TEST(SaveRead, EachTypeReadsWholeBlocksWithItsRequestAndChecksThem) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::uint32_t variant;
    Range range;
    std::uint32_t code, first_address, first_offset, block;
    int blocks;
    const char* line;
    std::uint32_t keep_from = 0, keep = 0;  // the bytes of the blocks that reach the file (0: all)
  };
  const Case cases[] = {
      {"EEP4K whole: read twice", 4, 1, {}, 0xFFFF000E, 0, 0, 0x200, 1, "0x200 bytes reading.\n"},
      {"EEP64K whole: read twice", 5, 1, {}, 0xFFFF000E, 0, 0, 0x2000, 1, "0x2000 bytes reading.\n"},
      {"SRAM256K length 100 reads a whole block and keeps 100 bytes", 1, 1, {0, 100}, 0xFFFF000D, 0, 0,
       0x1000, 1, "0x64 bytes reading.\n", 0, 100},
      {"FLASH1M range", 6, 1, {0x3000, 0x2000}, 0xFFFF000D, 0x3000, 0x3000, 0x1000, 2,
       "0x2000 bytes reading.\n"},
      {"FLASH8M through the console's address space, CRCs by save offset", 7, 1, {}, 0xFFFF0006,
       0x09F00000, 0, 0x2000, 127, "0xFE000 bytes reading.\n"},
      {"SRAM8M on variant 2", 2, 2, {0x80000, 0x2000}, 0xFFFF000D, 0x80000, 0x80000, 0x1000, 2,
       "0x2000 bytes reading.\n"},
      {"SRAM256K off a block boundary: the blocks around the range", 1, 1, {0x10, 0x1000}, 0xFFFF000D,
       0, 0, 0x1000, 2, "0x1000 bytes reading.\n", 0x10, 0x1000},
      {"SRAM2M across a bank boundary: whole blocks of each bank", 2, 0, {0xF800, 0x1000}, 0xFFFF000D,
       0xF000, 0xF000, 0x1000, 2, "0x1000 bytes reading.\n", 0x800, 0x1000},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    Bytes expected;
    for (int i = 0; i < tc.blocks; ++i) {
      const Bytes data = pattern(tc.block, static_cast<std::uint8_t>(i * 13));
      b.c.request(tc.code, tc.first_address + i * tc.block, tc.block, 0).read(data);
      if (is_eeprom(tc.save_type))
        b.c.request(tc.code, tc.first_address + i * tc.block, tc.block, 0).read(data);
      else
        b.c.request(REQ_SAVE_CRC, tc.first_offset + i * tc.block, tc.block, tc.block).read(le32(crc_of(data)));
      expected.insert(expected.end(), data.begin(), data.end());
    }
    if (tc.keep)
      expected = Bytes(expected.begin() + tc.keep_from, expected.begin() + tc.keep_from + tc.keep);
    b.run([&] { save_read(b.s.link, save_cart(tc.save_type, tc.variant), tc.range, b.sink, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.sink.data, expected);
    EXPECT_EQ(b.out.str(), tc.line + std::string(static_cast<std::size_t>(tc.blocks), 'R') + "\n" +
                               crc_line(expected));
  }
}

TEST(SaveRead, ABlockThatArrivesCorruptedIsReadAgain) {
  // The last block read is scripted (a memory-mapped save's second block,
  // an EEPROM's only one): each entry is one try, true when its bytes
  // arrive corrupted. A memory-mapped try is a read and the console's CRC
  // of the block; an EEPROM try is two reads, the corrupted one first.
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::uint32_t code, address_base;
    std::vector<bool> tries;
    const char* failure;
  };
  const Case cases[] = {
      {"SRAM256K corrupted once", 1, 0xFFFF000D, 0, {true, false}, ""},
      {"FLASH512K corrupted twice", 3, 0xFFFF000D, 0, {true, true, false}, ""},
      {"FLASH8M corrupted once", 7, 0xFFFF0006, 0x09F00000, {true, false}, ""},
      {"EEP64K: two reads that differ, then two that agree", 5, 0xFFFF000E, 0, {true, false}, ""},
      {"SRAM256K corrupted three times", 1, 0xFFFF000D, 0, {true, true, true},
       "the save block at 0x1000 arrived corrupted 3 times over the link; giving up (check the "
       "cable and the cartridge's contacts)"},
      {"EEP4K: three pairs that differ", 4, 0xFFFF000E, 0, {true, true, true},
       "the save block at 0x0 arrived corrupted 3 times over the link; giving up (check the "
       "cable and the cartridge's contacts)"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const CartInfo cart = save_cart(tc.save_type);
    const auto block = static_cast<std::uint32_t>(cart.save_block);
    const bool eeprom = is_eeprom(tc.save_type);
    auto read = [&](std::uint32_t offset, const Bytes& data) {
      b.c.request(tc.code, tc.address_base + offset, block, 0).read(data);
    };
    auto check = [&](std::uint32_t offset, const Bytes& truth) {
      if (eeprom) read(offset, truth);
      else b.c.request(REQ_SAVE_CRC, offset, block, block).read(le32(crc_of(truth)));
    };
    Bytes whole;  // the blocks before the scripted one, arrived whole
    if (!eeprom) {
      whole = pattern(block, 0x10);
      read(0, whole);
      check(0, whole);
    }
    const auto last = static_cast<std::uint32_t>(whole.size());
    const Bytes truth = pattern(block, 0x20);
    std::size_t at = 3;
    for (bool corrupt : tc.tries) {
      read(last, corrupt ? flipped(truth, at += 17) : truth);
      check(last, truth);
    }
    const std::uint32_t length = last + block;
    b.run([&] { save_read(b.s.link, cart, {0, static_cast<std::int32_t>(length)}, b.sink, b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    // One mark per block, however often it was read.
    const std::string line =
        strprintf("0x%X bytes reading.\n", length) + std::string(length / block, 'R');
    if (*tc.failure) {
      EXPECT_EQ(b.out.str(), line);
      EXPECT_EQ(b.sink.data, whole);
    } else {
      EXPECT_EQ(b.sink.data, concat({whole, truth}));
      const auto rereads = static_cast<unsigned>(tc.tries.size() - 1);
      EXPECT_EQ(b.out.str(), line + "\n" + crc_line(concat({whole, truth}), rereads));
    }
  }
}

TEST(SaveRead, RangesOutsideTheSaveMemoryAreRefusedBeforeAnyRequest) {
  struct Case {
    std::int32_t save_type;
    Range range;
    const char* failure;
  };
  const Case cases[] = {
      {1, {0x9000, 0x1000}, "start offset 0x9000 lies beyond the end of the 0x8000-byte save memory"},
      {1, {0x7800, 0x1000},
       "0x1000 bytes from 0x7800 do not fit the 0x8000-byte save memory: the range that fits is 0x7800 0x800"},
      {4, {0, 0x201}, "0x201 bytes from 0x0 do not fit the 0x200-byte save memory: the range that fits is 0x0 0x200"},
      {1, {0x100, 0}, "nothing to do: the length is 0 (give at least one byte)"},
      {0, {}, "no save memory was found on this cartridge: nothing can be read"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.failure);
    Body b;
    b.run([&] { save_read(b.s.link, save_cart(tc.save_type), tc.range, b.sink, b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done());
    EXPECT_EQ(b.out.str(), "");
    EXPECT_TRUE(b.sink.data.empty());
  }
}

// One save block write: the block with its check word over its bytes,
// offset and count, answered `reply`.
void expect_save_block(ScriptedCable& c, std::uint32_t offset, const Bytes& block,
                       std::uint32_t reply = 0x12345678) {
  const auto bytes = static_cast<std::uint32_t>(block.size());
  c.request(REQ_SAVE_WRITE_CHECKED_CODE, offset, bytes, write_check(block, offset, bytes));
  c.write(block);
  c.read(le32(reply));
}

// The writes of one save_write call, each acknowledged: block by block, but
// the save area in the ROM's flash (type 7) takes an erase block of eight
// sectors in one write below 0xF0000, and SRAM (types 1 and 2) a 64 KiB
// bank's blocks in one write.
void expect_save_writes(ScriptedCable& c, std::uint32_t first_offset, std::uint32_t block, const Bytes& data,
                        std::int32_t save_type = 1) {
  for (std::uint32_t at = 0; at < data.size();) {
    const std::uint32_t offset = first_offset + at;
    std::uint32_t n = block;
    if ((save_type == 7 && offset < 0xF0000) || save_type == 1 || save_type == 2)
      n = std::min<std::uint32_t>(0x10000 - offset % 0x10000, static_cast<std::uint32_t>(data.size()) - at);
    expect_save_block(c, offset, Bytes(data.begin() + at, data.begin() + at + n));
    at += n;
  }
}

bool is_sram(std::int32_t save_type) { return save_type == 1 || save_type == 2; }

// An SRAM write over a chip whose every block differs (it holds `data`
// inverted): the CRCs of the first blocks, then runs of as many blocks,
// each with its check word over its bytes, offset and the bytes word with
// the count ahead, answered with the CRCs of the blocks after it.
void expect_sram_writes(ScriptedCable& c, std::uint32_t first_offset, std::uint32_t block, const Bytes& data) {
  Bytes old = data;
  for (std::uint8_t& byte : old) byte = static_cast<std::uint8_t>(~byte);
  const auto blocks = static_cast<std::uint32_t>(data.size() / block);
  const std::vector<std::uint32_t> crcs = block_crcs(old, block);
  const std::uint32_t asked = std::min(AHEAD_BLOCKS, blocks);
  expect_crcs(c, REQ_SAVE_CRC, first_offset, asked * block, block, {crcs.begin(), crcs.begin() + asked});
  for (std::uint32_t i = 0; i < blocks; i += AHEAD_BLOCKS) {
    const std::uint32_t n = std::min(AHEAD_BLOCKS, blocks - i);
    const std::uint32_t ahead = std::min(AHEAD_BLOCKS, blocks - i - n);
    const Bytes run(data.begin() + i * block, data.begin() + (i + n) * block);
    const std::uint32_t offset = first_offset + i * block, word = n * block | ahead << 24;
    c.request(REQ_SAVE_WRITE_AHEAD_CODE, offset, word, write_check(run, offset, word));
    c.write(run);
    c.read(le32(0x12345678));
    Bytes answer;
    for (std::uint32_t k = 0; k < ahead; ++k) {
      const Bytes w = le32(crcs[i + n + k]);
      answer.insert(answer.end(), w.begin(), w.end());
    }
    if (ahead) c.read(answer);
  }
}

// The comparison before a write, answered as if the chip held `data` with
// every byte inverted: every block differs, first byte to last.
void expect_compare(ScriptedCable& c, std::int32_t save_type, std::uint32_t first_offset, std::uint32_t block,
                    const Bytes& data) {
  Bytes old = data;
  for (std::uint8_t& byte : old) byte = static_cast<std::uint8_t>(~byte);
  if (is_eeprom(save_type)) {
    for (std::uint32_t at = 0; at < data.size(); at += block)
      c.request(0xFFFF000E, first_offset + at, block, 0).read(Bytes(old.begin() + at, old.begin() + at + block));
  } else {
    expect_crcs(c, REQ_SAVE_CRC, first_offset, static_cast<std::uint32_t>(data.size()), block,
                block_crcs(old, block));
  }
}

TEST(SaveWrite, EachTypeWritesAcknowledgedBlocksAndVerifies) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::size_t file_size;
    Range range;
    std::uint32_t first_offset, block;
    int blocks;
    const char* lines;
  };
  const Case cases[] = {
      {"EEP4K: the part's whole 512 bytes, read back", 4, 600, {0, 0x200}, 0, 0x200,
       1, "0x200 bytes writeing.\n"},
      {"EEP64K read back", 5, 0x2000, {}, 0, 0x2000, 1, "0x2000 bytes writeing.\n"},
      {"SRAM256K from 0x1000 to the device's end", 1, 0x8000, {0x1000, 0x7000},
       0x1000, 0x1000, 7, "0x7000 bytes writeing.\n"},
      {"FLASH8M: plain save offsets, 127 blocks", 7, 0xFE000, {}, 0, 0x2000, 127,
       "0xFE000 bytes writeing.\n"},
      {"FLASH512K range", 3, 0x10000, {0x2000, 0x2000}, 0x2000, 0x1000, 2,
       "0x2000 bytes writeing.\n"},
      {"SRAM2M whole", 2, 0x40000, {}, 0, 0x1000, 64, "0x40000 bytes writeing.\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const Bytes file = pattern(tc.file_size, 21);
    const Bytes sent(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(tc.blocks * tc.block));
    if (is_sram(tc.save_type)) {
      expect_sram_writes(b.c, tc.first_offset, tc.block, sent);
    } else {
      expect_compare(b.c, tc.save_type, tc.first_offset, tc.block, sent);
      expect_save_writes(b.c, tc.first_offset, tc.block, sent, tc.save_type);
    }
    std::string verified;
    if (tc.blocks > 0) {
      if (is_eeprom(tc.save_type)) {
        for (std::uint32_t at = 0; at < sent.size(); at += tc.block)
          b.c.request(0xFFFF000E, tc.first_offset + at, tc.block, 0)
              .read(Bytes(sent.begin() + at, sent.begin() + at + tc.block));
      } else if (tc.save_type != 1 && tc.save_type != 2) {
        // SRAM: the agent read every byte back into the block's check, so
        // the tool asks for no CRCs afterwards; the others are verified.
        expect_crcs(b.c, REQ_SAVE_CRC, tc.first_offset, static_cast<std::uint32_t>(sent.size()),
                    tc.block, block_crcs(sent, tc.block));
      }
      verified = strprintf("\nVerify OK: %d save block%s what was written.\n", tc.blocks,
                           tc.blocks == 1 ? " holds" : "s hold");
    }
    b.run([&] { save_write(b.s.link, save_cart(tc.save_type), tc.range, file, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(),
              tc.lines + std::string(static_cast<std::size_t>(tc.blocks), 'W') + verified);
  }
}

// A block that does not verify is written again from the tool's copy;
// one that still does not after three verifies fails the write, naming it.
TEST(SaveWrite, ABlockThatFailsVerifyIsWrittenAgain) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    Range range;
    std::uint32_t bad;  // offset of the block that comes back different
    int bad_rounds;     // verifies that find it different (3: all of them)
    bool verify;
    const char* failure;
  };
  const Case cases[] = {
      {"FLASH512K: the console's CRC differs once", 3, {0x1000, 0x3000}, 0x3000, 1, true, ""},
      {"FLASH512K: the console's CRC keeps differing", 3, {0x1000, 0x3000}, 0x3000, 3, true,
       "verify failed: the save block at 0x3000 does not hold what was written"},
      {"FLASH1M: the first block, twice", 6, {0x10000, 0x2000}, 0x10000, 2, true, ""},
      {"FLASH1M: the first block keeps differing", 6, {0x10000, 0x2000}, 0x10000, 3, true,
       "verify failed: the save block at 0x10000 does not hold what was written"},
      {"EEP4K: the read-back differs once", 4, {0, 0x200}, 0, 1, true, ""},
      {"EEP4K: the read-back keeps differing", 4, {0, 0x200}, 0, 3, true,
       "verify failed: the save block at 0x0 does not hold what was written"},
      {"--no-verify asks nothing afterwards", 1, {0x1000, 0x3000}, 0x1000, 0, false, ""},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const CartInfo cart = save_cart(tc.save_type);
    const auto block = static_cast<std::uint32_t>(cart.save_block);
    const auto start = static_cast<std::uint32_t>(tc.range.start_offset);
    const Bytes file = pattern(static_cast<std::size_t>(tc.range.length), 0x3C);
    const auto blocks = file.size() / block;
    // An EEPROM's read-back shows which 8-byte blocks differ: only those
    // are written again.
    const std::uint32_t again_bytes = is_eeprom(tc.save_type) ? 8 : block;
    const Bytes bad_block(file.begin() + (tc.bad - start), file.begin() + (tc.bad - start + again_bytes));
    if (is_sram(tc.save_type)) {
      expect_sram_writes(b.c, start, block, file);
    } else {
      expect_compare(b.c, tc.save_type, start, block, file);
      expect_save_writes(b.c, start, block, file, tc.save_type);
    }
    std::string again;
    for (int round = 0; tc.verify && round < 3; ++round) {
      const bool bad = round < tc.bad_rounds;
      if (is_eeprom(tc.save_type)) {
        b.c.request(0xFFFF000E, start, block, 0).read(bad ? flipped(file, 5) : file);
      } else {
        std::vector<std::uint32_t> crcs = block_crcs(file, block);
        if (bad) crcs[(tc.bad - start) / block] ^= 1;
        expect_crcs(b.c, REQ_SAVE_CRC, start, static_cast<std::uint32_t>(file.size()), block, crcs);
      }
      if (!bad) break;
      if (round == 2) break;
      expect_save_block(b.c, tc.bad, bad_block);
      again += strprintf("The save block at 0x%X does not hold what was written: writing it again.\nW\n", tc.bad);
    }
    b.run([&] { save_write(b.s.link, cart, tc.range, file, b.con, EepromOrder::Tool, {.verify = tc.verify}); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    const std::string ok =
        tc.verify && !*tc.failure ? strprintf("Verify OK: %zu %s what was written.\n", blocks,
                                                     blocks == 1 ? "save block holds" : "save blocks hold") : "";
    EXPECT_EQ(b.out.str(), strprintf("0x%zX bytes writeing.\n", file.size()) + std::string(blocks, 'W') +
                               (tc.verify ? "\n" : "") + again + ok);
  }
}

// A block the agent found disagreeing with its check word was not written:
// it is sent again, at most three times, and the marks count blocks, not
// sends. Any other answer fails the write at once.
TEST(SaveWrite, ABlockThatArrivesCorruptedIsSentAgain) {
  constexpr std::uint32_t CHECK_FAILED = 0x55AA00FE;
  struct Case {
    const char* name;
    std::vector<std::uint32_t> replies;  // to the second block's sends
    const char* failure;
  };
  const Case cases[] = {
      {"refused once", {CHECK_FAILED, 0x12345678}, ""},
      {"refused twice", {CHECK_FAILED, CHECK_FAILED, 0x12345678}, ""},
      {"refused three times", {CHECK_FAILED, CHECK_FAILED, CHECK_FAILED},
       "the save block at 0x1000 arrived corrupted 3 times over the link; nothing of it was written "
       "(check the cable and the cartridge's contacts)"},
      {"an answer that is neither", {0x5555AAAA},
       "the console did not write the save block at 0x1000 (it answered 0x5555AAAA)"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const Bytes file = pattern(0x2000, 0x44);
    const Bytes first(file.begin(), file.begin() + 0x1000), second(file.begin() + 0x1000, file.end());
    expect_compare(b.c, 3, 0, 0x1000, file);
    expect_save_block(b.c, 0, first);
    for (std::uint32_t reply : tc.replies) expect_save_block(b.c, 0x1000, second, reply);
    if (!*tc.failure) expect_crcs(b.c, REQ_SAVE_CRC, 0, 0x2000, 0x1000, block_crcs(file, 0x1000));
    b.run([&] { save_write(b.s.link, save_cart(3), {0, 0x2000}, file, b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), std::string("0x2000 bytes writeing.\nWW") +
                               (*tc.failure ? "" : "\nVerify OK: 2 save blocks hold what was written.\n"));
  }
}

// Only what differs from the chip is written, in the units the chip is
// written in: a FLASH or SRAM save block by block, the save area in the
// ROM's flash an erase block (eight sectors below 0xF0000) in one write, an
// EEPROM from the first differing 8-byte block to the last.
TEST(SavePlan, OnlyTheDifferingPartsInTheChipsUnits) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::uint32_t start, block;
    std::vector<bool> differs;
    std::vector<SaveSpan> spans;
  };
  const Case cases[] = {
      {"nothing differs", 1, 0, 0x1000, {false, false, false}, {}},
      {"SRAM: a run of blocks in one write, no gap filled", 1, 0x1000, 0x1000, {true, false, true, true},
       {{0x1000, 0x1000}, {0x3000, 0x2000}}},
      {"SRAM2M: runs end at the 64 KiB bank", 2, 0xE000, 0x1000, {true, true, true, true},
       {{0xE000, 0x2000}, {0x10000, 0x2000}}},
      {"FLASH512K: one sector a write", 3, 0, 0x1000, {true, true}, {{0, 0x1000}, {0x1000, 0x1000}}},
      {"FLASH1M: the sector in the middle", 6, 0, 0x1000, {false, false, true, false, false}, {{0x2000, 0x1000}}},
      {"ROM save: two sectors of one erase block, the gap with them", 7, 0x10000, 0x2000,
       {false, true, false, false, true, false, false, false}, {{0x12000, 0x8000}}},
      {"ROM save: one write per erase block", 7, 0xC000, 0x2000, {true, true, true},
       {{0xC000, 0x4000}, {0x10000, 0x2000}}},
      {"ROM save: single sectors from 0xF0000 on", 7, 0xEE000, 0x2000, {true, true, true},
       {{0xEE000, 0x2000}, {0xF0000, 0x2000}, {0xF2000, 0x2000}}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::vector<SaveSpan> got = spans_of_blocks(tc.save_type, tc.start, tc.block, tc.differs);
    ASSERT_EQ(got.size(), tc.spans.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].offset, tc.spans[i].offset) << i;
      EXPECT_EQ(got[i].bytes, tc.spans[i].bytes) << i;
    }
  }
}

TEST(SavePlan, EepromBytesFromTheFirstDifferingBlockToTheLast) {
  struct Case {
    const char* name;
    std::uint32_t start, block;
    std::vector<std::size_t> changed;  // bytes of `now` that differ from `want`
    std::vector<SaveSpan> spans;
    std::size_t touched;
  };
  const Case cases[] = {
      {"same", 0, 0x200, {}, {}, 0},
      {"one byte in the middle", 0, 0x200, {0x105}, {{0x100, 8}}, 1},
      {"first and last byte", 0x200, 0x200, {0, 0x1FF}, {{0x200, 0x200}}, 1},
      {"in two save blocks, each its own span", 0, 0x100, {0x17, 0x1C8, 0x1D0}, {{0x10, 8}, {0x1C8, 0x10}}, 2},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const Bytes want = pattern(0x200, 9);
    Bytes now = want;
    for (std::size_t at : tc.changed) now[at] ^= 0x40;
    const std::vector<SaveSpan> got = spans_of_bytes(tc.start, tc.block, 8, now, want);
    ASSERT_EQ(got.size(), tc.spans.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].offset, tc.spans[i].offset) << i;
      EXPECT_EQ(got[i].bytes, tc.spans[i].bytes) << i;
    }
    EXPECT_EQ(blocks_touched(got, tc.block), tc.touched);
  }
}

// What the comparison finds decides what goes over the link: a save that
// holds the file is not written (and the comparison was its verify); one
// block that differs is the only one written and verified.
TEST(SaveWrite, OnlyDifferingBlocksAreSentAndVerified) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::vector<std::size_t> stale;  // save blocks that the chip holds otherwise
    std::string marks;
  };
  const Case cases[] = {
      {"SRAM holds the file", 1, {}, ""},
      {"SRAM: the last of four", 1, {3}, "W"},
      {"FLASH512K: the third of four", 3, {2}, "W"},
      {"FLASH512K: first and last", 3, {0, 3}, "WW"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const Bytes file = pattern(0x4000, 0x77);
    std::vector<std::uint32_t> now = block_crcs(file, 0x1000);
    for (std::size_t i : tc.stale) now[i] ^= 0x80;
    if (is_sram(tc.save_type)) {
      // The first blocks, then, after one that holds its bytes, the rest
      expect_crcs(b.c, REQ_SAVE_CRC, 0x4000, 0x2000, 0x1000, {now.begin(), now.begin() + 2});
      expect_crcs(b.c, REQ_SAVE_CRC, 0x6000, 0x2000, 0x1000, {now.begin() + 2, now.end()});
    } else {
      expect_crcs(b.c, REQ_SAVE_CRC, 0x4000, 0x4000, 0x1000, now);
    }
    for (std::size_t i : tc.stale) {
      const auto offset = 0x4000 + static_cast<std::uint32_t>(i) * 0x1000;
      const Bytes block(file.begin() + static_cast<std::ptrdiff_t>(i * 0x1000),
                        file.begin() + static_cast<std::ptrdiff_t>((i + 1) * 0x1000));
      if (!is_sram(tc.save_type)) {
        expect_save_block(b.c, offset, block);
        continue;
      }
      // Every block is known by then: none ahead; the read-back was its verify
      b.c.request(REQ_SAVE_WRITE_AHEAD_CODE, offset, 0x1000, write_check(block, offset, 0x1000));
      b.c.write(block);
      b.c.read(le32(0x12345678));
    }
    if (!tc.stale.empty() && !is_sram(tc.save_type)) {
      // The verify covers the written blocks, from the first to the last.
      const std::size_t lo = tc.stale.front(), hi = tc.stale.back() + 1;
      const Bytes part(file.begin() + static_cast<std::ptrdiff_t>(lo * 0x1000),
                       file.begin() + static_cast<std::ptrdiff_t>(hi * 0x1000));
      expect_crcs(b.c, REQ_SAVE_CRC, 0x4000 + static_cast<std::uint32_t>(lo) * 0x1000,
                  static_cast<std::uint32_t>(part.size()), 0x1000, block_crcs(part, 0x1000));
    }
    b.run([&] { save_write(b.s.link, save_cart(tc.save_type), {0x4000, 0x4000}, file, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), "0x4000 bytes writeing.\n" + tc.marks + (tc.marks.empty() ? "" : "\n") +
                               "Verify OK: 4 save blocks hold what was written.\n");
  }
}

TEST(SaveWrite, RefusalsSendNothing) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::size_t file_size;
    Range range;
    const char* out;
    const char* failure;
  };
  const Case cases[] = {
      {"300-byte file on EEP4K", 4, 300, {}, "",
       "SAVE read size and offset must be 0x200 boundary.\n"},
      {"offset off the block", 1, 0x8000, {0x800, 0x1000}, "",
       "SAVE read size and offset must be 0x1000 boundary.\n"},
      {"explicit length beyond a short file", 1, 0x1800, {0, 0x2000},
       "Write size is larger than file size.\n",
       "the file holds 0x1800 bytes, fewer than the 0x2000 asked: give a length of at most 0x1800"},
      {"600-byte file on EEP4K: only the whole file or nothing", 4, 600, {},
       "Write size is longer than device.\n",
       "0x258 bytes from 0x0 do not fit the 0x200-byte save memory: the range that fits is 0x0 0x200"},
      {"range past the end of SRAM256K", 1, 0x8000, {0x1000, 0x8000}, "Write size is longer than device.\n",
       "0x8000 bytes from 0x1000 do not fit the 0x8000-byte save memory: the range that fits is 0x1000 "
       "0x7000"},
      {"1 MiB file on FLASH8M", 7, 0x100000, {}, "Write size is longer than device.\n",
       "0x100000 bytes from 0x0 do not fit the 0xFE000-byte save memory: the range that fits is 0x0 "
       "0xFE000"},
      {"no save memory", 0, 0x1000, {}, "", "no save memory was found on this cartridge: nothing can be written"},
      {"empty file", 1, 0, {}, "", "nothing to write: the file is empty"},
      {"length 0", 1, 0x1000, {0, 0}, "", "nothing to write: the length is 0 (give at least one byte)"},
      {"start beyond the save memory", 1, 0x1000, {0x9000, 0x1000}, "",
       "start offset 0x9000 lies beyond the end of the 0x8000-byte save memory"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    b.run([&] { save_write(b.s.link, save_cart(tc.save_type), tc.range, pattern(tc.file_size), b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_EQ(b.out.str(), tc.out);
    EXPECT_TRUE(b.c.done());
  }
}

TEST(EepromOrder, EmulatorOrderReversesEachEightByteBlockBothWays) {
  // The wire carries the tool's order; the file holds the emulators' order.
  // The check read and the verify read-back compare wire bytes with wire
  // bytes.
  for (std::int32_t type : {4, 5}) {
    SCOPED_TRACE(type);
    CartInfo cart = cart_of(1, 0x400000, 0);
    cart.save_type = type;
    derive_save_geometry(cart);
    const auto block = static_cast<std::size_t>(cart.save_block);
    const Bytes wire = pattern(block, 0x31);
    Bytes file = wire;
    for (std::size_t at = 0; at < block; at += 8)
      std::reverse(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + 8));
    ASSERT_NE(file, wire);

    Body reading;
    for (int i = 0; i < 2; ++i)
      reading.c.request(0xFFFF000E, 0, static_cast<std::uint32_t>(block), 0).read(wire);
    reading.run([&] { save_read(reading.s.link, cart, {}, reading.sink, reading.con, EepromOrder::Emulator); });
    EXPECT_EQ(reading.failure, "");
    EXPECT_TRUE(reading.c.done());
    EXPECT_EQ(reading.sink.data, file);
    // The report's CRC is that of the file as written.
    EXPECT_NE(reading.out.str().find(crc_line(file)), std::string::npos) << reading.out.str();

    Body writing;
    expect_compare(writing.c, type, 0, static_cast<std::uint32_t>(block), wire);
    expect_save_block(writing.c, 0, wire);
    writing.c.request(0xFFFF000E, 0, static_cast<std::uint32_t>(block), 0).read(wire);
    writing.run([&] { save_write(writing.s.link, cart, {}, file, writing.con, EepromOrder::Emulator); });
    EXPECT_EQ(writing.failure, "");
    EXPECT_TRUE(writing.c.done());
    EXPECT_NE(writing.out.str().find("Verify OK: 1 save block holds what was written.\n"), std::string::npos);
  }
  // Other save types keep their bytes as they are.
  CartInfo sram = cart_of(1, 0x400000, 0);
  sram.save_type = 1;
  derive_save_geometry(sram);
  Bytes data = pattern(16);
  convert_eeprom_order(sram, EepromOrder::Emulator, data);
  EXPECT_EQ(data, pattern(16));
}

}  // namespace
}  // namespace kartex::test
