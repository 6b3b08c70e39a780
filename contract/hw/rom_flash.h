/* Cartridge ROM: the 32 MiB window, the flash chips that may hold the ROM
 * (one 16-bit chip, or a pair on alternate halfwords), and what a mask ROM
 * and an empty bus read as. All accesses to these chips are 16-bit.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_ROM_FLASH_H
#define KARTEX_CONTRACT_HW_ROM_FLASH_H

/* ---- Identifier mode reads, offsets from the chip's base ----
 * One chip: maker at halfword 0, device at halfword 1. A pair: the even
 * chip answers at byte offsets 0, 4, ..., the odd one at 2, 6, ..., so
 * halfword 1 holds the odd chip's maker and halfword 2 the even chip's device. */
#define ROM_ID_MAKER 0x0
#define ROM_ID_DEVICE 0x2
#define ROM_ID_PAIR_DEVICE 0x4

/* Where a second pair, or a second window of chips, answers */
#define ROM_CHIPS_AT_8M 0x08800000
#define ROM_CHIPS_AT_16M 0x09000000

/* ---- Status-register chips: 16-bit commands at any address of the chip ---- */
#define SR_CMD_READ_ID 0x90
#define SR_CMD_READ_ARRAY 0xFF
#define SR_CMD_READ_STATUS 0x70
#define SR_CMD_CLEAR_STATUS 0x50   /* clears the error bits of the status */
#define SR_CMD_ERASE_SETUP 0x20
#define SR_CMD_CONFIRM 0xD0        /* second write of erase and lock commands */
#define SR_CMD_PROGRAM 0x40
#define SR_CMD_BUFFERED_WRITE 0xE8
#define SR_CMD_LOCK_SETUP 0x60     /* then SR_CMD_CONFIRM: clear block locks */
#define SR_CMD_PROGRAM_PAGE 0x41   /* 256-halfword program of the 0x1C pairs */
#define SR_STATUS_READY 0x80
/* Erase error, program error, VPP low, block locked: they stay set until
 * SR_CMD_CLEAR_STATUS */
#define SR_STATUS_ERRORS 0x3A

/* ---- The longest the chips take, their data sheets' maximum figures ----
 * A status-register block erase: 5 s on the 16-word-buffer and boot-block
 * sheets (typically 1 s); clearing all lock bits 0.7 s. A JEDEC sector
 * erase: 15 s (typically 0.7 s). A program, whether a word, a buffer or a
 * 0x41 page: under 12 ms. The agent's waits are bounded from these. */
#define FLASH_SR_ERASE_MAX_US 5000000u
#define FLASH_JEDEC_ERASE_MAX_US 15000000u
#define FLASH_PROGRAM_MAX_US 12000u

/* Buffered write: after SR_CMD_BUFFERED_WRITE the chip takes the count of
 * halfwords less one, the halfwords, then SR_CMD_CONFIRM */
#define SR_BUFFER_HALFWORDS 16
#define SR_BUFFER_COUNT(n) ((n) - 1)

/* SR_CMD_PROGRAM_PAGE programs this many halfwords of a pair, both chips */
#define SR_PAGE_HALFWORDS 256

/* Makers and devices of status-register chips */
#define ROM_MAKER_SR 0x0089
#define ROM_DEV_BUF_32M 0x0016      /* 4 MiB, 16-word write buffer */
#define ROM_DEV_BUF_64M 0x0017      /* 8 MiB, 16-word write buffer */
#define ROM_DEV_BUF_128M 0x0018     /* 16 MiB, 16-word write buffer */
#define ROM_DEV_BUF2_64M 0x8801     /* 8 MiB, write buffer: a pair is 16 MiB */
#define ROM_DEV_BUF2_128M 0x8802    /* 16 MiB, write buffer: a pair is 32 MiB */
#define ROM_DEV_BUF2_256M 0x8803    /* write buffer: a pair fills the 32 MiB window */
#define ROM_DEV_32M_TOP 0x8896      /* 4 MiB, parameter blocks at the top */
#define ROM_DEV_32M_BOTTOM 0x8897   /* 4 MiB, parameter blocks at the bottom */
#define ROM_DEV2_32M_TOP 0x88C4     /* 4 MiB, parameter blocks at the top */
#define ROM_DEV2_32M_BOTTOM 0x88C5  /* 4 MiB, parameter blocks at the bottom */
#define ROM_DEV_64M_TOP 0x88CC      /* 8 MiB, parameter blocks at the top */
#define ROM_DEV_64M_BOTTOM 0x88CD   /* 8 MiB, parameter blocks at the bottom */

#define ROM_MAKER_SR_B0 0x00B0
#define ROM_DEV_B0_64M 0x00E2       /* 8 MiB, 8 KiB blocks at 0x3F0000 and 0x7F0000 */

#define ROM_MAKER_SR_1C 0x001C
#define ROM_DEV_1C_PAIR 0x0020      /* pair of 4 MiB chips, 256-halfword program */

/* ---- JEDEC chips: a two-write prefix before each command byte ---- */
#define JEDEC_ADDR_1 0x08000AAA
#define JEDEC_ADDR_2 0x08000554
#define JEDEC_UNLOCK_1 0xAA        /* to JEDEC_ADDR_1 */
#define JEDEC_UNLOCK_2 0x55        /* to JEDEC_ADDR_2 */
#define JEDEC_CMD_READ_ID 0x90
#define JEDEC_CMD_ERASE_SETUP 0x80
#define JEDEC_CMD_SECTOR_ERASE 0x30 /* written to the sector, after a second prefix */
#define JEDEC_CMD_PROGRAM 0xA0
#define JEDEC_CMD_READ_ARRAY 0xF0  /* no prefix */
/* Unlock bypass of the parts that have it: the prefix and 0x20 enter it;
 * then each program is 0xA0 anywhere and the data, and 0x90 then 0x00
 * anywhere leave it */
#define JEDEC_CMD_UNLOCK_BYPASS 0x20
#define JEDEC_CMD_BYPASS_RESET 0x90
#define JEDEC_CMD_BYPASS_RESET_2 0x00
/* Identifier mode: word 2 of a sector reads 1 when a programmer protected
 * it; such a sector ignores erase and program */
#define JEDEC_ID_SECTOR_PROTECT 2
#define JEDEC_SECTOR_PROTECTED 0x0001

/* Reads during an erase or program: bit 6 toggles on every read while the
 * chip works; bit 5 rises when the operation ran out of time */
#define JEDEC_STATUS_TOGGLE 0x40
#define JEDEC_STATUS_TIMED_OUT 0x20

#define ROM_MAKER_JEDEC 0x0004
#define ROM_DEV_JEDEC_16M 0x22C4   /* 2 MiB */
#define ROM_DEV_JEDEC_8M 0x22DA    /* 1 MiB */

/* What an erased halfword of flash reads; programming it changes no bit */
#define FLASH_ERASED 0xFFFF

/* ---- Mask ROM ---- */
/* Every cartridge header carries a 156-byte logo from offset 4; its first
 * 16 bytes tell a readable ROM from a chip in identifier mode or no ROM. */
#define CART_LOGO_OFFSET 0x4
#define CART_LOGO_PROBE_BYTES 16
#define CART_LOGO_START \
  0x24, 0xFF, 0xAE, 0x51, 0x69, 0x9A, 0xA2, 0x21, 0x3D, 0x84, 0x82, 0x0A, 0x84, 0xE4, 0x09, 0xAD

/* Where no ROM answers, the bus returns the low 16 bits of the halfword
 * address: each megabyte beyond the ROM starts with 0, 1, 2, ... */
#define OPEN_BUS_STEP 0x100000
#define OPEN_BUS_PROBE_HALFWORDS 256

/* A board that decodes only the ROM's own address lines repeats the ROM
 * at its size, a power of two: the first 512 bytes show again there */
#define MIRROR_PROBE_HALFWORDS 256

#endif
