#pragma once
// What a simulated flash cartridge's cells hold, whatever mode its chips
// are in: the judge of a write that reads nothing over the link.

#include <cstdint>
#include <vector>

#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "sim/simulator.h"

namespace kartex::test {

inline FlashRom& flash_rom_of(Simulator& sim) { return dynamic_cast<FlashRom&>(dynamic_cast<Cartridge&>(sim.cart()).rom()); }

// The cells from ROM offset 0 up to `size`, low byte first.
inline std::vector<std::uint8_t> flash_cells(FlashRom& rom, std::uint32_t size) {
  std::vector<std::uint8_t> cells(size);
  for (std::uint32_t at = 0; at < size; at += 2) {
    const std::uint16_t half = rom.cell(at);
    cells[at] = static_cast<std::uint8_t>(half);
    cells[at + 1] = static_cast<std::uint8_t>(half >> 8);
  }
  return cells;
}

}  // namespace kartex::test
