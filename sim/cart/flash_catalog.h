#pragma once
// The flash ROM cartridges the simulator can build, one row per ROM kind
// and the code that tells it apart in identification: which chip part,
// single or a pair on alternate halfwords, and the sizes it comes in.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/cart/flash_chip.h"

namespace kartex {

struct RomOption {
  std::uint32_t kind;         // ROM kind 2-9, or ROM_KIND_CFI
  std::uint16_t code;         // device code that identification goes by
  const ChipModel* chip;
  std::uint32_t chips_per_set;  // 1, or 2 for a pair on alternate halfwords
  std::vector<std::uint32_t> sizes_mib;  // the first is the default

  std::uint32_t set_bytes() const { return chip->bytes() * chips_per_set; }
  std::string label() const;  // "3/8802"
};

const std::vector<RomOption>& rom_options();
// Program and erase times of the status-register parts of maker 0xB0 (the
// chip of kind 4 and the ROM-resident save area).
ChipTimes maker_b0_times();
// The same at the longest they take (chip-times=max).
ChipTimes maker_b0_max_times();
// "3/8802" (hex code, any case); nullptr when no row matches.
const RomOption* find_rom_option(const std::string& kind_slash_code);
// Whether boards of the row's chip can carry the cartridge clock: the
// mapper-free boards of the AMD-command CFI chips, which take the port's
// writes in read mode as no command.
bool carries_clock(const RomOption& o);
// Those rows' labels, "10/2221, 10/2222 or 10/22f9".
std::string clock_board_labels();
// One line per row: KIND/CODE, family, sizes, erase blocks, power-up locks.
std::string rom_options_help();

}  // namespace kartex
