#include "contract/wire.h"
#include "agent/resident/cold.h"
#include "agent/resident/crc32.h"
#include "agent/resident/state.h"

/* All in .bss: the linker script places it above the copied resident stage and
 * the resident start-up clears it. */
u8 *data_buffer;

u32 rom_kind;
u32 rom_size;
u32 erase_block;
u32 top_boot;
u32 variant;
u32 rom_page;
u32 jedec_four_writes;
u32 sram_bank;

u32 save_type;
u32 save_chip;

COLD void state_init(void)
{
  data_buffer = (u8 *)EWRAM_BASE;
  rom_page = ROM_PAGE_UNKNOWN;
  sram_bank = SRAM_BANK_UNKNOWN;
  crc32_init(); /* its table is state too */
}
