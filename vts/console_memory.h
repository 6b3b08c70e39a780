#pragma once
// Console memory through the agent: the video stream reaches the console
// only by writing and reading its address space, one agent request and one
// transfer per call, with nothing else on the link in between.

#include <cstdint>
#include <span>

#include "link/cable_link.h"

namespace kartex {

// Writes `words` (the block's 32-bit words as they go on the wire, low byte
// first; a multiple of 4 bytes, at most 65,535 words) to console memory from
// `address` on.
void gba_write_block(CableLink& link, std::uint32_t address, std::span<const std::uint8_t> words);
void gba_write_block(CableLink& link, std::uint32_t address, std::span<const std::uint32_t> words);

// Writes one word whose low half is `value16` and whose high half is 0: the
// agent stores a word as two halfwords, so a 16-bit register gets its value
// and the register above it gets 0.
void gba_write_reg(CableLink& link, std::uint32_t address, std::uint16_t value16);

// One encoded frame (vts/frame_encode.h) for mode-4 page `page` (0 or 1),
// after which the agent writes `display` to the display control: one
// request, `ops` padded to whole words.
void gba_video_frame(CableLink& link, int page, std::span<const std::uint16_t> ops, std::uint16_t display);

// The 32-bit word at `address`.
std::uint32_t gba_read_word(CableLink& link, std::uint32_t address);

}  // namespace kartex
