#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/bus.h"
#include "agent/resident/cfi_flash.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/mapper.h"
#include "agent/resident/sizes.h"
#include "agent/resident/state.h"

/* Small enough to reach every erase block of every chip in the window */
#define BLOCK_LOCK_STEP KIB(16)

/* Halfword indexes within the 32 MiB window */
#define ROM_HALFWORD_MASK (ROM_WINDOW_MASK >> 1)
#define HALFWORD_ADDRESS(h) (ROM_BASE + 2 * (h))

void jedec_unlock(void)
{
  bus_write16(JEDEC_ADDR_1, JEDEC_UNLOCK_1);
  bus_write16(JEDEC_ADDR_2, JEDEC_UNLOCK_2);
}

static void clear_locks_at(u32 address)
{
  bus_write16(address, SR_CMD_LOCK_SETUP);
  bus_write16(address, SR_CMD_CONFIRM);
  bus_write16(address, SR_CMD_READ_ARRAY);
}

void clear_block_locks(void)
{
  for (u32 offset = 0; offset < ROM_WINDOW_SIZE; offset += BLOCK_LOCK_STEP) {
    clear_locks_at(ROM_BASE + offset);     /* the chip, or the even chip of a pair */
    clear_locks_at(ROM_BASE + offset + 2); /* the odd chip of a pair */
  }
}

void clear_block_locks_paged(void)
{
  for (u32 offset = 0; offset < rom_size; offset += ROM_WINDOW_SIZE) {
    select_rom_page((u16)ROM_PAGE_OF_OFFSET(offset));
    clear_block_locks();
  }
  select_rom_page(ROM_PAGE_FIRST);
}

void unlock_block(u32 h)
{
  if (rom_kind != ROM_KIND_PARAM_8M)
    return;
  bus_write16(HALFWORD_ADDRESS(h & ROM_HALFWORD_MASK), SR_CMD_LOCK_SETUP);
  bus_write16(HALFWORD_ADDRESS(h & ROM_HALFWORD_MASK), SR_CMD_CONFIRM);
}

void read_array_reset(u32 h)
{
  h &= ROM_HALFWORD_MASK;
  switch (rom_kind) {
  case ROM_KIND_BUFFERED:
  case ROM_KIND_PARAM_8M:
  case ROM_KIND_PARAM_4M:
    bus_write16(HALFWORD_ADDRESS(h), SR_CMD_READ_ARRAY);
    break;
  case ROM_KIND_BUFFERED_PAIR:
    bus_write16(HALFWORD_ADDRESS(h + 1), SR_CMD_READ_ARRAY);
    bus_write16(HALFWORD_ADDRESS(h), SR_CMD_READ_ARRAY);
    break;
  case ROM_KIND_JEDEC_1M:
  case ROM_KIND_JEDEC_2M:
    bus_write16(HALFWORD_ADDRESS(h), JEDEC_CMD_READ_ARRAY);
    break;
  case ROM_KIND_PARAM_PAIR:
  case ROM_KIND_PAGE_PAIR:
    bus_write16(HALFWORD_ADDRESS(h), SR_CMD_READ_ARRAY);
    bus_write16(HALFWORD_ADDRESS(h + 1), SR_CMD_READ_ARRAY);
    break;
  case ROM_KIND_CFI:
    cfi_read_array();
    break;
  default: /* no chip, or a mask ROM: nothing takes commands */
    break;
  }
  /* The save type probe leaves the ROM-resident save's flash in a command
   * mode; a read-array command makes it read as ROM again. */
  if (save_type == SAVE_TYPE_ROM_FLASH)
    bus_write16(ROM_BASE, SR_CMD_READ_ARRAY);
}
