#pragma once
// The info command: what the cartridge in the slot is, without dumping it.

#include <optional>

#include "cart/cart_clock.h"
#include "cart/cart_info.h"
#include "cart/flash_chips.h"
#include "cart/rom_report.h"

namespace kartex {

class CableLink;
struct Output;

struct CartDescription {
  CartInfo cart;
  std::optional<RomHeader> header;   // when a ROM answered
  std::optional<FlashChip> chip;     // flash ROM of a known kind
  std::optional<ClockReading> clock;  // the cartridge clock, when there is one
};

// Reads the header (the bring-up's lines are already shown) and prints the
// header lines, the flash chip, the save memory and the clock.
CartDescription describe_cartridge(CableLink& link, const CartInfo& cart, Output& con);

}  // namespace kartex
