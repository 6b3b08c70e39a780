#include "cart/commands.h"
#include "cart/ranges.h"
#include "cart/rom_write.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "common/failure.h"
#include "common/original_lines.h"

namespace kartex {

void flash_erase(CableLink& link, const CartInfo& cart, Output& con) {
  require_cartridge(cart);
  require_flash_rom(cart, "erased");
  con.print("%s", LINE_ERASE_START);
  con.progress_start(static_cast<std::uint64_t>(cart.rom_size));
  for (std::int64_t address = 0; address < cart.rom_size; address += cart.erase_block) {
    std::uint32_t done[1];
    link.agent_request(REQ_FLASH_ERASE, static_cast<std::uint32_t>(address), 0, 0, done);
    // "done" comes whatever happened: the agent's record tells.
    check_flash_failures(link);
    con.mark('E');
    con.progress_add(static_cast<std::uint64_t>(cart.erase_block));
  }
  con.progress_end();
  con.print("%s", LINE_ERASE_END);
}

}  // namespace kartex
