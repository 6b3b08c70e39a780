#include "common/output.h"
#include "cart/commands.h"
#include "link/cable_link.h"
#include "link/failure.h"

namespace kartex {

void flash_erase(CableLink& link, const CartInfo& cart, Output& con) {
  // Mask ROMs and unknown ROMs report no erase block; stepping by it would
  // never end.
  if (cart.erase_block <= 0)
    fail(strprintf("this cartridge cannot be erased: its ROM (%s) reports no erase block",
                   cart.rom_kind == ROM_KIND_MASK   ? "mask ROM"
                   : cart.rom_kind == ROM_KIND_NONE ? "none found"
                                                    : "flash ROM"));
  con.print("Erase START.\n");
  for (std::int64_t address = 0; address < cart.rom_size; address += cart.erase_block) {
    std::uint32_t done[1];
    link.agent_request(REQ_FLASH_ERASE, static_cast<std::uint32_t>(address), 0, 0, done);
    con.mark('E');
  }
  con.print("\nErase END.\n");
}

}  // namespace kartex
