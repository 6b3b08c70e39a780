#pragma once
// Command bytes, status bits and identifier codes of the flash ROM chips
// the cartridges carry. Status-register chips decode commands from the low
// byte of a 16-bit write; JEDEC chips take a two-write unlock prefix at
// fixed word addresses before each command byte.

#include <cstdint>

namespace kartex::flash {

// ---- Status-register command set (16-bit chips, commands on DQ7-DQ0) ----
constexpr std::uint8_t CMD_READ_ARRAY = 0xFF;
constexpr std::uint8_t CMD_READ_ID = 0x90;
constexpr std::uint8_t CMD_READ_QUERY = 0x98;        // CFI query, on the parts whose sheets give one
constexpr std::uint8_t CMD_READ_STATUS = 0x70;
constexpr std::uint8_t CMD_CLEAR_STATUS = 0x50;
constexpr std::uint8_t CMD_BLOCK_ERASE = 0x20;       // then CMD_CONFIRM in the block
constexpr std::uint8_t CMD_WORD_PROGRAM = 0x40;      // then the data word
constexpr std::uint8_t CMD_WORD_PROGRAM_ALT = 0x10;  // same as 0x40
constexpr std::uint8_t CMD_BUFFERED_WRITE = 0xE8;    // then count - 1, the words, CMD_CONFIRM
constexpr std::uint8_t CMD_PAGE_PROGRAM = 0x41;      // then one page of words, no confirm
constexpr std::uint8_t CMD_LOCK_SETUP = 0x60;        // then one of the three below
constexpr std::uint8_t CMD_LOCK_BLOCK = 0x01;
constexpr std::uint8_t CMD_LOCK_DOWN = 0x2F;
constexpr std::uint8_t CMD_CONFIRM = 0xD0;           // erase/buffer confirm; after 0x60: unlock
constexpr std::uint8_t CMD_SUSPEND = 0xB0;           // erase/program suspend: not modelled

// Status register bits.
constexpr std::uint8_t SR_READY = 0x80;          // write state machine idle
constexpr std::uint8_t SR_ERASE_ERROR = 0x20;    // with SR_PROGRAM_ERROR: bad command sequence
constexpr std::uint8_t SR_PROGRAM_ERROR = 0x10;
constexpr std::uint8_t SR_BLOCK_LOCKED = 0x02;   // the operation hit a locked block
constexpr std::uint8_t SR_ERROR_BITS = 0x3E;     // what CMD_CLEAR_STATUS clears

// Identifier mode: word offsets within a block.
constexpr std::uint32_t ID_MAKER = 0;
constexpr std::uint32_t ID_DEVICE = 1;
constexpr std::uint32_t ID_LOCK = 2;             // bit 0 locked, bit 1 locked down
constexpr std::uint16_t ID_LOCK_LOCKED = 0x01;
constexpr std::uint16_t ID_LOCK_DOWN = 0x02;

// ---- JEDEC command set (16-bit word mode) ----
constexpr std::uint32_t JEDEC_ADDR_MASK = 0x7FF;     // address bits the unlock decodes
constexpr std::uint32_t JEDEC_UNLOCK1_ADDR = 0x555;  // console 0x08000AAA
constexpr std::uint32_t JEDEC_UNLOCK2_ADDR = 0x2AA;  // console 0x08000554
constexpr std::uint8_t JEDEC_UNLOCK1 = 0xAA;
constexpr std::uint8_t JEDEC_UNLOCK2 = 0x55;
constexpr std::uint8_t JEDEC_AUTOSELECT = 0x90;
constexpr std::uint8_t JEDEC_PROGRAM = 0xA0;
constexpr std::uint8_t JEDEC_ERASE_SETUP = 0x80;
constexpr std::uint8_t JEDEC_SECTOR_ERASE = 0x30;    // at the sector
constexpr std::uint8_t JEDEC_CHIP_ERASE = 0x10;      // at the unlock address
constexpr std::uint8_t JEDEC_RESET = 0xF0;
// Unlock bypass, on the parts whose sheets give it: the unlock and 0x20 at
// 0x555 enter it; then 0xA0 anywhere and the address and data program a
// word, and 0x90 then 0x00 anywhere leave it.
constexpr std::uint8_t JEDEC_UNLOCK_BYPASS = 0x20;
constexpr std::uint8_t JEDEC_BYPASS_RESET = 0x90;
constexpr std::uint8_t JEDEC_BYPASS_RESET_2 = 0x00;
// Write buffer of the AMD-command-set parts that have one: after the
// unlock, 0x25 at the sector, then the count less one at the sector, the
// words (all within one buffer page), and 0x29 at the sector.
constexpr std::uint8_t JEDEC_WRITE_BUFFER = 0x25;
constexpr std::uint8_t JEDEC_BUFFER_CONFIRM = 0x29;

// CFI query: 0x98 at word 0x55 in read or autoselect mode; the table is
// read from word 0x10 ("QRY") on, one byte in the low half of each word.
constexpr std::uint32_t CFI_QUERY_ADDR = 0x55;
constexpr std::uint8_t CFI_QUERY = 0x98;
constexpr std::uint32_t CFI_TABLE_START = 0x10;

// JEDEC status while the embedded algorithm runs.
constexpr std::uint16_t DQ7_POLL = 0x80;     // complement of the data's bit 7; 0 during erase
constexpr std::uint16_t DQ6_TOGGLE = 0x40;   // toggles on every read
constexpr std::uint16_t DQ5_TIMEOUT = 0x20;  // the algorithm exceeded its time limit
constexpr std::uint16_t DQ3_ERASE_STARTED = 0x08;
constexpr std::uint16_t DQ2_TOGGLE = 0x04;   // toggles on reads of the sector being erased
constexpr std::uint16_t DQ1_BUFFER_ABORT = 0x02;  // a write-to-buffer sequence was aborted

// Autoselect: word offsets.
constexpr std::uint32_t AUTOSELECT_MAKER = 0;
constexpr std::uint32_t AUTOSELECT_DEVICE = 1;
constexpr std::uint32_t AUTOSELECT_PROTECT = 2;
constexpr std::uint32_t AUTOSELECT_DEVICE_2 = 0x0E;  // parts whose device word reads 0x227E
constexpr std::uint32_t AUTOSELECT_DEVICE_3 = 0x0F;

// ---- Identifier codes ----
constexpr std::uint16_t MAKER_89 = 0x0089;      // status-register chips of kinds 2, 3, 7, 8
constexpr std::uint16_t MAKER_B0 = 0x00B0;      // status-register chip of kind 4
constexpr std::uint16_t MAKER_1C = 0x001C;      // status-register chips of kind 9
constexpr std::uint16_t MAKER_04 = 0x0004;      // JEDEC chips of kinds 5 and 6

constexpr std::uint16_t DEV_BUF_32M = 0x0016;   // 32 Mbit, 16-word buffer, uniform blocks
constexpr std::uint16_t DEV_BUF_64M = 0x0017;   // 64 Mbit, same family
constexpr std::uint16_t DEV_BUF_128M = 0x0018;  // 128 Mbit, same family
constexpr std::uint16_t DEV_LBUF_64M = 0x8801;  // 64 Mbit, 32-word buffer, locked at power-up
constexpr std::uint16_t DEV_LBUF_128M = 0x8802; // 128 Mbit, same family
constexpr std::uint16_t DEV_LBUF_256M = 0x8803; // 256 Mbit, same family
constexpr std::uint16_t DEV_BOOT_32M_T = 0x8896;   // 32 Mbit, parameter blocks at the top
constexpr std::uint16_t DEV_BOOT_32M_B = 0x8897;   // 32 Mbit, parameter blocks at the bottom
constexpr std::uint16_t DEV_LBOOT_32M_T = 0x88C4;  // 32 Mbit, top, locked at power-up
constexpr std::uint16_t DEV_LBOOT_32M_B = 0x88C5;  // 32 Mbit, bottom, locked at power-up
constexpr std::uint16_t DEV_LBOOT_64M_T = 0x88CC;  // 64 Mbit, top, locked at power-up
constexpr std::uint16_t DEV_LBOOT_64M_B = 0x88CD;  // 64 Mbit, bottom, locked at power-up
constexpr std::uint16_t DEV_DUAL_64M = 0x00E2;     // 64 Mbit, parameter blocks atop each half
constexpr std::uint16_t DEV_PAGE_32M_T = 0x0020;   // 32 Mbit, top, 128-word page program
constexpr std::uint16_t DEV_JEDEC_8M_T = 0x22DA;   // 8 Mbit JEDEC, top boot sectors
constexpr std::uint16_t DEV_JEDEC_16M_T = 0x22C4;  // 16 Mbit JEDEC, top boot sectors

// AMD-command-set parts with CFI tables, as reproduction boards carry them
constexpr std::uint16_t MAKER_01 = 0x0001;
constexpr std::uint16_t DEV_MULTI_WORD = 0x227E;   // the device code follows at 0x0E and 0x0F
constexpr std::uint16_t DEV_GL_128M = 0x2221;      // 128 Mbit uniform, 32-word buffer (word 0x0E)
constexpr std::uint16_t DEV_GL_256M = 0x2222;      // 256 Mbit uniform, same family
constexpr std::uint16_t DEV_GL_LAST = 0x2201;      // word 0x0F of that family
constexpr std::uint16_t DEV_LV_32M_B = 0x22F9;     // 32 Mbit, eight 8 KiB boot sectors at the bottom

// Status-register parts with CFI tables (command set 0x0001), maker 0x89
constexpr std::uint16_t DEV_P_128M_T = 0x8818;     // 128 Mbit, four 32 KiB parameter blocks at the top
constexpr std::uint16_t DEV_P_128M_B = 0x881B;     // 128 Mbit, the same at the bottom
constexpr std::uint16_t DEV_P_256M_T = 0x8919;     // 256 Mbit, four 32 KiB parameter blocks at the top
constexpr std::uint16_t DEV_P_256M_B = 0x891C;     // 256 Mbit, the same at the bottom

}  // namespace kartex::flash
