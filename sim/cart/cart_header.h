#pragma once
// The default cartridge: a generated ROM with a valid header.

#include <cstdint>
#include <span>
#include <vector>

#include "contract/hw/cart_header.h"

namespace kartex {

constexpr std::uint32_t DEFAULT_ROM_SIZE = 4 * 1024 * 1024;

// The logo bitmap the console's boot code compares.
std::span<const std::uint8_t> header_logo();
// The default ROM: header ("KARTEX DEMO") then contents that differ at
// every halfword, so that a dump reading wrong addresses is caught.
std::vector<std::uint8_t> make_default_rom(std::uint32_t size = DEFAULT_ROM_SIZE);
// The byte make_default_rom puts at `offset` (>= HDR_SIZE).
std::uint8_t default_rom_byte(std::uint32_t offset);

}  // namespace kartex
