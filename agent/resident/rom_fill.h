/* The burst fill of a flash write buffer (rom_fill.S) */
#ifndef KARTEX_AGENT_ROM_FILL_H
#define KARTEX_AGENT_ROM_FILL_H

#include "agent/resident/rom_status.h"
#include "agent/resident/types.h"

/* Writes `words` words (a multiple of 4, not 0) from `source` to the ROM
 * at `address`, both word aligned, each as two halfwords, low half first */
void rom_fill(u32 address, const u32 *source, u32 words);

/* n halfwords from s to the chip at halfword a: in bursts where n is a
 * whole number of them, a even and s word aligned, else one at a time */
static inline void fill_halfwords(u32 a, const u16 *s, u32 n)
{
  if (n != 0 && (n & 7) == 0 && (a & 1) == 0 && ((u32)s & 3) == 0) {
    rom_fill(ROM_BASE + 2 * a, (const u32 *)s, n / 2);
    return;
  }
  for (u32 j = 0; j < n; j++)
    chip_write(a + j, s[j]);
}

#endif
