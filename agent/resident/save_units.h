/* Save ranges cut at the boundaries of the units a save memory is moved
 * in: 64 KiB banks, 8-byte EEPROM blocks, FLASH sectors, erase blocks. */
#ifndef KARTEX_AGENT_SAVE_UNITS_H
#define KARTEX_AGENT_SAVE_UNITS_H

#include "agent/resident/link.h"
#include "agent/resident/state.h"
#include "agent/resident/types.h"

/* Bytes of the left still to move that lie in the unit holding pos; unit
 * is a power of two. */
static inline u32 unit_part(u32 pos, u32 left, u32 unit)
{
  u32 room = unit - (pos & (unit - 1));
  return left < room ? left : room;
}

static inline void copy_bytes(u8 *dest, const u8 *src, u32 count)
{
  for (u32 i = 0; i < count; i++)
    dest[i] = src[i];
}

/* Where a unit that a write covers only in part is put together, old
 * contents and new bytes: word-aligned, just behind the received data. */
static inline u8 *staging_area(u32 received_bytes)
{
  return data_buffer + 4 * words_for_bytes(received_bytes);
}

#endif
