#pragma once
// The console's dump of a ROM range, block by block: each block's words with
// the CRC-32 the console summed while they moved, or, for a block whose
// halfwords all hold one value, that value alone, which is filled in here.

#include <cstdint>
#include <functional>
#include <vector>

namespace kartex {

class CableLink;

struct DumpedBlock {
  std::uint32_t offset = 0;         // ROM offset of the block's first byte
  std::vector<std::uint8_t> bytes;  // as the ROM holds them, filled in for a uniform block
  bool filled = false;              // the console named its value instead of sending it
  std::uint16_t value = 0;          // that value, a halfword
  bool good = false;                // its CRC, or its header pair, agreed: nothing changed on the link
};

using DumpedFn = std::function<void(DumpedBlock&&)>;

// [offset, offset + bytes), both multiples of 4, in blocks on the grid of
// DUMP_BLOCK_BYTES, handed to `each` in order as they arrive. A block that
// changed on the link comes with good false; a request the console refused
// (its arguments changed on the way) is sent again; a header that no
// longer tells how many words follow fails with one line.
void dump_rom(CableLink& link, std::uint32_t offset, std::uint32_t bytes, const DumpedFn& each);

}  // namespace kartex
