#pragma once
// The default cartridge: a generated ROM with a valid header.

#include <cstdint>
#include <span>
#include <vector>

namespace kartex {

constexpr std::uint32_t DEFAULT_ROM_SIZE = 4 * 1024 * 1024;
constexpr std::uint32_t HEADER_LOGO = 0x04;
constexpr std::uint32_t HEADER_LOGO_SIZE = 156;
constexpr std::uint32_t HEADER_TITLE = 0xA0;
constexpr std::uint32_t HEADER_GAME_CODE = 0xAC;
constexpr std::uint32_t HEADER_MAKER = 0xB0;
constexpr std::uint32_t HEADER_FIXED = 0xB2;  // must hold 0x96
constexpr std::uint32_t HEADER_COMPLEMENT = 0xBD;
constexpr std::uint32_t HEADER_SIZE = 0xC0;

// The logo bitmap the console's boot code compares.
std::span<const std::uint8_t> header_logo();
// The complement check over 0xA0-0xBC.
std::uint8_t header_complement(std::span<const std::uint8_t> rom);
// The default ROM: header ("KARTEX DEMO") then contents that differ at
// every halfword, so that a dump reading wrong addresses is caught.
std::vector<std::uint8_t> make_default_rom(std::uint32_t size = DEFAULT_ROM_SIZE);
// The byte make_default_rom puts at `offset` (>= HEADER_SIZE).
std::uint8_t default_rom_byte(std::uint32_t offset);

}  // namespace kartex
