/* ROM kind 10: one flash chip that answers the CFI query, with the AMD or
 * a status-register command set, on a board without the mapper, perhaps
 * with data lines D0 and D1 swapped between the edge and the chip. Its geometry, write buffer and times come
 * from the chip's own query tables. Indexes are halfwords of the window. */
#ifndef KARTEX_AGENT_CFI_FLASH_H
#define KARTEX_AGENT_CFI_FLASH_H

#include "agent/resident/rom_program.h"
#include "agent/resident/types.h"

/* When a chip answers "QRY" (straight or with D0/D1 swapped) with a
 * command set of cfi_flash.c: sets rom_kind, rom_size and erase_block and returns 1; the
 * chip is back in read mode. Otherwise returns 0 and changes nothing. */
int cfi_identify(void);

/* Erases every sector of the erase block that starts at halfword h */
void cfi_erase_block(u32 h);

/* Programs c halfwords from s at halfword h: whole write buffer pages
 * where the chip has a buffer, else word by word */
void cfi_program(u32 h, const u16 *s, u32 c, data_pull pull);

/* Halfwords one buffer program takes (1 without a buffer) */
u32 cfi_program_unit(void);

/* Whether the chip is one of the AMD command set, which takes a write in
 * read mode that starts no command sequence as nothing: the clock's port
 * can share the ROM's addresses with it (cart_clock.h) */
int cfi_ignores_port_writes(void);

/* The chip back to reading its array, from any mode, an aborted write
 * buffer included */
void cfi_read_array(void);

#endif
