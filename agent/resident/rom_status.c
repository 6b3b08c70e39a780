/* Bounded waits on the ROM's flash chips (rom_status.h) */
#include "agent/hw/rom_flash.h"
#include "agent/resident/rom_status.h"

void sr_wait(u32 h)
{
  for (u32 n = FLASH_POLL_LIMIT; n != 0; n--) {
    chip_write(h, SR_CMD_READ_STATUS);
    if (chip_read(h) & SR_STATUS_READY)
      return;
  }
}

/* Both chips of the pair at h report ready in the status they show */
static int pair_ready(u32 h)
{
  u16 first = chip_read(h);
  u16 second = chip_read(h + 1);
  return (first & second & SR_STATUS_READY) != 0;
}

void sr_wait_pair(u32 h)
{
  for (u32 n = FLASH_POLL_LIMIT; n != 0; n--) {
    chip_write(h, SR_CMD_READ_STATUS);
    chip_write(h + 1, SR_CMD_READ_STATUS);
    if (pair_ready(h))
      return;
  }
}

void sr_poll_pair(u32 h)
{
  for (u32 n = FLASH_POLL_LIMIT; n != 0; n--)
    if (pair_ready(h))
      return;
}

void jedec_wait_erase(u32 h)
{
  for (u32 n = FLASH_POLL_LIMIT; n != 0; n--) {
    u16 first = chip_read(h);
    u16 second = chip_read(h);
    if (((first ^ second) & JEDEC_STATUS_TOGGLE) == 0 || (second & JEDEC_STATUS_TIMED_OUT))
      return;
  }
}

void jedec_wait_data(u32 h, u16 value)
{
  for (u32 n = FLASH_POLL_LIMIT; n != 0; n--) {
    u16 read = chip_read(h);
    if (read == value)
      return;
    if (read & JEDEC_STATUS_TIMED_OUT) {
      /* The program may have ended just before; if not, it failed (a bit
       * cannot go from 0 to 1) and the chip shows status until reset. */
      if (chip_read(h) != value)
        chip_write(h, JEDEC_CMD_READ_ARRAY);
      return;
    }
  }
}
