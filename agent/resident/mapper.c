/* Mapper register writes. Each costs the ~1,500-write unlock sequence, so
 * the ROM page and the SRAM bank are cached in rom_page and sram_bank and
 * written only when they change. */
#include "contract/hw/mapper.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/bus.h"
#include "agent/resident/mapper.h"
#include "agent/resident/state.h"

struct unlock_step {
  u32 index; /* halfword index into the ROM window */
  u16 value;
  u16 times;
};

static const struct unlock_step unlock_steps[] = {MAPPER_UNLOCK_STEPS};

_Static_assert(sizeof unlock_steps / sizeof unlock_steps[0] == MAPPER_UNLOCK_STEP_COUNT,
               "the mapper unlock sequence has eleven steps");

void mapper_unlock(void)
{
  for (u32 s = 0; s < MAPPER_UNLOCK_STEP_COUNT; s++) {
    u32 address = MAPPER_INDEX_ADDRESS(unlock_steps[s].index);
    u16 value = unlock_steps[s].value;
    for (u32 n = unlock_steps[s].times; n != 0; n--)
      bus_write16(address, value);
  }
}

/* On a board without the mapper its unlock and register writes reach the
 * ROM's chips, and a status-register chip takes a value that is no command
 * of its own as the command sequence error: it shows its status, and some
 * parts refuse the next erase or program until the status is cleared. Each
 * halfword the sequence touched is cleared and set to read its array
 * again. With the mapper these writes are no unlock step and reach chips
 * that read their array: they change nothing. */
void settle_chips(u32 register_address)
{
  for (u32 s = 0; s < MAPPER_UNLOCK_STEP_COUNT; s++) {
    u32 address = MAPPER_INDEX_ADDRESS(unlock_steps[s].index);
    bus_write16(address, SR_CMD_CLEAR_STATUS);
    bus_write16(address, SR_CMD_READ_ARRAY);
  }
  if (register_address) {
    bus_write16(register_address, SR_CMD_CLEAR_STATUS);
    bus_write16(register_address, SR_CMD_READ_ARRAY);
  }
}

void select_rom_page(u16 page)
{
  if (rom_page == page)
    return;
  mapper_unlock();
  rom_page = page;
  bus_write16(MAPPER_ROM_PAGE, page);
  /* The probe's page number is a program set-up code to a chip, whose next
   * write anywhere would be programmed: the probe settles it first, then
   * the rest (cart_info.c) */
  if (page != ROM_PAGE_PROBE)
    settle_chips(MAPPER_ROM_PAGE);
}

void mapper_command(u16 value)
{
  mapper_unlock();
  bus_write16(MAPPER_COMMAND, value);
  settle_chips(MAPPER_COMMAND);
}

void select_sram_bank(u32 bank)
{
  if (sram_bank == bank)
    return;
  sram_bank = bank;
  mapper_unlock();
  bus_write16(MAPPER_SRAM_BANK, (u16)MAPPER_SRAM_BANK_VALUE(bank));
  settle_chips(MAPPER_SRAM_BANK);
}
