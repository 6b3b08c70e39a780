/* Agent state. It lies in internal work RAM above the resident stage that the boot
 * stage copies, is cleared once at start-up and then keeps its values for
 * as long as the agent runs, across host sessions. */
#ifndef KARTEX_AGENT_STATE_H
#define KARTEX_AGENT_STATE_H

#include "agent/resident/types.h"

extern u8 *data_buffer;  /* 0x02000000: blocks in flight, search pattern */

/* Cartridge ROM facts and the mapper's current ROM page */
extern u32 rom_kind;
extern u32 rom_size;
extern u32 erase_block;
extern u32 top_boot;    /* kinds 8 and 9: 1 when the parameter blocks are at the top */
extern u32 variant;
extern u32 rom_page;

/* rom_kind: which chips hold the ROM, and so which commands they take */
#define ROM_KIND_NONE 0
#define ROM_KIND_MASK 1
#define ROM_KIND_BUFFERED 2        /* one status-register chip with a write buffer */
#define ROM_KIND_BUFFERED_PAIR 3   /* pair of status-register chips with write buffers */
#define ROM_KIND_PARAM_8M 4        /* one status-register chip, 8 MiB */
#define ROM_KIND_JEDEC_1M 5        /* one JEDEC chip, 1 MiB */
#define ROM_KIND_JEDEC_2M 6        /* one JEDEC chip, 2 MiB */
#define ROM_KIND_PARAM_4M 7        /* one status-register chip, 4 MiB */
#define ROM_KIND_PARAM_PAIR 8      /* pair of status-register chips, word program */
#define ROM_KIND_PAGE_PAIR 9       /* pair of status-register chips, 256-halfword program */
/* ROM_KIND_CFI (10, link/protocol.h): one AMD-command-set chip by its CFI tables */

/* variant: what the mapper does on this cartridge */
#define CART_VARIANT_UNPAGED 0     /* the ROM page register has no visible effect */
#define CART_VARIANT_PAGED 1       /* ROM pages switch (or the ROM's first KiB is blank) */
#define CART_VARIANT_BANKED_SRAM 2 /* SRAM bank 8 is separate from bank 0 */

/* No page number is this: the first select_rom_page always writes the
 * mapper, whatever page an earlier program left selected. */
#define ROM_PAGE_UNKNOWN 0xFFFFFFFF

/* Save memory facts */
extern u32 save_type;
extern u32 save_chip;   /* save_type 3: row of the 64 KiB chip; save_type 6: 0 or 1 */

/* save_type, as sent to the host */
#define SAVE_TYPE_NONE 0
#define SAVE_TYPE_SRAM_32K 1
#define SAVE_TYPE_SRAM_LARGE 2     /* 64 KiB or more, in 64 KiB mapper banks */
#define SAVE_TYPE_FLASH_64K 3
#define SAVE_TYPE_EEPROM_512 4
#define SAVE_TYPE_EEPROM_8K 5
#define SAVE_TYPE_FLASH_128K 6
#define SAVE_TYPE_ROM_FLASH 7      /* 1 MiB inside the ROM's flash */

/* Called once by the resident start-up, after the state was cleared */
void state_init(void);

#endif
