/* Putting the ROM's flash chips back into a mode where they read as ROM. */
#ifndef KARTEX_AGENT_FLASH_MODES_H
#define KARTEX_AGENT_FLASH_MODES_H

#include "agent/resident/types.h"

/* Clear-locks then read-array at every 16 KiB of the window, on both
 * halfwords of a pair; ends with every chip in read mode. */
void clear_block_locks(void);

/* Read mode for the chip, or both chips of the pair, at halfword index h
 * of the current page, by rom_kind; then the ROM-resident save's flash
 * when save_type left it in a command mode. */
void read_array_reset(u32 h);

#endif
