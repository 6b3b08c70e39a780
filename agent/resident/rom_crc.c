/* CRC-32 of ROM blocks: each 32 MiB of the range through its mapper page,
 * as a ROM read does; the last page stays selected. */
#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "agent/resident/crc32.h"
#include "agent/resident/crc_blocks.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"
#include "agent/resident/save_units.h"

void req_rom_crc32(u32 offset, u32 bytes, u32 block)
{
  if (block == 0) /* no block, no reply */
    return;
  struct crc_blocks c;
  crc_blocks_start(&c, bytes, block);
  while (bytes != 0) {
    u32 part = unit_part(offset, bytes, ROM_WINDOW_SIZE);
    select_rom_page((u16)ROM_PAGE_OF_OFFSET(offset));
    crc_blocks_feed(&c, crc32_rom, ROM_BASE + (offset & ROM_WINDOW_MASK), part);
    offset += part;
    bytes -= part;
  }
}
