#pragma once
// What session bring-up learns about the cartridge in the slot.

#include <cstdint>

#include "contract/cart_facts.h"
#include "contract/request.h"

namespace kartex {

struct Output;

// Save memory types as the agent reports them, named as the tool prints them.
enum SaveType : std::int32_t {
  SAVE_NONE = SAVE_TYPE_NONE,
  SRAM256K = SAVE_TYPE_SRAM_32K,
  SRAM2M = SAVE_TYPE_SRAM_LARGE,  // 256 KiB, or 1 MiB (printed SRAM8M) on variant 2 cartridges
  FLASH512K = SAVE_TYPE_FLASH_64K,
  EEP4K = SAVE_TYPE_EEPROM_512,
  EEP64K = SAVE_TYPE_EEPROM_8K,
  FLASH1M = SAVE_TYPE_FLASH_128K,
  FLASH8M = SAVE_TYPE_ROM_FLASH,  // the save area at the top of a flash ROM
};

struct CartInfo {
  std::int32_t save_type = SAVE_NONE;
  std::int32_t rom_kind = 0;     // 0 none, 1 mask ROM, other values flash ROM
  std::int32_t rom_size = 0;
  std::int32_t erase_block = 0;
  std::uint32_t variant = 0;
  std::int32_t save_size = 0;
  std::int32_t save_block = 4096;
};

// How a save type is named, sized and moved.
struct SaveGeometry {
  const char* name;  // "" for types without a name
  std::int32_t size;
  std::int32_t block;
  wire::Request read_request;
  std::uint32_t read_base;       // added to the save offset of a read
  wire::Request write_request;   // unlisted(0): the type cannot be written
};

SaveGeometry save_geometry(std::int32_t save_type, std::uint32_t variant);

// Save memory the console reads through its address space (everything but
// EEPROM, which answers only bit streams): the agent can CRC it in place.
inline bool save_is_mapped(std::int32_t save_type) {
  return save_type == SRAM256K || save_type == SRAM2M || save_type == FLASH512K ||
         save_type == FLASH1M || save_type == FLASH8M;
}

inline bool save_is_eeprom(std::int32_t save_type) { return save_type == EEP4K || save_type == EEP64K; }

// Fills save_size and save_block from save_type and variant.
void derive_save_geometry(CartInfo& cart);

// The ROM line and the save line shown after bring-up.
void print_cart_lines(const CartInfo& cart, Output& con);

}  // namespace kartex
