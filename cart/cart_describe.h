#pragma once
// The info command: what the cartridge in the slot is, without dumping it.

#include <optional>

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
  // The cartridge clock and the chip's own CFI tables belong here once the
  // agent reports them; until then a description has neither.
};

// Reads the header (the bring-up's lines are already shown) and prints the
// header lines, the flash chip and the save memory.
CartDescription describe_cartridge(CableLink& link, const CartInfo& cart, Output& con);

}  // namespace kartex
