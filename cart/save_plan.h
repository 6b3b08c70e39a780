#pragma once
// Which parts of a save write go to the chip: only those whose bytes differ
// from what the chip holds, each part one checked write request. A part
// never mixes units the chip is written in: the erase blocks of the save
// area in the ROM's flash take their changed sectors in one request, so
// that the block is erased once; SRAM takes a run of differing blocks in
// one request inside a 64 KiB bank (a request costs USB turn-arounds);
// FLASH saves take their sectors one by one, so that a sector that fails
// is named; an EEPROM only the 8-byte blocks from the first to the last
// that differ.

#include <cstdint>
#include <span>
#include <vector>

namespace kartex {

struct SaveSpan {
  std::uint32_t offset = 0;  // save offset
  std::uint32_t bytes = 0;
  friend bool operator==(const SaveSpan&, const SaveSpan&) = default;
};

// The unit of the save that holds `offset` and that one request may cover
// in full: an erase block of the save area in the ROM's flash, a bank of
// SRAM, else the save block.
std::uint32_t save_write_unit(std::int32_t save_type, std::uint32_t offset, std::uint32_t block);

// From the blocks of `block` bytes from `start` that differ: the requests,
// each from the first differing block of a unit to the last in it (SRAM:
// to the end of the run).
std::vector<SaveSpan> spans_of_blocks(std::int32_t save_type, std::uint32_t start, std::uint32_t block,
                                      const std::vector<bool>& differs);

// From what the chip holds (`now`) and what it must hold (`want`), both from
// `start` (a multiple of `block`): in each block, the bytes from the first
// `grain` that differs to the end of the last.
std::vector<SaveSpan> spans_of_bytes(std::uint32_t start, std::uint32_t block, std::uint32_t grain,
                                     std::span<const std::uint8_t> now, std::span<const std::uint8_t> want);

// Save blocks of `block` bytes that the spans touch.
std::size_t blocks_touched(const std::vector<SaveSpan>& spans, std::uint32_t block);

// After a checked save write answered `reply` (not DONE) on its `attempt`th
// send: returns when the block arrived corrupted and may be sent again,
// fails with the save's line otherwise.
void refuse_or_retry_save_block(std::uint32_t offset, std::uint32_t reply, int attempt);

}  // namespace kartex
