/* Writing the save area inside the ROM's flash (save type 7). */
#ifndef KARTEX_AGENT_ROM_SAVE_WRITE_H
#define KARTEX_AGENT_ROM_SAVE_WRITE_H

#include "agent/resident/types.h"

/* Writes the bytes at data_buffer to the save from offset; bytes of an
 * erase unit outside the range keep their contents. Nothing is written
 * beyond the 1 MiB save area. Ends with the flash in read mode. */
void rom_save_write(u32 offset, u32 bytes);

#endif
