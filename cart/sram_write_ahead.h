#pragma once
// The save write of SRAM without a compare pass in front of it: each
// checked write of a run of differing blocks brings back the CRC-32 of the
// blocks after it, summed by the console while the run's words arrive, so
// that only the first blocks, and those after a block that was left as it
// was, cost a CRC request of their own.

#include <cstdint>
#include <span>
#include <vector>

#include "cart/save_plan.h"

namespace kartex {

class CableLink;
struct Output;
struct CartInfo;

// Blocks asked for by a CRC request at the start of a range, and summed
// ahead by each write: the console sums a block ahead in about the time a
// block of its own words takes on the link.
constexpr std::uint32_t SRAM_AHEAD_BLOCKS = 2;

// Writes the blocks of [start, start + sent.size()) of an SRAM save
// (cart.save_block bytes each, a multiple of them) whose bytes on the chip
// differ from `sent`; returns the spans written.
std::vector<SaveSpan> sram_write_differing(CableLink& link, const CartInfo& cart, std::uint32_t start,
                                           std::span<const std::uint8_t> sent, Output& con);

}  // namespace kartex
