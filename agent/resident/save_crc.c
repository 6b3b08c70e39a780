/* CRC-32 of save blocks, over the bytes a save read gives: the save window
 * bank by bank as REQ_SAVE_READ reads it, or the save area in the ROM's
 * flash through the ROM window of page 0, where the host reads it. An
 * EEPROM (or no save) has nothing in a window to sum: its blocks read 0,
 * so that the host still gets the words it counts on. */
#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "agent/resident/crc32.h"
#include "agent/resident/crc_blocks.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"
#include "agent/resident/save_window.h"
#include "agent/resident/state.h"

static void crc_part(u32 window, u32 count, void *blocks)
{
  crc_blocks_feed(blocks, crc32_bytes, window, count);
}

void req_save_crc32(u32 offset, u32 bytes, u32 block)
{
  if (block == 0) /* no block, no reply */
    return;
  struct crc_blocks c;
  switch (save_type) {
  case SAVE_TYPE_NONE:
  case SAVE_TYPE_EEPROM_512:
  case SAVE_TYPE_EEPROM_8K:
    crc_blocks_send_zeros(bytes, block);
    break;
  case SAVE_TYPE_ROM_FLASH:
    select_rom_page(ROM_PAGE_FIRST);
    crc_blocks_start(&c, bytes, block);
    crc_blocks_feed(&c, crc32_rom, FLASH8M_BASE + offset, bytes);
    break;
  default:
    crc_blocks_start(&c, bytes, block);
    save_window_visit(offset, bytes, crc_part, &c);
    break;
  }
}
