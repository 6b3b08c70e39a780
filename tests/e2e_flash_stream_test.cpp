// The agent's streamed block write: the pieces before the first one that
// disagrees with its check word are programmed and nothing after it; an
// erase happens only under arguments that matched their own check word;
// every byte outside the pieces programmed keeps what it held (or reads
// erased, in a block erased first), and the link stays in step whatever
// the agent refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "cart/agent_crc.h"
#include "contract/wire.h"
#include "link/cable_link.h"
#include "tests/support/agent_cart.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

enum class Spoil { NONE, DATA, CHECK };

constexpr std::uint32_t ALL = ~0u;   // every piece of the block
constexpr std::uint32_t LAST = ~1u;  // the last piece of the block, or the pieces before it

struct Sent {
  std::uint32_t ready = 0;
  std::uint32_t end[STREAM_END_WORDS] = {};
};

// One streamed block; `bad` names a piece whose data or check word is
// changed on the way, as a bit flipped on the link would change it.
Sent stream(AgentCart& c, std::uint32_t at, const Bytes& data, bool erase, std::optional<std::uint32_t> bad = {},
            Spoil spoil = Spoil::NONE, std::uint32_t args_spoil = 0) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(data.size()) | (erase ? STREAM_ERASE : 0);
  Sent s;
  s.ready = c.request(REQ_FLASH_STREAM, at, bytes, write_check({}, at, bytes) ^ args_spoil, 1)[0];
  if (s.ready != STREAM_READY) return s;
  Bytes form;
  for (std::uint32_t p = 0; p * STREAM_PIECE_BYTES < data.size(); ++p) {
    Bytes piece(data.begin() + p * STREAM_PIECE_BYTES, data.begin() + (p + 1) * STREAM_PIECE_BYTES);
    std::uint32_t check = piece_check(piece, at + p * STREAM_PIECE_BYTES);
    if (bad == p && spoil == Spoil::DATA) piece[0x123] ^= 0x10;
    if (bad == p && spoil == Spoil::CHECK) check ^= 0x00800000;
    form.insert(form.end(), piece.begin(), piece.end());
    std::uint8_t w[4];
    put_le32(w, check);
    form.insert(form.end(), w, w + 4);
  }
  // Some pieces a transfer: a 256 KiB block is more words than one carries
  constexpr std::size_t per_send = 16 * (STREAM_PIECE_BYTES + 4);
  for (std::size_t done = 0; done < form.size(); done += per_send)
    c.a.link.write_words(std::span(form).subspan(done, std::min(per_send, form.size() - done)));
  Bytes raw(4 * STREAM_END_WORDS);
  c.a.link.read_words(raw);
  for (std::size_t k = 0; k < STREAM_END_WORDS; ++k) s.end[k] = get_le32(&raw[4 * k]);
  return s;
}

TEST(FlashStream, OnlyPiecesThatMatchedTheirCheckAreProgrammed) {
  struct Case {
    const char* name;
    const char* chip;
    std::uint32_t size;  // of the ROM the chips make
    bool blank;  // the block reads erased before; else it holds other data
    bool erase;
    std::optional<std::uint32_t> bad;
    Spoil spoil;
    std::uint32_t outcome, pieces;  // programmed
  };
  const Case cases[] = {
      {"a blank block", "2/16", 4 * MiB, true, false, {}, Spoil::NONE, UPDATE_PROGRAMMED, ALL},
      {"a written block, erased first", "2/16", 4 * MiB, false, true, {}, Spoil::NONE, UPDATE_ERASED, ALL},
      {"a written pair block, erased first", "3/16", 8 * MiB, false, true, {}, Spoil::NONE, UPDATE_ERASED, ALL},
      {"a blank block of word pairs", "8/8896", 8 * MiB, true, false, {}, Spoil::NONE, UPDATE_PROGRAMMED, ALL},
      {"a written block of pages, erased first", "9/20", 8 * MiB, false, true, {}, Spoil::NONE, UPDATE_ERASED, ALL},
      {"a JEDEC block, erased first", "6/22c4", 2 * MiB, false, true, {}, Spoil::NONE, UPDATE_ERASED, ALL},
      {"piece 5 of a blank block changed", "2/16", 4 * MiB, true, false, 5, Spoil::DATA, WRITE_CHECK_FAILED, 5},
      {"the first piece of an erased block changed", "3/16", 8 * MiB, false, true, 0, Spoil::DATA, WRITE_CHECK_FAILED, 0},
      {"the last piece's check word changed", "2/16", 4 * MiB, false, true, LAST, Spoil::CHECK, WRITE_CHECK_FAILED, LAST},
      {"a middle check word of word pairs changed", "8/8896", 8 * MiB, true, false, 17, Spoil::CHECK, WRITE_CHECK_FAILED,
       17},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Bytes rom = noise(k.size, 31);
    // The erase block, whatever its size, at 1 MiB: main blocks on every kind here
    const std::uint32_t at = MiB;
    if (k.blank) std::fill(rom.begin() + at, rom.begin() + at + 0x40000, 0xFF);  // the largest block
    AgentCart c(flash_holding(rom, "flash_stream", k.chip));
    ASSERT_EQ(c.rom_size, k.size);
    const std::uint32_t block = c.erase_block;
    const std::uint32_t pieces = block / STREAM_PIECE_BYTES;
    const std::uint32_t want_pieces = k.pieces == ALL ? pieces : k.pieces == LAST ? pieces - 1 : k.pieces;
    std::optional<std::uint32_t> bad = k.bad;
    if (bad == LAST) bad = pieces - 1;
    const Bytes data = noise(block, 32);
    const FlashOps before = c.flash().ops();

    const Sent s = stream(c, at, data, k.erase, bad, k.spoil);
    ASSERT_EQ(s.ready, STREAM_READY);
    EXPECT_EQ(s.end[0], k.outcome);
    EXPECT_EQ(s.end[1], want_pieces);
    c.expect_in_step();
    // The pieces programmed hold the data; every other byte of the block
    // what it held, or erased once the block was erased; the ROM around
    // the block as it was.
    Bytes want = rom;
    const std::uint32_t programmed = want_pieces * STREAM_PIECE_BYTES;
    if (k.erase) std::fill(want.begin() + at, want.begin() + at + block, 0xFF);
    std::copy(data.begin(), data.begin() + programmed, want.begin() + at);
    EXPECT_TRUE(c.cells(0, k.size) == want);
    EXPECT_EQ(c.flash().ops().erases > before.erases, k.erase && !k.blank);
    if (want_pieces == 0) {
      EXPECT_EQ(c.flash().ops().programs, before.programs) << "a changed piece was programmed";
    }
    c.expect_no_misuse();
  }
}

TEST(FlashStream, RefusedArgumentsEraseAndProgramNothing) {
  const Bytes rom = noise(4 * MiB, 33);
  AgentCart c(flash_holding(rom, "flash_stream_refused", "2/16"));
  const std::uint32_t block = c.erase_block;
  struct Case {
    const char* name;
    std::uint32_t at, bytes;
    bool erase;
    std::uint32_t args_spoil;
    std::uint32_t reply;
  };
  const Case cases[] = {
      {"the erase flag flipped on the way", block, block, true, STREAM_ERASE, WRITE_CHECK_FAILED},
      {"the offset flipped on the way", 2 * block, block, true, 0x00020000, WRITE_CHECK_FAILED},
      {"not at a block start", block + STREAM_PIECE_BYTES, STREAM_PIECE_BYTES, true, 0, UPDATE_REFUSED},
      {"not whole pieces", block, STREAM_PIECE_BYTES + 2, true, 0, UPDATE_REFUSED},
      {"more than one block", block, block + STREAM_PIECE_BYTES, true, 0, UPDATE_REFUSED},
      {"no bytes", block, 0, true, 0, UPDATE_REFUSED},
      {"past the end of the ROM", 4 * MiB, STREAM_PIECE_BYTES, false, 0, UPDATE_REFUSED},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    // The flag sent is the one the case names; a spoilt one was not in the
    // check word the host computed.
    const std::uint32_t bytes = k.bytes | (k.erase ? STREAM_ERASE : 0);
    const std::uint32_t checked = bytes ^ (k.args_spoil == STREAM_ERASE ? STREAM_ERASE : 0);
    const std::uint32_t at_checked = k.at ^ (k.args_spoil == STREAM_ERASE ? 0 : k.args_spoil);
    EXPECT_EQ(c.request(REQ_FLASH_STREAM, k.at, bytes, write_check({}, at_checked, checked), 1)[0], k.reply);
    c.expect_in_step();
  }
  {
    AgentCart mask{SimOptions{}};
    EXPECT_EQ(stream(mask, 0, noise(STREAM_PIECE_BYTES, 1), false).ready, UPDATE_REFUSED);
    mask.expect_in_step();
  }
  EXPECT_EQ(c.flash().ops().erases + c.flash().ops().programs, 0u);
  EXPECT_TRUE(c.cells(0, 4 * MiB) == rom);
  c.expect_no_misuse();
}

}  // namespace
}  // namespace kartex::test
