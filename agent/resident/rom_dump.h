/* The loops of the ROM dump (rom_dump.S): they read the ROM while the link
 * moves words, so they run from internal work RAM. */
#ifndef KARTEX_AGENT_ROM_DUMP_H
#define KARTEX_AGENT_ROM_DUMP_H

#include "agent/resident/types.h"

/* Sends `words` words (not 0) from the ROM at `address` (word aligned),
 * each read as two halfwords, and adds each to the running CRC (crc32.h)
 * while it moves; returns the running CRC. */
u32 send_rom_summed(u32 words, u32 address, u32 crc);

/* 1 when every halfword of the `words` words (not 0) at `address` (word
 * aligned) equals the first, else 0 */
u32 rom_uniform(u32 address, u32 words);

#endif
