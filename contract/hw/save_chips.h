/* Cartridge save memory: the 8-bit save window with SRAM or a FLASH save
 * chip, the serial EEPROM in the wait state 2 ROM mirror, and the save area
 * inside the ROM's own flash.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_SAVE_CHIPS_H
#define KARTEX_CONTRACT_HW_SAVE_CHIPS_H

/* ---- Save window (SAVE_BASE), 64 KiB, 8-bit bus ---- */
#define SAVE_WINDOW_SIZE 0x10000
#define SAVE_BANK_SHIFT 16         /* save offset >> 16: the 64 KiB bank that holds it */
#define SRAM_MIRROR_OFFSET 0x8000  /* a 32 KiB SRAM shows again here */
#define SRAM_HALF_BANK_SIZE 0x8000 /* the 32 KiB unit of the SRAM bank copies */
#define SRAM_PROBE_BYTES 8
#define SRAM_PROBE_ADD 0x55

/* ---- FLASH save chips: 8-bit commands behind a two-write prefix ---- */
#define FLASH_SAVE_ADDR_1 0x0E005555
#define FLASH_SAVE_ADDR_2 0x0E002AAA
#define FLASH_SAVE_UNLOCK_1 0xAA   /* to FLASH_SAVE_ADDR_1 */
#define FLASH_SAVE_UNLOCK_2 0x55   /* to FLASH_SAVE_ADDR_2 */
#define FLASH_SAVE_CMD_READ_ID 0x90
#define FLASH_SAVE_CMD_EXIT_ID 0xF0
#define FLASH_SAVE_CMD_ERASE_SETUP 0x80
#define FLASH_SAVE_CMD_SECTOR_ERASE 0x30
#define FLASH_SAVE_CMD_PROGRAM 0xA0
#define FLASH_SAVE_CMD_BANK 0xB0   /* 128 KiB chips: then the bank to FLASH_SAVE_BANK_ADDR */
#define FLASH_SAVE_CMD_RESET 0xF0  /* alone, to FLASH_SAVE_RESET_ADDR: read mode after an erase */
#define FLASH_SAVE_BANK_ADDR 0x0E000000
#define FLASH_SAVE_RESET_ADDR 0x0E000000
#define FLASH_SAVE_ID_MAKER 0x0E000000
#define FLASH_SAVE_ID_DEVICE 0x0E000001

/* Makers and devices; the 64 KiB rows are numbered 0-3 in this order */
#define FLASH_SAVE_MAKER_64K_0 0x1F
#define FLASH_SAVE_DEV_64K_0 0x3D  /* 64 KiB, 128-byte page program, no erase */
#define FLASH_SAVE_MAKER_64K_1 0xBF
#define FLASH_SAVE_DEV_64K_1 0xD4  /* 64 KiB */
#define FLASH_SAVE_MAKER_64K_2 0xC2
#define FLASH_SAVE_DEV_64K_2 0x1C  /* 64 KiB */
#define FLASH_SAVE_MAKER_64K_3 0x32
#define FLASH_SAVE_DEV_64K_3 0x1B  /* 64 KiB */
#define FLASH_SAVE_MAKER_128K_0 0xC2
#define FLASH_SAVE_DEV_128K_0 0x09 /* 128 KiB, two banks */
#define FLASH_SAVE_MAKER_128K_1 0x62
#define FLASH_SAVE_DEV_128K_1 0x13 /* 128 KiB, two banks; takes a second 0xF0 to leave ID mode */

/* save_chip of the 64 KiB chip that programs 128-byte pages and erases
 * each page itself */
#define FLASH_SAVE_ROW_PAGED 0

/* ---- FLASH save layout and writing ---- */
#define FLASH_SAVE_SECTOR_SIZE 0x1000  /* erase unit */
#define FLASH_SAVE_SECTOR_SHIFT 12
#define FLASH_SAVE_SECTORS_PER_BANK 16 /* 64 KiB banks of the 128 KiB chips */
#define FLASH_SAVE_SECTOR_MASK 0xFFFF  /* sector numbers are 16-bit */
#define FLASH_SAVE_PAGE_SIZE 128       /* page program of FLASH_SAVE_ROW_PAGED */
#define FLASH_SAVE_ERASED 0xFF         /* what an erased cell reads */
#define FLASH_SAVE_PAGE_PAUSE_READS 1  /* byte reads of ROM_BASE after each byte of a page */
/* A cell may not take its byte and the chip still report the write done:
 * every sector is read back after it is written and written again if it
 * differs, as the console makers' save library does. The page part writes
 * each page whole, so a page is its own retry, and pages come cheap. */
#define FLASH_SAVE_SECTOR_TRIES 3
#define FLASH_SAVE_PAGE_TRIES 80
/* Bit 6 changes on every read while the chip erases or programs */
#define FLASH_SAVE_TOGGLE_BIT 0x40
/* Macronix parts: set while bit 6 still toggles, the operation ran past its
 * limit and only FLASH_SAVE_CMD_RESET ends it */
#define FLASH_SAVE_TIMEOUT_BIT 0x20

/* ---- Waits in real time ----
 * save_delay(n) spends n passes of SAVE_DELAY_PASS_CYCLES CPU cycles (at
 * 2^24 Hz) in internal work RAM; a time in microseconds becomes passes,
 * rounded up. */
#define SAVE_DELAY_PASS_CYCLES 66
#define SAVE_DELAY_PASSES(us) (((us) * 16777u + SAVE_DELAY_PASS_CYCLES * 1000u - 1) / (SAVE_DELAY_PASS_CYCLES * 1000u))

/* The page part starts writing once no byte has come for 150 us; it is
 * polled only after that */
#define FLASH_SAVE_PAGE_LOAD_WAIT_US 200
/* Between two status polls of a long operation */
#define FLASH_SAVE_POLL_PAUSE_US 50
/* Bounds of the status polls, with GBATEK's time-outs (10 ms for a byte
 * or a page, up to 2 s for an erase) and room to spare; each pass of a
 * bounded poll takes at least the pause, so a bound in passes is a bound
 * in time */
#define FLASH_SAVE_WRITE_TIMEOUT_US 40000
#define FLASH_SAVE_ERASE_TIMEOUT_US 4000000

/* Identification as the console makers' library does it: the identifier
 * mode takes effect after a latency; wait 20 ms after entering and after
 * leaving it, and leave it twice (some parts want a second 0xF0) */
#define FLASH_SAVE_ID_WAIT_US 20000

/* Reads that give a chip time to settle before identification */
#define SAVE_PROBE_PAUSE_READS 65536

/* ---- Serial EEPROM: one bit per halfword, bit 0, through DMA channel 3 ----
 * Its chip select is cartridge line A23, with A7-A22 ANDed in beside a
 * 32 MiB ROM: the top 256 bytes of the wait state 2 window select it
 * beside every ROM size. */
#define EEPROM_PORT 0x0DFFFF00
#define EEPROM_BIT 0x0001
#define EEPROM_ADDR_BITS_512 6     /* 512-byte EEPROM: 64 blocks */
#define EEPROM_ADDR_BITS_8K 14     /* 8 KiB EEPROM: 1,024 blocks, 14-bit block numbers */
#define EEPROM_BLOCK_BYTES 8
#define EEPROM_DATA_BITS 64
#define EEPROM_ANSWER_LEAD_BITS 4  /* dropped at the start of a read answer */
#define EEPROM_ANSWER_BITS (EEPROM_ANSWER_LEAD_BITS + EEPROM_DATA_BITS) /* 68 */
/* A request starts with two bits: 1 1 to read, 1 0 to write; both end
 * with a 0 (a write request after its data). */
#define EEPROM_START_BITS 2
#define EEPROM_END_BITS 1
#define EEPROM_READ_REQUEST_BITS(addr_bits) (EEPROM_START_BITS + (addr_bits) + EEPROM_END_BITS)
#define EEPROM_WRITE_REQUEST_BITS(addr_bits) \
  (EEPROM_START_BITS + (addr_bits) + EEPROM_DATA_BITS + EEPROM_END_BITS)
#define EEPROM_MAX_WRITE_REQUEST_BITS EEPROM_WRITE_REQUEST_BITS(EEPROM_ADDR_BITS_8K) /* 81 */
#define EEPROM_MAX_READ_REQUEST_BITS EEPROM_READ_REQUEST_BITS(EEPROM_ADDR_BITS_8K)   /* 17 */
/* After a write the EEPROM reads 0 in bit 0 while it is busy, about
 * 6.5 ms; GBATEK gives up after 10 ms or more */
#define EEPROM_WRITE_TIMEOUT_US 20000
#define EEPROM_POLL_PAUSE_US 50

/* ---- Save area in the ROM's own flash, 1 MiB at ROM offset 0x1F00000 ----
 * Written through the wait state 2 mirror with 16-bit status-register commands. */
#define ROM_SAVE_BASE 0x0DF00000
#define ROM_SAVE_STATUS 0x0DFFFFFE
#define ROM_SAVE_ID_MAKER 0x00B0   /* at ROM_SAVE_BASE in identifier mode */
#define ROM_SAVE_ID_DEVICE 0x009F  /* at ROM_SAVE_BASE + 2 */
#define ROM_SAVE_SIZE 0x100000
#define ROM_SAVE_SECTOR_SIZE 0x2000
#define ROM_SAVE_BLOCK_SIZE 0x10000    /* erase block of sectors 0-119, eight sectors */
#define ROM_SAVE_SINGLE_SECTORS 0xF0000 /* from sector 120 on, each sector erases alone */
/* Sector 0x7E takes SR_CMD_LOCK_SETUP, then this (not SR_CMD_CONFIRM),
 * before its erase */
#define ROM_SAVE_SECTOR_7E 0xFC000
#define ROM_SAVE_CMD_7E_CONFIRM 0xDC
#define ROM_SAVE_CMD_CLEAR_STATUS 0x50

#endif
