/* Agent state. It lies in internal work RAM above the resident stage that the boot
 * stage copies, is cleared once at start-up and then keeps its values for
 * as long as the agent runs, across host sessions. */
#ifndef KARTEX_AGENT_STATE_H
#define KARTEX_AGENT_STATE_H

#include "agent/resident/types.h"
#include "contract/cart_facts.h" /* rom_kind, variant and save_type values */

extern u8 *data_buffer;  /* 0x02000000: blocks in flight, search pattern */

/* Cartridge ROM facts and the mapper's current ROM page */
extern u32 rom_kind;
extern u32 rom_size;
extern u32 erase_block;
extern u32 top_boot;    /* kinds 8 and 9: 1 when the parameter blocks are at the top */
extern u32 variant;
extern u32 rom_page;
/* Kinds 5 and 6: 1 once the chip took no unlock bypass program, so that
 * its programs take the whole four-write sequence */
extern u32 jedec_four_writes;

/* No page number is this: the first select_rom_page always writes the
 * mapper, whatever page an earlier program left selected. */
#define ROM_PAGE_UNKNOWN 0xFFFFFFFF

/* The SRAM bank last written to the mapper, as rom_page: a bank write
 * costs the whole unlock sequence (about a millisecond) */
extern u32 sram_bank;
#define SRAM_BANK_UNKNOWN 0xFFFFFFFF

/* Save memory facts */
extern u32 save_type;
extern u32 save_chip;   /* save_type 3: row of the 64 KiB chip; save_type 6: 0 or 1 */

/* Called once by the resident start-up, after the state was cleared */
void state_init(void);

#endif
