/* The CRC-32 table and the ROM source, whose ends may be odd bytes of a
 * halfword: the ROM window takes 16-bit reads only. */
#include "agent/resident/bus.h"
#include "agent/resident/cold.h"
#include "agent/resident/crc32.h"

u32 crc32_table[256];

COLD void crc32_init(void)
{
  for (u32 n = 0; n < 256; n++) {
    u32 c = n;
    for (u32 k = 0; k < 8; k++)
      c = (c >> 1) ^ (CRC32_POLY & -(c & 1));
    crc32_table[n] = c;
  }
}

u32 crc32_rom(u32 crc, u32 address, u32 bytes)
{
  if (bytes == 0)
    return crc;
  if (address & 1) { /* the high byte of the halfword before */
    crc = crc32_byte(crc, bus_read16(address - 1) >> 8);
    address++;
    bytes--;
  }
  crc = crc32_halfwords(crc, address, bytes >> 1);
  if (bytes & 1) /* the low byte of the last halfword */
    crc = crc32_byte(crc, bus_read16(address + (bytes & ~1u)) & 0xFF);
  return crc;
}
