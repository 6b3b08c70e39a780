/* Copies of 32 KiB, half a mapper SRAM bank, between the save window and
 * the data buffer, where the host reaches them with memory requests.
 * They use the mapper's banks whatever save memory was detected. */
#include "contract/wire.h"
#include "contract/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"
#include "agent/resident/state.h"

/* 32 KiB bank n is the lower or upper half of mapper bank n / 2 */
static u32 select_half_bank(u32 half)
{
  select_sram_bank(half >> 1);
  return SAVE_BASE + (half & 1) * SRAM_HALF_BANK_SIZE;
}

void req_sram_bank_load(u32 half, u32 unused2, u32 unused3)
{
  (void)unused2;
  (void)unused3;
  u32 window = select_half_bank(half);
  u8 *buffer = data_buffer;
  for (u32 i = 0; i < SRAM_HALF_BANK_SIZE; i++)
    buffer[i] = bus_read8(window + i);
  select_sram_bank(0);
}

void req_sram_bank_store(u32 half, u32 unused2, u32 unused3)
{
  (void)unused2;
  (void)unused3;
  u32 window = select_half_bank(half);
  const u8 *buffer = data_buffer;
  for (u32 i = 0; i < SRAM_HALF_BANK_SIZE; i++)
    bus_write8(window + i, buffer[i]);
  select_sram_bank(0);
}
