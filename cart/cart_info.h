#pragma once
// What session bring-up learns about the cartridge in the slot.

#include <cstdint>

namespace kartex {

struct Output;

// Save memory types as the agent reports them.
enum SaveType : std::int32_t {
  SAVE_NONE = 0,
  SRAM256K = 1,
  SRAM2M = 2,  // 256 KiB, or 1 MiB (printed SRAM8M) on variant 2 cartridges
  FLASH512K = 3,
  EEP4K = 4,
  EEP64K = 5,
  FLASH1M = 6,
  FLASH8M = 7,  // the save area at the top of a flash ROM
};

constexpr std::uint32_t VARIANT_LARGE_SRAM = 2;  // SRAM2M carries 1 MiB

struct CartInfo {
  std::int32_t save_type = SAVE_NONE;
  std::int32_t rom_kind = 0;     // 0 none, 1 mask ROM, other values flash ROM
  std::int32_t rom_size = 0;
  std::int32_t erase_block = 0;
  std::uint32_t variant = 0;
  std::int32_t save_size = 0;
  std::int32_t save_block = 4096;
};

constexpr std::int32_t ROM_KIND_NONE = 0;
constexpr std::int32_t ROM_KIND_MASK = 1;

// How a save type is named, sized and moved.
struct SaveGeometry {
  const char* name;  // "" for types without a name
  std::int32_t size;
  std::int32_t block;
  std::uint32_t read_request;
  std::uint32_t read_base;       // added to the save offset of a read
  std::uint32_t write_request;   // 0: the type cannot be written
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
