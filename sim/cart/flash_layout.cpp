#include "sim/cart/flash_layout.h"

#include <algorithm>

namespace kartex {

BlockLayout::BlockLayout(std::initializer_list<BlockRun> runs) : runs_(runs) {
  for (const BlockRun& run : runs_)
    for (std::uint32_t i = 0; i < run.count; ++i) {
      starts_.push_back(total_);
      total_ += run.bytes;
    }
}

Block BlockLayout::block_at(std::uint32_t offset) const {
  const auto next = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto index = static_cast<std::uint32_t>(next - starts_.begin() - 1);
  const std::uint32_t end = next == starts_.end() ? total_ : *next;
  return {index, starts_[index], end - starts_[index]};
}

std::uint32_t BlockLayout::largest_block() const {
  std::uint32_t largest = 0;
  for (const BlockRun& run : runs_) largest = std::max(largest, run.bytes);
  return largest;
}

std::string BlockLayout::describe() const {
  std::string text;
  for (const BlockRun& run : runs_) {
    if (!text.empty()) text += " + ";
    text += std::to_string(run.count) + " x " + std::to_string(run.bytes / 1024) + " KiB";
  }
  return text;
}

}  // namespace kartex
