/* Erasing the ROM's flash one erase block at a time */
#ifndef KARTEX_AGENT_ROM_ERASE_H
#define KARTEX_AGENT_ROM_ERASE_H

#include "agent/resident/types.h"

/* Erases the erase block that holds the ROM byte offset, by rom_kind,
 * unless the whole block already reads erased. Selects the page that
 * holds it and leaves the chips in status mode until read_array_reset. */
void erase_at(u32 offset);

#endif
