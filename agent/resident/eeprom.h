/* Serial EEPROM blocks of 8 bytes. A block's 64 bits travel most
 * significant bit first and stand in memory least significant byte first:
 * the first byte on the wire is byte 7 of the block. */
#ifndef KARTEX_AGENT_EEPROM_H
#define KARTEX_AGENT_EEPROM_H

#include "agent/resident/types.h"

/* addr_bits: 6 (512-byte EEPROM) or 14 (8 KiB EEPROM) */
void eeprom_read_block(u32 addr_bits, u32 block, u8 *dest);

/* Waits for the EEPROM to finish, for a bounded time; not reported */
void eeprom_write_block(u32 addr_bits, u32 block, const u8 *src);

/* Writes the bytes at data_buffer to the EEPROM from offset; a block
 * covered in part keeps its other bytes (eeprom_requests.c). changed_only:
 * a block that reads back as the new bytes is not written. */
void eeprom_write(u32 offset, u32 bytes, int changed_only);

#endif
