#pragma once
// The flash ROM chips the agent recognises, by the kind and size it
// reports: their maker and device codes, one chip or a pair on alternate
// halfwords, the erase block and the write buffer. A kind and size that
// several chips share name all of them.

#include <cstdint>
#include <optional>
#include <vector>

#include "cart/cart_info.h"
#include "contract/wire.h"

namespace kartex {

// A chip found by its CFI query (ROM_KIND_CFI): what its tables and its
// identifier mode told the agent.
struct CfiDetails {
  std::uint16_t device_2 = 0, device_3 = 0;  // autoselect 0x0E/0x0F where the device reads 0x227E
  std::uint16_t command_set = 0;             // CFI_SET_*
  bool d0d1 = false;                         // the board swaps D0 and D1
  struct Region {
    std::uint32_t blocks, bytes;
  };
  std::vector<Region> regions;               // erase block regions from the chip's start
  std::uint32_t word_max_us = 0, buffer_max_us = 0, erase_max_ms = 0;
};

struct FlashChip {
  std::uint16_t maker = 0;
  std::vector<std::uint16_t> devices;  // the codes this kind and size may have come from
  bool pair = false;                   // two 16-bit chips, one on each halfword
  const char* command_set = "";        // "status register" or "JEDEC"
  std::uint32_t erase_block = 0;       // bytes, as the command sees them (a pair's block spans both)
  std::uint32_t buffer = 0;            // bytes one buffered write or page program takes; 0: words only
  std::optional<CfiDetails> cfi;       // ROM_KIND_CFI: from the chip's own tables
};

// nullopt for a mask ROM, no ROM, or a kind no chip has. For ROM_KIND_CFI
// only the erase block: the rest comes with the agent's REQ_CFI_INFO.
std::optional<FlashChip> known_flash_chip(const CartInfo& cart);

// "AMD", "Intel extended", "Intel standard" for the CFI_SET_* codes
const char* cfi_command_set_name(std::uint16_t set);

// The CFI_INFO_WORDS reply words of REQ_CFI_INFO into the chip.
void apply_cfi_info(FlashChip& chip, const std::uint32_t (&words)[CFI_INFO_WORDS]);

}  // namespace kartex
