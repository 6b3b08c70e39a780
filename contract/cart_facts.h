/* What the agent learns about the cartridge and reports to the host, as the
 * words carry it. Included from the agent's C and from the host's C++. */
#ifndef KARTEX_CONTRACT_CART_FACTS_H
#define KARTEX_CONTRACT_CART_FACTS_H

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
/* A kind of ours beside the described 0-9: one flash chip found by its
 * CFI query (AMD or status-register command set), driven from its own
 * tables, on a board without the mapper */
#define ROM_KIND_CFI 10

/* variant: what the mapper does on this cartridge */
#define CART_VARIANT_UNPAGED 0     /* the ROM page register has no visible effect */
#define CART_VARIANT_PAGED 1       /* ROM pages switch (or the ROM's first KiB is blank) */
#define CART_VARIANT_BANKED_SRAM 2 /* SRAM bank 8 is separate from bank 0 */

/* save_type */
#define SAVE_TYPE_NONE 0
#define SAVE_TYPE_SRAM_32K 1
#define SAVE_TYPE_SRAM_LARGE 2     /* 64 KiB or more, in 64 KiB mapper banks */
#define SAVE_TYPE_FLASH_64K 3
#define SAVE_TYPE_EEPROM_512 4
#define SAVE_TYPE_EEPROM_8K 5
#define SAVE_TYPE_FLASH_128K 6
#define SAVE_TYPE_ROM_FLASH 7      /* 1 MiB inside the ROM's flash */

#endif
