#pragma once
// The erase blocks of one flash chip, from its first byte: runs of equal
// blocks, e.g. 63 x 64 KiB then 8 x 8 KiB for a top-boot 32 Mbit part.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kartex {

struct BlockRun {
  std::uint32_t count;
  std::uint32_t bytes;
};

struct Block {
  std::uint32_t index;  // 0 = the block at offset 0
  std::uint32_t start;  // byte offset in the chip
  std::uint32_t bytes;
};

class BlockLayout {
 public:
  BlockLayout(std::initializer_list<BlockRun> runs);

  std::uint32_t chip_bytes() const { return total_; }
  std::uint32_t block_count() const { return static_cast<std::uint32_t>(starts_.size()); }
  // The block holding byte `offset` (< chip_bytes()).
  Block block_at(std::uint32_t offset) const;
  // The largest block: smaller ones are the part's parameter blocks.
  std::uint32_t largest_block() const;
  const std::vector<BlockRun>& runs() const { return runs_; }
  // "63 x 64 KiB + 8 x 8 KiB"
  std::string describe() const;

 private:
  std::vector<BlockRun> runs_;
  std::vector<std::uint32_t> starts_;  // every block's start, ascending
  std::uint32_t total_ = 0;
};

}  // namespace kartex
