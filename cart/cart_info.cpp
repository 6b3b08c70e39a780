#include "cart/cart_info.h"

#include "common/output.h"
#include "contract/wire.h"
#include "common/original_lines.h"

namespace kartex {

// read_base is added to a save offset: 0 for the requests that take the
// offset itself, the window's address for the one that takes an address.
static_assert(wire::request_arg(REQ_SAVE_READ, 1) == wire::Arg::SAVE_OFFSET);
static_assert(wire::request_arg(REQ_EEPROM_READ, 1) == wire::Arg::SAVE_OFFSET);
static_assert(wire::request_arg(REQ_MEM_READ, 1) == wire::Arg::ADDRESS);

SaveGeometry save_geometry(std::int32_t save_type, std::uint32_t variant) {
  switch (save_type) {
    case SRAM256K: return {"SRAM256K", 0x8000, 0x1000, REQ_SAVE_READ, 0, REQ_SRAM_WRITE};
    case SRAM2M:
      if (variant == CART_VARIANT_BANKED_SRAM)
        return {"SRAM8M", 0x100000, 0x1000, REQ_SAVE_READ, 0, REQ_SRAM_WRITE};
      return {"SRAM2M", 0x40000, 0x1000, REQ_SAVE_READ, 0, REQ_SRAM_WRITE};
    case FLASH512K: return {"FLASH512K", 0x10000, 0x1000, REQ_SAVE_READ, 0, REQ_FLASH_SAVE_WRITE};
    case EEP4K: return {"EEP4K", 0x200, 0x200, REQ_EEPROM_READ, 0, REQ_EEPROM_WRITE};
    case EEP64K: return {"EEP64K", 0x2000, 0x2000, REQ_EEPROM_READ, 0, REQ_EEPROM_WRITE};
    case FLASH1M: return {"FLASH1M", 0x20000, 0x1000, REQ_SAVE_READ, 0, REQ_FLASH_SAVE_WRITE};
    // 8 KiB short of 1 MiB: the top sector of the ROM-resident save is not
    // part of the save area.
    case FLASH8M:
      return {"FLASH8M", 0xFE000, 0x2000, REQ_MEM_READ, FLASH8M_BASE, REQ_FLASH_SAVE_WRITE};
    default: return {"", 0, 0x1000, REQ_SAVE_READ, 0, wire::Request::unlisted(0)};
  }
}

void derive_save_geometry(CartInfo& cart) {
  SaveGeometry g = save_geometry(cart.save_type, cart.variant);
  cart.save_size = g.size;
  cart.save_block = g.block;
}

void print_cart_lines(const CartInfo& cart, Output& con) {
  if (cart.rom_kind == ROM_KIND_MASK)
    con.print(LINE_MASK_ROM_SIZE, static_cast<unsigned>(cart.rom_size));
  else if (cart.rom_kind != ROM_KIND_NONE)
    con.print(LINE_FLASH_ROM_SIZE, static_cast<unsigned>(cart.rom_size));
  con.print("%s", save_geometry(cart.save_type, cart.variant).name);
  if (cart.save_type != SAVE_NONE)
    con.print(LINE_SAVE_SIZE, static_cast<unsigned>(cart.save_size));
}

}  // namespace kartex
