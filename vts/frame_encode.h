#pragma once
// A console frame as changes to the page it overwrites: the ops the agent's
// video decoder applies (contract/wire.h, VIDEO_OP_*), in pixel pairs,
// because video RAM is written a halfword at a time.

#include <cstdint>
#include <span>
#include <vector>

namespace kartex {

constexpr std::uint32_t VIDEO_PAGE_PAIRS = 19200;

// Ops that turn `same` (what the page holds now: the picture two frames
// back) into `target`, reading copies from `same` as the decoder leaves it
// at that moment or from `other` (the page shown). Padded with an empty
// skip to whole link words. Each argument is a whole page.
std::vector<std::uint16_t> encode_frame(std::span<const std::uint8_t> target,
                                        std::span<const std::uint8_t> same,
                                        std::span<const std::uint8_t> other);

}  // namespace kartex
