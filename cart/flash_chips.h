#pragma once
// The flash ROM chips the agent recognises, by the kind and size it
// reports: their maker and device codes, one chip or a pair on alternate
// halfwords, the erase block and the write buffer. A kind and size that
// several chips share name all of them.

#include <cstdint>
#include <optional>
#include <vector>

#include "cart/cart_info.h"

namespace kartex {

struct FlashChip {
  std::uint16_t maker = 0;
  std::vector<std::uint16_t> devices;  // the codes this kind and size may have come from
  bool pair = false;                   // two 16-bit chips, one on each halfword
  const char* command_set = "";        // "status register" or "JEDEC"
  std::uint32_t erase_block = 0;       // bytes, as the command sees them (a pair's block spans both)
  std::uint32_t buffer = 0;            // bytes one buffered write or page program takes; 0: words only
};

// nullopt for a mask ROM, no ROM, or a kind no chip has.
std::optional<FlashChip> known_flash_chip(const CartInfo& cart);

}  // namespace kartex
