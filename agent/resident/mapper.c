/* Mapper register writes. Each costs the ~1,500-write unlock sequence, so
 * the ROM page is cached in rom_page and written only when it changes. */
#include "agent/hw/mapper.h"
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

void select_rom_page(u16 page)
{
  if (rom_page == page)
    return;
  mapper_unlock();
  rom_page = page;
  bus_write16(MAPPER_ROM_PAGE, page);
}

void select_sram_bank(u32 bank)
{
  mapper_unlock();
  bus_write16(MAPPER_SRAM_BANK, (u16)MAPPER_SRAM_BANK_VALUE(bank));
}
