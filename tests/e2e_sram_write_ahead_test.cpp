// The SRAM save write that learns from each write whether the blocks after
// it differ: the console sums the blocks ahead while a run's words arrive
// and sends their CRCs behind its answer. The CRCs must be those of what
// the chip holds there, a write that failed its check must bring none and
// change nothing, and a save written this way must hold every byte of the
// file with only its differing blocks sent.

#include <gtest/gtest.h>

#include <algorithm>

#include "cart/agent_crc.h"
#include "cart/sram_write_ahead.h"
#include "common/digest.h"
#include "sim/cable/link_fault.h"
#include "tests/support/cart_bench.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

enum class Flip { NONE, DATA, AHEAD_COUNT };

TEST(SramWriteAhead, ARunLandsAndBringsTheCrcsOfTheBlocksAfterIt) {
  struct Case {
    const char* what;
    const char* save;
    const char* chip;
    std::uint32_t image;
    std::uint32_t offset, bytes, ahead;
    Flip flip;
    std::uint32_t reply;
  };
  const Case cases[] = {
      {"the first two blocks, two ahead", "sram32k", "", 0x8000, 0, 0x2000, 2, Flip::NONE, REPLY_DONE},
      {"the last block, none ahead", "sram32k", "", 0x8000, 0x7000, 0x1000, 0, Flip::NONE, REPLY_DONE},
      {"off a word with a ragged end, one ahead", "sram32k", "", 0x8000, 0x2003, 13, 1, Flip::NONE, REPLY_DONE},
      {"a run to a bank's end, two ahead in the next bank", "sram256k", "3/17", 0x40000, 0xE000, 0x2000, 2,
       Flip::NONE, REPLY_DONE},
      {"a run across a bank boundary, two ahead", "sram256k", "3/17", 0x40000, 0xF000, 0x2000, 2, Flip::NONE,
       REPLY_DONE},
      {"a whole bank, a bank's worth ahead", "sram1m", "3/17", 0x100000, 0x30000, 0x10000, 16, Flip::NONE,
       REPLY_DONE},
      {"a word flipped on the link", "sram32k", "", 0x8000, 0x1000, 0x2000, 2, Flip::DATA, WRITE_CHECK_FAILED},
      {"the count ahead changed on the link", "sram256k", "3/17", 0x40000, 0xF000, 0x2000, 2, Flip::AHEAD_COUNT,
       WRITE_CHECK_FAILED},
      {"more ahead than the console sums", "sram32k", "", 0x8000, 0x1000, 0x1000, SAVE_AHEAD_MAX + 1, Flip::NONE,
       UPDATE_REFUSED},
      {"a FLASH save", "flash64k:bfd4", "", 0x10000, 0x1000, 0x1000, 1, Flip::NONE, UPDATE_REFUSED},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    SimOptions o;
    o.save = tc.save;
    o.chip = tc.chip;
    o.save_image = save_image_file("sram_write_ahead", tc.save, noise(tc.image, 61));
    CartBench b(o);
    const Bytes before = b.read_save();
    const Bytes data = noise(tc.bytes, 62);
    Bytes words = data;
    words.resize((tc.bytes + 3) / 4 * 4, 0xEE);
    const std::uint32_t bytes_word = tc.bytes | tc.ahead << SAVE_AHEAD_SHIFT;
    const std::uint32_t check = write_check(data, tc.offset, bytes_word);
    Bytes sent = words;
    std::uint32_t sent_word = bytes_word;
    if (tc.flip == Flip::DATA) sent[words.size() / 8 * 4 + 1] ^= 0x20;
    if (tc.flip == Flip::AHEAD_COUNT) sent_word ^= 1u << SAVE_AHEAD_SHIFT;

    // The good run lands, the others change nothing; either way the
    // answer is the reply word and, after REPLY_DONE only, the CRCs: a
    // second request right after reads its own answer.
    for (int round = 0; round < 2; ++round) {
      const bool good = round == 1 || tc.reply == REPLY_DONE;
      // Sent again, no more blocks ahead than the save has
      const std::uint32_t ahead = std::min(tc.ahead, (tc.image - tc.offset - tc.bytes) / SAVE_AHEAD_BLOCK);
      const std::uint32_t word = good ? (tc.bytes | ahead << SAVE_AHEAD_SHIFT) : sent_word;
      b.a.link.agent_request(REQ_SAVE_WRITE_AHEAD, tc.offset, word, good ? write_check(data, tc.offset, word) : check);
      b.a.link.write_words(good ? words : sent);
      const std::uint32_t reply = b.a.link.read_word();
      if (round == 0) {
        EXPECT_EQ(reply, tc.reply);
      }
      if (reply != REPLY_DONE) {
        EXPECT_TRUE(b.read_save() == before) << "a refused run changed the save";
        continue;
      }
      Bytes raw(ahead * 4);
      if (ahead) b.a.link.read_words(raw);
      for (std::uint32_t k = 0; k < ahead; ++k) {
        const std::size_t at = tc.offset + tc.bytes + std::size_t{k} * SAVE_AHEAD_BLOCK;
        EXPECT_EQ(get_le32(&raw[k * 4]), crc32_of(std::span(before).subspan(at, SAVE_AHEAD_BLOCK)))
            << "the CRC of the block at 0x" << std::hex << at;
      }
      Bytes want = before;
      std::copy(data.begin(), data.end(), want.begin() + tc.offset);
      EXPECT_TRUE(b.read_save() == want) << "the run, and every byte around it as it was";
      break;
    }
  }
}

// Which save blocks the file changes: runs of (first block, count).
using Runs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

TEST(SramWriteAhead, OnlyTheDifferingBlocksMoveAndEveryByteLands) {
  struct Case {
    const char* what;
    const char* save;
    const char* chip;
    std::uint32_t size;
    Runs differ;
    Range range = {};
  };
  const Case cases[] = {
      {"every block", "sram32k", "", 0x8000, {{0, 8}}},
      {"none", "sram32k", "", 0x8000, {}},
      {"the blocks after one left as it was", "sram32k", "", 0x8000, {{0, 1}, {2, 6}}},
      {"only the last block", "sram32k", "", 0x8000, {{7, 1}}},
      {"the first and the last", "sram32k", "", 0x8000, {{0, 1}, {7, 1}}},
      {"every other block", "sram32k", "", 0x8000, {{0, 1}, {2, 1}, {4, 1}, {6, 1}}},
      {"a range inside the save", "sram32k", "", 0x8000, {{2, 2}, {5, 1}}, {0x2000, 0x4000}},
      {"runs across a bank boundary", "sram256k", "3/17", 0x40000, {{14, 5}, {31, 2}, {63, 1}}},
      {"every block of banked SRAM", "sram256k", "3/17", 0x40000, {{0, 64}}},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const Bytes old = noise(tc.size, 71);
    SimOptions o;
    o.save = tc.save;
    o.chip = tc.chip;
    o.save_image = save_image_file("sram_write_ahead_runs", tc.save, old);
    CartBench b(o);
    Bytes want = old;
    const Bytes fresh = noise(tc.size, 72);
    std::uint32_t blocks = 0;
    for (const auto& [first, count] : tc.differ) {
      std::copy_n(fresh.begin() + first * SAVE_AHEAD_BLOCK, count * SAVE_AHEAD_BLOCK,
                  want.begin() + first * SAVE_AHEAD_BLOCK);
      blocks += count;
    }
    const std::int32_t start = tc.range.start_offset == NOT_GIVEN ? 0 : tc.range.start_offset;
    const std::int32_t length = tc.range.length == NOT_GIVEN ? static_cast<std::int32_t>(tc.size) : tc.range.length;
    // Outside the range the file holds other bytes still: none may land.
    Bytes file(want.begin() + start, want.begin() + start + length);
    const Cost cost = cost_of(b, [&] { save_write(b.a.link, b.cart, {start, length}, file, b.con, EepromOrder::Tool, {}); });
    EXPECT_TRUE(b.read_save() == want) << "every byte of the save";
    // The differing blocks' words, no other block's; beside them a CRC
    // word for each block at most and a few words a request.
    const std::uint64_t data_words = std::uint64_t{blocks} * SAVE_AHEAD_BLOCK / 4;
    EXPECT_GE(cost.words, data_words);
    EXPECT_LE(cost.words, data_words + tc.size / SAVE_AHEAD_BLOCK + 8 * (tc.differ.size() + blocks / 2 + 2));
  }
}

// A run that failed its check on the way is sent again, whole; the blocks
// before it and after it land once, and no CRC of a failed run is read.
TEST(SramWriteAhead, ARunCorruptedOnTheLinkIsSentAgainAlone) {
  // The words of a full write of 32 KiB: the CRC request of the first
  // blocks and its answer, then each run of SRAM_AHEAD_BLOCKS blocks: its
  // request, its words, its answer and the CRCs ahead (none after the
  // last).
  constexpr std::uint64_t ASK = CMD_REQUEST_WORDS + SRAM_AHEAD_BLOCKS;
  constexpr std::uint64_t RUN_DATA = SRAM_AHEAD_BLOCKS * SAVE_AHEAD_BLOCK / 4;
  constexpr std::uint64_t RUN = CMD_REQUEST_WORDS + RUN_DATA + 1 + SRAM_AHEAD_BLOCKS;
  struct Case {
    const char* what;
    std::uint64_t word;  // from the first word of the write
    unsigned bit;
  };
  const Case cases[] = {
      {"a word of the second run", ASK + RUN + CMD_REQUEST_WORDS + 700, 3},
      {"the count ahead in the second run's request", ASK + RUN + 2, SAVE_AHEAD_SHIFT + 1},
      {"the last word of the last run", ASK + 3 * RUN + CMD_REQUEST_WORDS + RUN_DATA - 1, 9},
  };
  const Bytes old = noise(0x8000, 81), file = noise(0x8000, 82);
  SimOptions o;
  o.save = "sram32k";
  o.save_image = save_image_file("sram_write_ahead_flip", "sram32k", old);
  CartBench clean(o);
  const Cost first = cost_of(clean, [&] { clean.write_save(file); });
  ASSERT_TRUE(clean.read_save() == file);
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    CartBench b(o);
    const SimStats at = b.a.sim.stats();
    const std::uint64_t word = at.words_to_console + at.words_from_console + tc.word;
    b.a.sim.cable().add_fault(parse_link_fault("flip@" + std::to_string(word) + ":" + std::to_string(tc.bit)));
    const Cost cost = cost_of(b, [&] { b.write_save(file); });
    const std::string note = "of link word " + std::to_string(word) + " inverted";
    EXPECT_TRUE(std::any_of(b.a.sim.log().lines().begin(), b.a.sim.log().lines().end(),
                            [&](const std::string& line) { return line.find(note) != std::string::npos; }))
        << "the flip did not happen";
    EXPECT_TRUE(b.read_save() == file) << "every byte of the save";
    EXPECT_EQ(cost.words, first.words + CMD_REQUEST_WORDS + RUN_DATA + 1) << "one run sent again, nothing more";
  }
}

}  // namespace
}  // namespace kartex::test
