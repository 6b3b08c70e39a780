/* Commands to a FLASH save chip in the save window. */
#ifndef KARTEX_AGENT_SAVE_FLASH_H
#define KARTEX_AGENT_SAVE_FLASH_H

#include "agent/resident/types.h"

/* The two prefix writes, then the command byte, all 8-bit */
void save_flash_command(u8 command);

#endif
