/* A fingerprint of the cartridge in the slot, so that the host can tell a
 * cartridge swapped while the console stayed on from the one it identified:
 * the CRC-32 of the header and of what the ROM's first chip answers in
 * identifier mode (two blank flash cartridges of different kinds share a
 * header of all ones, not their identifiers). A mask ROM ignores the
 * command; a JEDEC chip takes it only after its unlock cycles. */
#include "contract/wire.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/bus.h"
#include "agent/resident/cold.h"
#include "agent/resident/crc32.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"

#define HEADER_BYTES 0xC0  /* entry branch, logo, title, codes, check */
#define ID_HALFWORDS 3     /* maker, device, and a pair's second device code */

COLD void req_cart_fingerprint(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;
  select_rom_page(0);
  u32 crc = crc32_rom(CRC32_START, ROM_BASE, HEADER_BYTES);
  bus_write16(ROM_BASE, SR_CMD_READ_ID);
  crc = crc32_rom(crc, ROM_BASE, 2 * ID_HALFWORDS);
  /* Both chips of a pair back to reading their array */
  bus_write16(ROM_BASE, SR_CMD_READ_ARRAY);
  bus_write16(ROM_BASE + 2, SR_CMD_READ_ARRAY);
  u32 fingerprint = ~crc;
  send_words(1, &fingerprint);
}
