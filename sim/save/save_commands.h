#pragma once
// Command bytes, identifiers and sizes of the cartridge save chips: battery
// SRAM, 8-bit FLASH save chips in the save window, serial EEPROM in the
// 0x0D000000 window, and the save area inside a flash ROM.

#include <cstdint>

#include "sim/clock/sim_clock.h"

namespace kartex::save {

constexpr std::uint32_t KiB = 1024;
constexpr std::uint32_t WINDOW_BYTES = 0x10000;  // the save window's 16 address lines

// ---- Battery SRAM ----
constexpr std::uint32_t SRAM_32K = 32 * KiB;     // 15 address lines: mirrored in the window
constexpr std::uint32_t SRAM_256K = 256 * KiB;   // 4 banks of 64 KiB
constexpr std::uint32_t SRAM_1M = 1024 * KiB;    // 16 banks of 64 KiB
constexpr std::uint8_t SRAM_ERASED = 0xFF;       // what a fresh part holds in the simulator

// ---- FLASH save chips (8-bit, JEDEC-style commands) ----
constexpr std::uint32_t FLASH_ADDR_MASK = 0x7FFF;  // command cycles decode A14-A0
constexpr std::uint32_t FLASH_UNLOCK1_ADDR = 0x5555;
constexpr std::uint32_t FLASH_UNLOCK2_ADDR = 0x2AAA;
constexpr std::uint8_t FLASH_UNLOCK1 = 0xAA;
constexpr std::uint8_t FLASH_UNLOCK2 = 0x55;
constexpr std::uint8_t FLASH_ID_ENTER = 0x90;
constexpr std::uint8_t FLASH_RESET = 0xF0;         // leave ID mode; alone too, without the prefix
constexpr std::uint8_t FLASH_ERASE_SETUP = 0x80;
constexpr std::uint8_t FLASH_CHIP_ERASE = 0x10;    // after the second prefix, at 0x5555
constexpr std::uint8_t FLASH_SECTOR_ERASE = 0x30;  // after the second prefix, in the sector
constexpr std::uint8_t FLASH_PROGRAM = 0xA0;       // byte program; page load on the page part
constexpr std::uint8_t FLASH_BANK_SWITCH = 0xB0;   // 128 KiB parts: the bank goes to address 0
constexpr std::uint32_t FLASH_SECTOR_BYTES = 4 * KiB;
constexpr std::uint32_t FLASH_PAGE_BYTES = 128;    // the page-program part's erase-and-write unit
constexpr std::uint32_t FLASH_BANK_BYTES = 64 * KiB;
constexpr std::uint8_t FLASH_ERASED = 0xFF;

// Status while the part is busy.
constexpr std::uint8_t FLASH_DQ7_POLL = 0x80;    // complement of the data's bit 7; 0 while erasing
constexpr std::uint8_t FLASH_DQ6_TOGGLE = 0x40;  // toggles on every read
constexpr std::uint8_t FLASH_DQ5_TIMEOUT = 0x20; // parts with a time limit: the operation failed
constexpr std::uint8_t FLASH_DQ3_ERASING = 0x08;

// WAITCNT bits 0-1 give the save window 4, 3, 2 or 8 cycles per access.
constexpr unsigned SAVE_WAIT_DETECT = 8;  // what every FLASH save part takes, identification included

// Identifier bytes (manufacturer at 0x0E000000, device at 0x0E000001).
constexpr std::uint8_t MAKER_1F = 0x1F, DEV_3D = 0x3D;  // 64 KiB, 128-byte page program, no erase
constexpr std::uint8_t MAKER_BF = 0xBF, DEV_D4 = 0xD4;  // 64 KiB, 16 x 4 KiB sectors
constexpr std::uint8_t MAKER_C2 = 0xC2, DEV_1C = 0x1C;  // 64 KiB, 16 x 4 KiB sectors
constexpr std::uint8_t MAKER_32 = 0x32, DEV_1B = 0x1B;  // 64 KiB, 16 x 4 KiB sectors
constexpr std::uint8_t DEV_09 = 0x09;                   // with MAKER_C2: 128 KiB, two banks
constexpr std::uint8_t MAKER_62 = 0x62, DEV_13 = 0x13;  // 128 KiB, two banks

// The page-program part loads its page until no byte has come for the
// byte load cycle time (150 us maximum in 128-byte page-write flash data
// sheets); only then does its write cycle start.
constexpr SimTime FLASH_PAGE_LOAD_WINDOW = simtime::microseconds(150);
// The longest time any FLASH save operation takes (a chip erase), for
// checking a kept state's deadline.
constexpr SimTime FLASH_LONGEST_OPERATION = simtime::milliseconds(2000);

// ---- Serial EEPROM (one bit per halfword, bit 0) ----
constexpr std::uint32_t EEPROM_512 = 512;        // 64 blocks, 6 address bits
constexpr std::uint32_t EEPROM_8K = 8 * KiB;     // 1024 blocks, 14 address bits (upper 4 unused)
constexpr std::uint32_t EEPROM_BLOCK_BYTES = 8;
constexpr std::uint32_t EEPROM_DUMMY_BITS = 4;   // output before the 64 data bits
constexpr std::uint32_t EEPROM_DATA_BITS = 64;
constexpr std::uint8_t EEPROM_REQ_READ = 0x3;    // first two bits "11"
constexpr std::uint8_t EEPROM_REQ_WRITE = 0x2;   // first two bits "10"
constexpr std::uint8_t EEPROM_WRITE_STOP = 0;     // the bit after a write request's data
// Erasing the old 64 bits and programming the new ones: about 108,368 CPU
// cycles (6.5 ms) as measured on the console's EEPROM parts; status reads
// 0 until then.
constexpr SimTime EEPROM_WRITE_TIME = simtime::cycles(108368);
// The chip select is cartridge address line A23 (ROM offset bit 24), in
// every ROM window; beside a ROM larger than 16 MiB, which needs A23, the
// board ANDs A7-A22 in as well: only the top 256 bytes of the window select it.
constexpr std::uint32_t EEPROM_SELECT_OFFSET = 0x01000000;
constexpr std::uint32_t EEPROM_TOP_OFFSET = 0x01FFFF00;
constexpr std::uint32_t EEPROM_WINDOW = 0x0D000000;      // where games reach it beside small ROMs
constexpr std::uint32_t EEPROM_TOP_WINDOW = 0x0DFFFF00;  // where it answers beside every ROM
constexpr std::uint32_t EEPROM_SMALL_ROM_MAX = 16 * 1024 * KiB;
constexpr std::uint8_t EEPROM_ERASED = 0xFF;

// ---- Save area inside the flash ROM (16-bit, status-register commands) ----
constexpr std::uint32_t ROM_SAVE_OFFSET = 0x1F00000;  // ROM offset; console 0x0DF00000 in wait state 2
constexpr std::uint32_t ROM_SAVE_BYTES = 1024 * KiB;  // 15 x 64 KiB blocks, then 8 x 8 KiB
constexpr std::uint16_t ROM_SAVE_MAKER = 0x00B0;
constexpr std::uint16_t ROM_SAVE_DEVICE = 0x009F;     // 8 Mbit save area

}  // namespace kartex::save
