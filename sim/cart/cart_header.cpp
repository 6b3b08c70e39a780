#include "sim/cart/cart_header.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kartex {

namespace {

constexpr std::array<std::uint8_t, HDR_LOGO_SIZE> LOGO = {CART_LOGO_BYTES};

constexpr std::uint32_t ARM_BRANCH_TO_HEADER_END = 0xEA00002E;  // b 0x080000C0
constexpr std::uint32_t ARM_BRANCH_SELF = 0xEAFFFFFE;          // b .

void put32(std::vector<std::uint8_t>& rom, std::uint32_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) rom[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::span<const std::uint8_t> header_logo() { return LOGO; }

std::uint8_t default_rom_byte(std::uint32_t offset) {
  // A cheap integer hash: every address gets its own byte, no period that
  // a short address error could hide behind.
  std::uint32_t x = offset * 0x9E3779B1u;
  x ^= x >> 15;
  x *= 0x85EBCA77u;
  x ^= x >> 13;
  return static_cast<std::uint8_t>(x);
}

std::vector<std::uint8_t> make_default_rom(std::uint32_t size) {
  std::vector<std::uint8_t> rom(std::max<std::uint32_t>(size, HDR_SIZE + 4), 0);
  put32(rom, 0, ARM_BRANCH_TO_HEADER_END);
  std::copy(LOGO.begin(), LOGO.end(), rom.begin() + HDR_LOGO);
  const char title[] = "KARTEX DEMO";
  std::memcpy(&rom[HDR_TITLE], title, sizeof title - 1);
  std::memcpy(&rom[HDR_GAME_CODE], "KXDE", 4);
  std::memcpy(&rom[HDR_MAKER], "KX", 2);
  rom[HDR_FIXED] = HDR_FIXED_VALUE;
  rom[HDR_COMPLEMENT] = header_complement(rom);
  put32(rom, HDR_SIZE, ARM_BRANCH_SELF);
  for (std::uint32_t i = HDR_SIZE + 4; i < rom.size(); ++i) rom[i] = default_rom_byte(i);
  return rom;
}

}  // namespace kartex
