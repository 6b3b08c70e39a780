/* Putting the ROM's flash chips back into a mode where they read as ROM. */
#ifndef KARTEX_AGENT_FLASH_MODES_H
#define KARTEX_AGENT_FLASH_MODES_H

#include "agent/resident/types.h"

/* Clear-locks then read-array at every 16 KiB of the window, on both
 * halfwords of a pair; ends with every chip in read mode. */
void clear_block_locks(void);

/* clear_block_locks in every 32 MiB page of the ROM (rom_size), then the
 * first page again */
void clear_block_locks_paged(void);

/* Kind 4: its blocks are locked at power-up; unlocks the block that holds
 * window halfword h (the chip then shows its status). Other kinds keep
 * their blocks open from identification on: nothing. */
void unlock_block(u32 h);

/* Halfwords of kind 4's smallest block: a range unlocks at each multiple */
#define UNLOCK_STEP_HALFWORDS 0x1000

/* Read mode for the chip, or both chips of the pair, at halfword index h
 * of the current page, by rom_kind; then the ROM-resident save's flash
 * when save_type left it in a command mode. */
void read_array_reset(u32 h);

/* The JEDEC chips' two-write prefix before a command byte */
void jedec_unlock(void);

#endif
