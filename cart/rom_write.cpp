#include "cart/rom_write.h"

#include <algorithm>
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
  Bytes image;              // the blocks' new contents, whole
  std::vector<std::uint32_t> before;  // the console's CRC of each block now
  std::vector<std::uint32_t> after;   // the CRC each block must have

  std::size_t count() const { return before.size(); }
  std::uint32_t offset(std::size_t i) const { return first + static_cast<std::uint32_t>(i) * block; }
  std::span<const std::uint8_t> bytes(std::size_t i, std::size_t n = 1) const {
    return std::span(image).subspan(i * block, n * block);
  }
  bool blank(std::size_t i) const { return before[i] == crc32_blank(block); }
  bool holds(std::size_t i) const { return before[i] == after[i]; }
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

BlockPlan plan_blocks(CableLink& link, const CartInfo& cart, std::uint32_t start,
                      std::span<const std::uint8_t> data) {
  BlockPlan plan;
  plan.block = static_cast<std::uint32_t>(cart.erase_block);
  const std::uint64_t end = std::uint64_t{start} + data.size();
  plan.first = start / plan.block * plan.block;
  const std::uint64_t last_end = (end + plan.block - 1) / plan.block * plan.block;
  plan.image.assign(last_end - plan.first, 0xFF);
  std::copy(data.begin(), data.end(), plan.image.begin() + (start - plan.first));
  plan.before = rom_crcs(link, plan.first, static_cast<std::uint32_t>(plan.image.size()), plan.block);
  keep_around(link, plan, plan.first, start - plan.first);
  keep_around(link, plan, static_cast<std::uint32_t>(end),
              static_cast<std::uint32_t>(last_end - end));
  for (std::size_t i = 0; i < plan.count(); ++i) plan.after.push_back(crc32_of(plan.bytes(i)));
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

// Only the blocks whose bytes differ, one checked block at a time.
void write_changed(CableLink& link, const BlockPlan& plan, Output& con, Tally& tally) {
  std::uint64_t to_send = 0;
  for (std::size_t i = 0; i < plan.count(); ++i)
    if (!plan.holds(i)) to_send += plan.block;
  con.progress_start(to_send);
  for (std::size_t i = 0; i < plan.count(); ++i) {
    if (plan.holds(i))
      ++tally.unchanged;
    else
      update_block(link, plan, i, con, tally, false);
  }
}

// The blocks whose CRC on the console is not the one of the tool's copy.
std::vector<std::size_t> blocks_differing(CableLink& link, const BlockPlan& plan,
                                          std::vector<std::uint32_t>& now) {
  now = rom_crcs(link, plan.first, static_cast<std::uint32_t>(plan.image.size()), plan.block);
  std::vector<std::size_t> bad;
  for (std::size_t i = 0; i < plan.count(); ++i)
    if (now[i] != plan.after[i]) bad.push_back(i);
  return bad;
}

// A block that does not verify is written again from the tool's copy, never
// from what the ROM holds now, so the bytes around the range come back too.
void verify_blocks(CableLink& link, const BlockPlan& plan, Output& con) {
  for (int round = 1;; ++round) {
    std::vector<std::uint32_t> now;
    const std::vector<std::size_t> bad = blocks_differing(link, plan, now);
    if (bad.empty()) break;
    const std::size_t first = bad.front();
    if (round == VERIFY_ROUNDS)
      fail(strprintf("verify failed: the erase block at 0x%X does not hold what was written "
                     "(CRC32 %08X, expected %08X)",
                     plan.offset(first), now[first], plan.after[first]));
    Tally tally;
    for (std::size_t i : bad) {
      con.print("The erase block at 0x%X does not hold what was written (CRC32 %08X, expected "
                "%08X): writing it again.\n",
                plan.offset(i), now[i], plan.after[i]);
      update_block(link, plan, i, con, tally, false);
      if (con.mid_line) con.print("\n");
    }
    check_flash_failures(link);
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
  const BlockPlan plan = plan_blocks(link, cart, start, data);
  Tally tally;
  if (options.all_blocks) {
    // Every block, whole: the agent erases each one that is not blank,
    // then programs it.
    con.progress_start(plan.image.size());
    for (std::size_t i = 0; i < plan.count(); ++i) update_block(link, plan, i, con, tally, true);
  } else {
    write_changed(link, plan, con, tally);
  }
  con.progress_end();
  if (con.mid_line) con.print("\n");
  check_flash_failures(link);
  con.print("%zu of %s written (%zu erased first), %zu unchanged.\n", tally.written,
            count_of(plan.count(), "erase block").c_str(), tally.erased, tally.unchanged);
  if (options.verify) verify_blocks(link, plan, con);
}

}  // namespace kartex
