/* The erased end of the ROM: how many bytes at its top still read erased,
 * looking at the last halfword of every 32 bytes from the end down. */
#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/bus.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"
#include "agent/resident/state.h"

#define FREE_SCAN_STEP 32

void req_flash_free(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;

  u32 size = rom_size;
  u32 k;
  for (k = 0; k < size; k += FREE_SCAN_STEP) {
    u32 o = size - k - 2;
    /* ROMs larger than the window are whole windows: k enters the page
     * below at each multiple of 32 MiB */
    if ((k & ROM_WINDOW_MASK) == 0)
      select_rom_page((u16)ROM_PAGE_OF_OFFSET(o));
    if (bus_read16(ROM_BASE + (o & ROM_WINDOW_MASK)) != FLASH_ERASED)
      break;
  }
  u32 erased = k;
  send_words(1, &erased);
}
