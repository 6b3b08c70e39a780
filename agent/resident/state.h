/* Agent state. It lies in internal work RAM above the 16 KiB that the boot
 * stage copies, is cleared once at start-up and then keeps its values for
 * as long as the agent runs, across host sessions. */
#ifndef KARTEX_AGENT_STATE_H
#define KARTEX_AGENT_STATE_H

#include "agent/resident/types.h"

extern u8 *data_buffer;  /* 0x02000000: blocks in flight, search pattern */
extern u8 *stream_ptr;   /* where the next streamed word goes */
extern u32 stream_left;  /* words of the current stream not yet received */

/* Cartridge ROM facts and the mapper's current ROM page */
extern u32 rom_kind;
extern u32 rom_size;
extern u32 erase_block;
extern u32 top_boot;
extern u32 variant;
extern u32 rom_page;

/* Save memory facts */
extern u32 save_type;
extern u32 save_chip;

#endif
