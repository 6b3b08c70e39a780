#include "cart/rom_write.h"

#include <algorithm>
#include <bit>
#include <initializer_list>
#include <iterator>
#include <utility>
#include <vector>

#include "cart/agent_crc.h"
#include "cart/ranges.h"
#include "cart/rom_reader.h"
#include "common/digest.h"
#include "common/failure.h"
#include "common/output.h"
#include "link/cable_link.h"

namespace kartex {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The erase blocks a write touches, with what they must hold afterwards.
struct BlockPlan {
  std::uint32_t first = 0;  // ROM offset of the first block
  std::uint32_t block = 0;  // erase block size
  Bytes image;              // the blocks' new contents, whole once read around
  // The console's CRC of each block now, whole: of a block the range covers
  // in part, only once it is to be written again whatever it holds.
  std::vector<std::uint32_t> before;
  std::vector<std::uint32_t> after;  // the CRC each block must have (once its bytes are whole)
  std::vector<bool> same;            // the block holds its part of the range already
  std::vector<bool> known;           // its bytes outside the range are in `image`
  std::vector<bool> whole;           // the range covers all of it: `before` is its whole CRC

  std::size_t count() const { return same.size(); }
  std::uint32_t offset(std::size_t i) const { return first + static_cast<std::uint32_t>(i) * block; }
  std::span<const std::uint8_t> bytes(std::size_t i, std::size_t n = 1) const {
    return std::span(image).subspan(i * block, n * block);
  }
  bool blank(std::size_t i) const { return before[i] == crc32_blank(block); }
  bool holds(std::size_t i) const { return same[i]; }
};

// The bytes of a partial block outside the range, as the ROM holds them,
// read and checked against the console's CRC of just those bytes (also in
// a block whose CRC said blank: that CRC crossed the link too). Every write
// of the block, and a write again after a failed verify, takes them from
// here.
void keep_around(CableLink& link, BlockPlan& plan, std::uint32_t offset, std::uint32_t length) {
  if (length == 0) return;
  const std::size_t at = offset - plan.first;
  const Bytes old = read_rom_checked(link, offset, length, std::nullopt);
  std::copy(old.begin(), old.end(), plan.image.begin() + static_cast<std::ptrdiff_t>(at));
}

// The compare is one CRC pass over the range: whole blocks by the block,
// a block the range covers in part by that part alone, so that a partial
// block which holds its part needs none of its other bytes. Only a partial
// block to be written (or every one, for a rewrite) has them read back.
BlockPlan plan_blocks(CableLink& link, const CartInfo& cart, std::uint32_t start,
                      std::span<const std::uint8_t> data, bool rewrite) {
  BlockPlan plan;
  plan.block = static_cast<std::uint32_t>(cart.erase_block);
  const std::uint64_t end = std::uint64_t{start} + data.size();
  plan.first = start / plan.block * plan.block;
  const std::uint64_t last_end = (end + plan.block - 1) / plan.block * plan.block;
  plan.image.assign(last_end - plan.first, 0xFF);
  std::copy(data.begin(), data.end(), plan.image.begin() + (start - plan.first));
  const std::size_t count = (last_end - plan.first) / plan.block;
  auto part = [&](std::size_t i) {
    const std::uint64_t lo = std::max<std::uint64_t>(start, plan.offset(i));
    const std::uint64_t hi = std::min<std::uint64_t>(end, std::uint64_t{plan.offset(i)} + plan.block);
    return std::pair{static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(hi - lo)};
  };
  auto whole = [&](std::size_t i) { return part(i).second == plan.block; };
  plan.before.assign(count, 0);
  for (std::size_t i = 0; i < count;) {
    if (whole(i)) {
      std::size_t j = i;
      while (j < count && whole(j)) ++j;
      const std::vector<std::uint32_t> crcs =
          rom_crcs(link, plan.offset(i), static_cast<std::uint32_t>((j - i) * plan.block), plan.block);
      std::copy(crcs.begin(), crcs.end(), plan.before.begin() + static_cast<std::ptrdiff_t>(i));
      i = j;
    } else {
      const auto [lo, n] = part(i);
      plan.before[i] = rom_crcs(link, lo, n, n).at(0);
      ++i;
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    const auto [lo, n] = part(i);
    plan.same.push_back(plan.before[i] == crc32_of(data.subspan(lo - start, n)));
  }
  const bool head = !whole(0) && (rewrite || !plan.same[0]);
  const bool tail = !whole(count - 1) && (rewrite || !plan.same[count - 1]);
  if (head) keep_around(link, plan, plan.first, start - plan.first);
  if (tail) keep_around(link, plan, static_cast<std::uint32_t>(end), static_cast<std::uint32_t>(last_end - end));
  for (std::size_t i = 0; i < count; ++i) {
    plan.known.push_back(whole(i) || (i == 0 && head) || (i == count - 1 && tail));
    plan.whole.push_back(whole(i));
  }
  // A rewrite counts the erases a partial block needs from its whole CRC.
  if (rewrite) {
    if (!whole(0)) plan.before[0] = rom_crcs(link, plan.first, plan.block, plan.block).at(0);
    if (count > 1 && !whole(count - 1))
      plan.before[count - 1] = rom_crcs(link, plan.offset(count - 1), plan.block, plan.block).at(0);
  }
  for (std::size_t i = 0; i < count; ++i) plan.after.push_back(crc32_of(plan.bytes(i)));
  return plan;
}

// Sends announced data in pieces of 16 KiB, paced by the blocking writes;
// the agent takes the whole block before it touches the ROM.
void send_pieces(CableLink& link, std::span<const std::uint8_t> data, Output& con) {
  for (std::size_t at = 0; at < data.size(); at += ROM_WRITE_CHUNK) {
    const auto piece = data.subspan(at, std::min<std::size_t>(ROM_WRITE_CHUNK, data.size() - at));
    link.write_words(piece);  // whole blocks: always whole words
    con.mark('W');
    con.progress_add(piece.size());
  }
}

struct Tally {
  std::size_t written = 0, erased = 0, unchanged = 0;
};

// One erase block from the plan, the tool's own copy with the bytes around
// the range as it read and checked them. The agent checks the block
// against its check word before anything is programmed, compares it with
// the ROM and erases only when a bit must go from 0 to 1 (or always, for a
// rewrite); a block that arrived corrupted is sent again.
void update_block(CableLink& link, const BlockPlan& plan, std::size_t i, Output& con, Tally& tally,
                  bool rewrite) {
  const std::uint32_t offset = plan.offset(i);
  // Never a block whose bytes around the range were not read: it would
  // take 0xFF in their place.
  if (!plan.known[i]) fail(strprintf("internal error: the erase block at 0x%X was to be written unread", offset));
  const std::uint32_t bytes_word = plan.block | (rewrite ? UPDATE_REWRITE : 0);
  const std::uint32_t check = write_check(plan.bytes(i), offset, bytes_word);
  for (int attempt = 1;; ++attempt) {
    link.agent_request(REQ_FLASH_UPDATE, offset, bytes_word, check);
    send_pieces(link, plan.bytes(i), con);
    switch (const std::uint32_t reply = link.read_word()) {
      case UPDATE_KEPT: ++tally.unchanged; return;
      case UPDATE_PROGRAMMED: ++tally.written; return;
      case UPDATE_ERASED:
        ++tally.written;
        if (!(rewrite && plan.blank(i))) ++tally.erased;  // a blank block skips its erase
        return;
      case WRITE_CHECK_FAILED:
        if (attempt < WRITE_TRIES) break;
        fail(strprintf("the erase block at 0x%X arrived corrupted %d times over the link; nothing "
                       "of it was written (check the cable and the cartridge's contacts)",
                       offset, WRITE_TRIES));
      default:
        fail(strprintf("the console did not write the erase block at 0x%X (it answered 0x%X)",
                       offset, reply));
    }
  }
}

// The reply word among `words` that differs from `got` in the fewest bits:
// the answers to a stream are far apart, so a bit flipped on the link still
// names the one the console sent.
std::uint32_t nearest(std::uint32_t got, std::initializer_list<std::uint32_t> words) {
  std::uint32_t best = *words.begin();
  for (const std::uint32_t w : words)
    if (std::popcount(got ^ w) < std::popcount(got ^ best)) best = w;
  return best;
}

// A block as REQ_FLASH_STREAM takes it: each piece, then its check word.
Bytes stream_form(std::span<const std::uint8_t> block, std::uint32_t offset) {
  Bytes out;
  out.reserve(block.size() / STREAM_PIECE_BYTES * (STREAM_PIECE_BYTES + 4));
  for (std::size_t at = 0; at < block.size(); at += STREAM_PIECE_BYTES) {
    const auto piece = block.subspan(at, STREAM_PIECE_BYTES);
    out.insert(out.end(), piece.begin(), piece.end());
    std::uint8_t check[4];
    put_le32(check, piece_check(piece, offset + static_cast<std::uint32_t>(at)));
    out.insert(out.end(), std::begin(check), std::end(check));
  }
  return out;
}

// Pieces go out a few at a time (about ROM_WRITE_CHUNK of data), so that
// each transfer stays short and the progress moves with the block.
void send_stream(CableLink& link, std::span<const std::uint8_t> form, Output& con) {
  constexpr std::size_t per_send = (ROM_WRITE_CHUNK / STREAM_PIECE_BYTES) * (STREAM_PIECE_BYTES + 4);
  for (std::size_t at = 0; at < form.size(); at += per_send) {
    const auto part = form.subspan(at, std::min(per_send, form.size() - at));
    link.write_words(part);
    con.mark('W');
    con.progress_add(part.size() / (STREAM_PIECE_BYTES + 4) * STREAM_PIECE_BYTES);
  }
}

// A whole block whose CRC showed it blank, or holding other data, which
// is then erased first: the chips program each piece while the next ones
// arrive (and the first ones arrive while they erase). The erase flag
// travels under the arguments' own check word. False when the block is
// still to be sent as an update: a refused request (nothing touched), a
// piece that arrived corrupted (nothing after it was programmed), or an
// answer the link changed; the update's compare then programs only what is
// missing.
enum class Streamed { WHOLE, UNTOUCHED, PART };

Streamed stream_block(CableLink& link, const BlockPlan& plan, std::size_t i, Output& con, Tally& tally) {
  const std::uint32_t offset = plan.offset(i);
  const bool erase = !plan.blank(i);
  const std::uint32_t bytes_word = plan.block | (erase ? STREAM_ERASE : 0);
  link.agent_request(REQ_FLASH_STREAM, offset, bytes_word, write_check({}, offset, bytes_word));
  if (nearest(link.read_word(), {STREAM_READY, WRITE_CHECK_FAILED, UPDATE_REFUSED}) != STREAM_READY)
    return Streamed::UNTOUCHED;
  send_stream(link, stream_form(plan.bytes(i), offset), con);
  std::uint32_t end[STREAM_END_WORDS] = {};
  Bytes raw(sizeof end);
  link.read_words(raw);
  for (std::size_t k = 0; k < STREAM_END_WORDS; ++k) end[k] = get_le32(&raw[4 * k]);
  if (erase) ++tally.erased;  // the console erased it, whatever came after
  const std::uint32_t outcome = erase ? UPDATE_ERASED : UPDATE_PROGRAMMED;
  if (end[0] != outcome || end[1] != plan.block / STREAM_PIECE_BYTES) return Streamed::PART;
  ++tally.written;
  return Streamed::WHOLE;
}

// A whole block goes as a stream where its pieces fit the erase block;
// anything else, and a stream that did not end whole, as an update.
void write_block(CableLink& link, const BlockPlan& plan, std::size_t i, Output& con, Tally& tally,
                 bool rewrite) {
  const Streamed streamed = plan.whole[i] && plan.block % STREAM_PIECE_BYTES == 0
                                ? stream_block(link, plan, i, con, tally)
                                : Streamed::UNTOUCHED;
  if (streamed == Streamed::WHOLE) return;
  // After a part of the stream, a rewrite must not erase what it programmed
  update_block(link, plan, i, con, tally, rewrite && streamed == Streamed::UNTOUCHED);
}

// Only the blocks whose bytes differ, one checked block at a time.
void write_changed(CableLink& link, const BlockPlan& plan, Output& con, Tally& tally,
                   std::vector<std::size_t>& sent) {
  std::uint64_t to_send = 0;
  for (std::size_t i = 0; i < plan.count(); ++i)
    if (!plan.holds(i)) to_send += plan.block;
  con.progress_start(to_send);
  for (std::size_t i = 0; i < plan.count(); ++i) {
    if (plan.holds(i))
      ++tally.unchanged;
    else {
      write_block(link, plan, i, con, tally, false);
      sent.push_back(i);
    }
  }
}

// The CRCs the console has now of the blocks `which` (in order), one
// request per run of neighbouring blocks: a block the write left alone was
// compared before it and needs no second look.
std::vector<std::uint32_t> crcs_now(CableLink& link, const BlockPlan& plan,
                                    const std::vector<std::size_t>& which) {
  std::vector<std::uint32_t> now;
  for (std::size_t at = 0; at < which.size();) {
    std::size_t run = 1;
    while (at + run < which.size() && which[at + run] == which[at] + run) ++run;
    const std::vector<std::uint32_t> part =
        rom_crcs(link, plan.offset(which[at]), static_cast<std::uint32_t>(run * plan.block), plan.block);
    now.insert(now.end(), part.begin(), part.end());
    at += run;
  }
  return now;
}

// Only the blocks that were sent to the console are read back; a block that
// does not verify is written again from the tool's copy, never from what
// the ROM holds now, so the bytes around the range come back too.
void verify_blocks(CableLink& link, const BlockPlan& plan, std::vector<std::size_t> sent,
                   Output& con) {
  for (int round = 1; !sent.empty(); ++round) {
    const std::vector<std::uint32_t> now = crcs_now(link, plan, sent);
    std::vector<std::size_t> bad;
    std::vector<std::uint32_t> bad_now;
    for (std::size_t k = 0; k < sent.size(); ++k)
      if (now[k] != plan.after[sent[k]]) {
        bad.push_back(sent[k]);
        bad_now.push_back(now[k]);
      }
    if (bad.empty()) break;
    if (round == VERIFY_ROUNDS)
      fail(strprintf("verify failed: the erase block at 0x%X does not hold what was written "
                     "(CRC32 %08X, expected %08X)",
                     plan.offset(bad.front()), bad_now.front(), plan.after[bad.front()]));
    Tally tally;
    for (std::size_t k = 0; k < bad.size(); ++k) {
      const std::size_t i = bad[k];
      con.print("The erase block at 0x%X does not hold what was written (CRC32 %08X, expected "
                "%08X): writing it again.\n",
                plan.offset(i), bad_now[k], plan.after[i]);
      update_block(link, plan, i, con, tally, false);
      if (con.mid_line) con.print("\n");
    }
    check_flash_failures(link);
    sent = bad;  // the others held what was written
  }
  con.print("Verify OK: %s %s what was written.\n", count_of(plan.count(), "erase block").c_str(),
            plan.count() == 1 ? "holds" : "hold");
}

}  // namespace

void check_flash_failures(CableLink& link) {
  std::uint32_t reply[3] = {};
  link.agent_request(REQ_FLASH_FAILURES, 0, 0, 0, reply);
  const std::uint32_t count = reply[0], offset = reply[1], cause = reply[2];
  if (count == 0) return;
  const char* what = (cause & FLASH_FAIL_ERASE) ? "erase" : "program";
  const std::string more = count > 1 ? strprintf(" (%u failures in all)", count) : std::string();
  if (cause & FLASH_FAIL_PROTECTED)
    fail(strprintf("the flash ROM refused the %s at 0x%X: its sector is protected (a programmer lifts the "
                   "protection; no byte of that sector changed)%s",
                   what, offset, more.c_str()));
  if (cause & FLASH_FAIL_TIMEOUT)
    fail(strprintf("the flash ROM did not finish the %s at 0x%X: the chip never reported ready%s", what, offset,
                   more.c_str()));
  fail(strprintf("the flash ROM failed the %s at 0x%X (chip status 0x%02X)%s", what, offset,
                 cause & FLASH_FAIL_STATUS_MASK, more.c_str()));
}

void require_flash_rom(const CartInfo& cart, const char* what) {
  // Mask ROMs and slots without a ROM take no flash commands; a flash ROM
  // that reports no erase block cannot be stepped through block by block.
  if (cart.rom_kind == ROM_KIND_MASK || cart.rom_kind == ROM_KIND_NONE)
    fail(strprintf("this cartridge cannot be %s: its ROM (%s) is not flash", what,
                   cart.rom_kind == ROM_KIND_MASK ? "mask ROM" : "none found"));
  if (cart.erase_block <= 0)
    fail(strprintf("this cartridge cannot be %s: its flash ROM reports no erase block", what));
}

void write_rom_range(CableLink& link, const CartInfo& cart, std::uint32_t start,
                     std::span<const std::uint8_t> data, Output& con, WriteOptions options) {
  if (data.empty()) return;
  const BlockPlan plan = plan_blocks(link, cart, start, data, options.all_blocks);
  Tally tally;
  std::vector<std::size_t> sent;  // the blocks the console was sent, in order
  if (options.all_blocks) {
    // Every block, whole: the agent erases each one that is not blank,
    // then programs it.
    con.progress_start(plan.image.size());
    for (std::size_t i = 0; i < plan.count(); ++i) {
      write_block(link, plan, i, con, tally, true);
      sent.push_back(i);
    }
  } else {
    write_changed(link, plan, con, tally, sent);
  }
  con.progress_end();
  if (con.mid_line) con.print("\n");
  if (!sent.empty()) check_flash_failures(link);  // nothing sent, nothing failed
  con.print("%zu of %s written (%zu erased first), %zu unchanged.\n", tally.written,
            count_of(plan.count(), "erase block").c_str(), tally.erased, tally.unchanged);
  if (options.verify) verify_blocks(link, plan, std::move(sent), con);
}

}  // namespace kartex
