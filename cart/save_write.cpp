#include <algorithm>
#include <vector>

#include "cart/agent_crc.h"
#include "cart/commands.h"
#include "cart/ranges.h"
#include "cart/save_plan.h"
#include "cart/sram_write_ahead.h"
#include "contract/hw/save_chips.h"
#include "common/digest.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "common/failure.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

// One save block from the tool's copy, written by the agent only once it
// matched its check word; a block that arrived corrupted is sent again.
void write_save_block(CableLink& link, std::uint32_t offset, std::span<const std::uint8_t> block,
                      Output& con) {
  const auto bytes = static_cast<std::uint32_t>(block.size());
  const std::uint32_t check = write_check(block, offset, bytes);
  for (int attempt = 1;; ++attempt) {
    link.agent_request(REQ_SAVE_WRITE_CHECKED, offset, bytes, check);
    if (attempt == 1) con.mark('W');
    link.write_words(block);
    const std::uint32_t reply = link.read_word();  // the block is in the chip before the next one goes
    if (reply == REPLY_DONE) return;
    // The agent has read the sector back and written it again while it
    // differed; the blocks before this one hold the new bytes, the ones after
    // it are untouched.
    if (reply == SAVE_WRITE_FAILED)
      fail(strprintf("the save chip did not keep the block at 0x%X: it read back wrong after every try (a "
                     "worn-out chip); the blocks before it hold the new save, the block itself is lost and "
                     "the ones after it are unchanged",
                     offset));
    refuse_or_retry_save_block(offset, reply, attempt);
  }
}

// One span of the save from the tool's copy: one checked write, a mark for
// each save block it touches.
void write_span(CableLink& link, const CartInfo& cart, std::uint32_t start, std::span<const std::uint8_t> sent,
                const SaveSpan& span, Output& con) {
  const auto block = static_cast<std::uint32_t>(cart.save_block);
  write_save_block(link, span.offset, sent.subspan(span.offset - start, span.bytes), con);
  const std::size_t marks = blocks_touched({span}, block);
  for (std::size_t i = 1; i < marks; ++i) con.mark('W');
  con.progress_add(span.bytes);
}

// The spans of [from, to) (offsets into `sent`) whose bytes on the chip are
// not what was sent: the console's CRCs of a memory-mapped save, a read of an
// EEPROM.
std::vector<SaveSpan> spans_differing(CableLink& link, const CartInfo& cart, std::uint32_t start,
                                      std::span<const std::uint8_t> sent, std::uint32_t from, std::uint32_t to) {
  const auto block = static_cast<std::uint32_t>(cart.save_block);
  if (save_is_mapped(cart.save_type)) {
    const std::vector<std::uint32_t> crcs = save_crcs(link, start + from, to - from, block);
    std::vector<bool> differs;
    for (std::uint32_t i = 0; i < crcs.size(); ++i)
      differs.push_back(crcs[i] != crc32_of(sent.subspan(from + std::size_t{i} * block, block)));
    return spans_of_blocks(cart.save_type, start + from, block, differs);
  }
  const SaveGeometry geometry = save_geometry(cart.save_type, cart.variant);
  std::vector<std::uint8_t> back(to - from);
  for (std::uint32_t pos = from; pos < to; pos += block) {
    const std::uint32_t n = std::min(block, to - pos);
    link.agent_request(geometry.read_request, geometry.read_base + start + pos, n, 0);
    link.read_words(std::span(back).subspan(pos - from, n));
  }
  return spans_of_bytes(start + from, block, EEPROM_BLOCK_BYTES, back, sent.subspan(from, to - from));
}

// What was written is checked where it was written (the rest held the file
// already when it was compared); a span that does not verify is written again
// from the tool's copy.
void verify_save(CableLink& link, const CartInfo& cart, std::uint32_t start, std::span<const std::uint8_t> sent,
                 const std::vector<SaveSpan>& written, Output& con) {
  const std::size_t blocks = sent.size() / static_cast<std::size_t>(cart.save_block);
  // The agent stores SRAM blocks as they arrive, reads every byte back and
  // sums what it read into the block's check: a block it answered done
  // for holds what was sent, so a second pass would read the same bytes
  // again for nothing.
  const bool read_back = cart.save_type == SAVE_TYPE_SRAM_32K || cart.save_type == SAVE_TYPE_SRAM_LARGE;
  if (!written.empty() && !read_back) {
    const std::uint32_t from = written.front().offset - start;
    const std::uint32_t to = written.back().offset + written.back().bytes - start;
    for (int round = 1;; ++round) {
      const std::vector<SaveSpan> bad = spans_differing(link, cart, start, sent, from, to);
      if (bad.empty()) break;
      if (round == VERIFY_ROUNDS)
        fail(strprintf("verify failed: the save block at 0x%X does not hold what was written", bad.front().offset));
      for (const SaveSpan& span : bad) {
        con.print("The save block at 0x%X does not hold what was written: writing it again.\n", span.offset);
        write_span(link, cart, start, sent, span, con);
        if (con.mid_line) con.print("\n");
      }
    }
  }
  con.print("Verify OK: %s %s what was written.\n", count_of(blocks, "save block").c_str(),
            blocks == 1 ? "holds" : "hold");
}

}  // namespace

void save_write(CableLink& link, const CartInfo& cart, Range range,
                std::span<const std::uint8_t> file, Output& con, EepromOrder order,
                WriteOptions options) {
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  const std::int32_t length =
      range.length == NOT_GIVEN ? static_cast<std::int32_t>(file.size()) : range.length;
  require_cartridge(cart);
  require_save_memory(cart, "written");
  if (file.empty()) fail("nothing to write: the file is empty");
  if (start < 0 || length < 0) fail("a start offset or length cannot be negative");
  if (length == 0) fail("nothing to write: the length is 0 (give at least one byte)");
  // Only the whole range, or nothing: the user gives the range that fits.
  if (std::int64_t{cart.save_size} - start < length) {
    if (start < cart.save_size) con.print("%s", LINE_WRITE_LONGER_THAN_DEVICE);
    refuse_past_end("save memory", cart.save_size, start, length);
  }
  if (length > static_cast<std::int32_t>(file.size())) {
    con.print("%s", LINE_WRITE_LARGER_THAN_FILE);
    fail(strprintf("the file holds 0x%zX bytes, fewer than the 0x%X asked: give a length of at most 0x%zX",
                   file.size(), static_cast<unsigned>(length), file.size()));
  }
  const std::int32_t mask = cart.save_block - 1;
  if ((length & mask) != 0 || (start & mask) != 0) fail_out(boundary_message(cart.save_block));
  con.print(LINE_BYTES_WRITING, static_cast<unsigned>(length));
  // The bytes as they go to the chip (EEPROM blocks in the tool's order).
  std::vector<std::uint8_t> sent(file.begin(), file.begin() + length);
  convert_eeprom_order(cart, order, sent);
  const auto first = static_cast<std::uint32_t>(start);
  const auto bytes = static_cast<std::uint32_t>(length);
  // Only what differs from the chip is sent: a save written again unchanged
  // costs one CRC pass (or one read of an EEPROM), not an erase per sector.
  std::vector<SaveSpan> spans;
  const bool sram = cart.save_type == SAVE_TYPE_SRAM_32K || cart.save_type == SAVE_TYPE_SRAM_LARGE;
  if (sram && !options.all_blocks && cart.save_block == SAVE_AHEAD_BLOCK) {
    // The compare runs inside the writes (cart/sram_write_ahead.h)
    spans = sram_write_differing(link, cart, first, sent, con);
    if (options.verify) {
      if (con.mid_line) con.print("\n");
      verify_save(link, cart, first, sent, spans, con);
    }
    return;
  }
  if (options.all_blocks) {
    const std::vector<bool> every(bytes / static_cast<std::uint32_t>(cart.save_block), true);
    spans = spans_of_blocks(cart.save_type, first, static_cast<std::uint32_t>(cart.save_block), every);
  } else {
    spans = spans_differing(link, cart, first, sent, 0, bytes);
  }
  std::uint64_t to_send = 0;
  for (const SaveSpan& span : spans) to_send += span.bytes;
  con.progress_start(to_send);
  for (const SaveSpan& span : spans) write_span(link, cart, first, sent, span, con);
  con.progress_end();
  if (options.verify) {
    if (con.mid_line) con.print("\n");
    verify_save(link, cart, first, sent, spans, con);
  }
}

}  // namespace kartex
