/* The burst fill of a flash write buffer (rom_fill.S) */
#ifndef KARTEX_AGENT_ROM_FILL_H
#define KARTEX_AGENT_ROM_FILL_H

#include "agent/resident/types.h"

/* Writes `words` words (a multiple of 4, not 0) from `source` to the ROM
 * at `address`, both word aligned, each as two halfwords, low half first */
void rom_fill(u32 address, const u32 *source, u32 words);

#endif
