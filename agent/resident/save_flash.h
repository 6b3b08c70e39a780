/* Commands to a FLASH save chip in the save window. */
#ifndef KARTEX_AGENT_SAVE_FLASH_H
#define KARTEX_AGENT_SAVE_FLASH_H

#include "agent/resident/types.h"

/* The two prefix writes that open every command, 8-bit */
void save_flash_unlock(void);

/* The prefix, then the command byte, all 8-bit */
void save_flash_command(u8 command);

/* 128 KiB chips: shows 64 KiB bank 0 or 1 in the save window */
void save_flash_bank(u32 bank);

#endif
