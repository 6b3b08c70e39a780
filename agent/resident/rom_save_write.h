/* Writing the save area inside the ROM's flash (save type 7). */
#ifndef KARTEX_AGENT_ROM_SAVE_WRITE_H
#define KARTEX_AGENT_ROM_SAVE_WRITE_H

#include "agent/resident/types.h"

/* Writes the bytes at data_buffer to the save from offset; bytes of an
 * erase unit outside the range keep their contents. Nothing is written
 * beyond the 1 MiB save area. Ends with the flash in read mode. */
void rom_save_write(u32 offset, u32 bytes);

/* The checked write: receives the block of offset and bytes and writes it
 * once it matched `check`; a range inside one erase unit has the unit's
 * erase run while the block arrives. 0: the block failed its check and
 * the save holds what it held. */
int rom_save_write_checked(u32 offset, u32 bytes, u32 check);

#endif
