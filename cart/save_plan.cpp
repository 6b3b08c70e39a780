#include "cart/save_plan.h"

#include <algorithm>

#include "cart/agent_crc.h"
#include "common/failure.h"
#include "common/output.h"
#include "contract/cart_facts.h"
#include "contract/hw/save_chips.h"
#include "contract/wire.h"

namespace kartex {

std::uint32_t save_write_unit(std::int32_t save_type, std::uint32_t offset, std::uint32_t block) {
  if (save_type == SAVE_TYPE_ROM_FLASH)
    return offset < ROM_SAVE_SINGLE_SECTORS ? ROM_SAVE_BLOCK_SIZE : ROM_SAVE_SECTOR_SIZE;
  if (save_type == SAVE_TYPE_SRAM_32K || save_type == SAVE_TYPE_SRAM_LARGE) return SAVE_WINDOW_SIZE;
  return block;
}

std::vector<SaveSpan> spans_of_blocks(std::int32_t save_type, std::uint32_t start, std::uint32_t block,
                                      const std::vector<bool>& differs) {
  std::vector<SaveSpan> spans;
  for (std::size_t i = 0; i < differs.size(); ++i) {
    if (!differs[i]) continue;
    const std::uint32_t first = start + static_cast<std::uint32_t>(i) * block;
    const std::uint32_t unit = std::max(save_write_unit(save_type, first, block), block);
    const std::uint32_t unit_end = first / unit * unit + unit;
    // The ROM save area rewrites its erase block whole anyway; SRAM takes
    // only blocks that differ, a run of them in one request.
    const bool fill_gaps = save_type == SAVE_TYPE_ROM_FLASH;
    std::size_t last = i;
    for (std::size_t j = i + 1; j < differs.size() && start + j * block < unit_end; ++j) {
      if (differs[j]) last = j;
      else if (!fill_gaps) break;
    }
    spans.push_back({first, static_cast<std::uint32_t>(last - i + 1) * block});
    i = last;
  }
  return spans;
}

std::vector<SaveSpan> spans_of_bytes(std::uint32_t start, std::uint32_t block, std::uint32_t grain,
                                     std::span<const std::uint8_t> now, std::span<const std::uint8_t> want) {
  std::vector<SaveSpan> spans;
  const std::size_t size = std::min(now.size(), want.size());
  for (std::size_t at = 0; at < size; at += block) {
    const std::size_t end = std::min<std::size_t>(at + block, size);
    std::size_t first = end, last = end;
    for (std::size_t g = at; g < end; g += grain) {
      const std::size_t n = std::min<std::size_t>(grain, end - g);
      if (std::equal(now.begin() + static_cast<std::ptrdiff_t>(g), now.begin() + static_cast<std::ptrdiff_t>(g + n),
                     want.begin() + static_cast<std::ptrdiff_t>(g)))
        continue;
      if (first == end) first = g;
      last = g + n;
    }
    if (first != end)
      spans.push_back({start + static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last - first)});
  }
  return spans;
}

std::size_t blocks_touched(const std::vector<SaveSpan>& spans, std::uint32_t block) {
  std::size_t n = 0;
  for (const SaveSpan& s : spans)
    if (s.bytes > 0) n += (s.offset + s.bytes - 1) / block - s.offset / block + 1;
  return n;
}

void refuse_or_retry_save_block(std::uint32_t offset, std::uint32_t reply, int attempt) {
  if (reply != WRITE_CHECK_FAILED)
    fail(strprintf("the console did not write the save block at 0x%X (it answered 0x%X)", offset, reply));
  if (attempt == WRITE_TRIES)
    fail(strprintf("the save block at 0x%X arrived corrupted %d times over the link; nothing of "
                   "it was written (check the cable and the cartridge's contacts)",
                   offset, WRITE_TRIES));
}

}  // namespace kartex
