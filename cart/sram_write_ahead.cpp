#include "cart/sram_write_ahead.h"

#include <algorithm>
#include <optional>

#include "cart/agent_crc.h"
#include "cart/cart_info.h"
#include "common/digest.h"
#include "common/output.h"
#include "link/cable_link.h"

namespace kartex {

namespace {

static_assert(SRAM_AHEAD_BLOCKS <= SAVE_AHEAD_MAX);

// One run of blocks written once it matched its check word, sent again
// while the link corrupts it; returns the CRCs of the `ahead` blocks after
// it, which only a write that checked brings (a failed one may have had
// its count changed on the link).
std::vector<std::uint32_t> write_run(CableLink& link, std::uint32_t offset, std::span<const std::uint8_t> run,
                                     std::uint32_t ahead, Output& con) {
  const auto bytes = static_cast<std::uint32_t>(run.size());
  const std::uint32_t bytes_word = bytes | ahead << SAVE_AHEAD_SHIFT;
  const std::uint32_t check = write_check(run, offset, bytes_word);
  for (int attempt = 1;; ++attempt) {
    link.agent_request(REQ_SAVE_WRITE_AHEAD, offset, bytes_word, check);
    if (attempt == 1) con.mark('W');
    link.write_words(run);
    const std::uint32_t reply = link.read_word();
    if (reply == REPLY_DONE) {
      std::vector<std::uint8_t> raw(std::size_t{ahead} * 4);
      if (ahead != 0) link.read_words(raw);
      std::vector<std::uint32_t> crcs;
      for (std::uint32_t i = 0; i < ahead; ++i) crcs.push_back(get_le32(&raw[i * 4]));
      return crcs;
    }
    refuse_or_retry_save_block(offset, reply, attempt);
  }
}

}  // namespace

std::vector<SaveSpan> sram_write_differing(CableLink& link, const CartInfo& cart, std::uint32_t start,
                                           std::span<const std::uint8_t> sent, Output& con) {
  const auto block = static_cast<std::uint32_t>(cart.save_block);
  const auto count = static_cast<std::uint32_t>(sent.size() / block);
  const auto bytes_of = [&](std::uint32_t i) { return sent.subspan(std::size_t{i} * block, block); };
  // What the chip's blocks sum to, once the console said
  std::vector<std::optional<std::uint32_t>> chip(count);
  std::vector<SaveSpan> written;
  bool kept_one = false;
  con.progress_start(sent.size());
  for (std::uint32_t i = 0; i < count;) {
    if (!chip[i]) {
      // At the start, the first blocks; after a block left as it was, the
      // rest at once: a save that mostly holds the file costs one pass.
      const std::uint32_t n = kept_one ? count - i : std::min(SRAM_AHEAD_BLOCKS, count - i);
      const std::vector<std::uint32_t> crcs = save_crcs(link, start + i * block, n * block, block);
      for (std::uint32_t k = 0; k < n; ++k) chip[i + k] = crcs[k];
    }
    if (*chip[i] == crc32_of(bytes_of(i))) {
      kept_one = true;
      con.progress_add(block);
      ++i;
      continue;
    }
    // The run of known differing blocks from i, inside its bank
    const std::uint32_t first = start + i * block;
    const std::uint32_t unit = save_write_unit(cart.save_type, first, block);
    const std::uint32_t unit_end = first / unit * unit + unit;
    std::uint32_t end = i + 1;
    while (end < count && start + end * block < unit_end && chip[end] && *chip[end] != crc32_of(bytes_of(end)))
      ++end;
    std::uint32_t ahead = 0;
    while (end + ahead < count && ahead < SRAM_AHEAD_BLOCKS && !chip[end + ahead]) ++ahead;
    const std::vector<std::uint32_t> crcs =
        write_run(link, first, sent.subspan(std::size_t{i} * block, std::size_t{end - i} * block), ahead, con);
    for (std::uint32_t k = 0; k < ahead; ++k) chip[end + k] = crcs[k];
    for (std::uint32_t k = i + 1; k < end; ++k) con.mark('W');
    con.progress_add(std::uint64_t{end - i} * block);
    written.push_back({first, (end - i) * block});
    i = end;
  }
  con.progress_end();
  return written;
}

}  // namespace kartex
