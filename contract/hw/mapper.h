/* Mapper of rewritable cartridges: a register set reached by 16-bit writes
 * into the ROM window, behind an unlock sequence. It pages ROMs larger than
 * the 32 MiB window and switches banks of the battery SRAM.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_MAPPER_H
#define KARTEX_CONTRACT_HW_MAPPER_H

#include "contract/hw/memory.h"

/* The mapper decodes halfword indexes into the ROM window */
#define MAPPER_INDEX_ADDRESS(index) (0x08000000 + 2 * (index))

/* ---- Registers ---- */
#define MAPPER_ROM_PAGE 0x096B592E                         /* page shown at 0x08000000 */
#define MAPPER_SRAM_BANK MAPPER_INDEX_ADDRESS(0xA12345)    /* 0x0942468A */
#define MAPPER_COMMAND MAPPER_INDEX_ADDRESS(0xF12345)      /* 0x09E2468A */

/* MAPPER_COMMAND value written before the cartridge is identified */
#define MAPPER_CMD_IDENTIFY 0x9413

/* MAPPER_SRAM_BANK: bank bits 0-2 stay in place, bank bit 3 goes to bit 11 */
#define SRAM_BANK_LOW_MASK 0x0007
#define SRAM_BANK_HIGH_BIT 0x0008
#define SRAM_BANK_HIGH_SHIFT 8
#define MAPPER_SRAM_BANK_VALUE(n) \
  (((n) & SRAM_BANK_LOW_MASK) | (((n) & SRAM_BANK_HIGH_BIT) << SRAM_BANK_HIGH_SHIFT))

/* MAPPER_ROM_PAGE counts 32 KiB units: a whole 32 MiB window is 0x400 of
 * them, so page = (ROM offset >> 25) * 0x400 shows that window at 0x08000000. */
#define ROM_WINDOW_SHIFT 25
#define ROM_WINDOW_MASK (ROM_WINDOW_SIZE - 1)
#define ROM_PAGES_PER_WINDOW 0x400
#define ROM_PAGE_OF_OFFSET(offset) (((offset) >> ROM_WINDOW_SHIFT) * ROM_PAGES_PER_WINDOW)
#define ROM_PAGE_FIRST 0x0000     /* offsets 0 to 32 MiB */
#define ROM_PAGE_PROBE 0x0010     /* 512 KiB in: shows other data only on a paging cartridge */
#define ROM_PAGE_32M 0x0400
#define ROM_PAGE_64M 0x0800

/* ---- Unlock sequence ----
 * Each step writes one value to one halfword index, the given number of
 * times; the whole sequence precedes every write to a mapper register. */
#define MAPPER_UNLOCK_REPEAT 500
#define MAPPER_UNLOCK_STEPS                       \
  {0x987654, 0x5354, 1},                          \
  {0x012345, 0x1234, MAPPER_UNLOCK_REPEAT},       \
  {0x007654, 0x5354, 1},                          \
  {0x012345, 0x5354, 1},                          \
  {0x012345, 0x5678, MAPPER_UNLOCK_REPEAT},       \
  {0x987654, 0x5354, 1},                          \
  {0x012345, 0x5354, 1},                          \
  {0x765400, 0x5678, 1},                          \
  {0x013450, 0x1234, 1},                          \
  {0x012345, 0xABCD, MAPPER_UNLOCK_REPEAT},       \
  {0x987654, 0x5354, 1}
#define MAPPER_UNLOCK_STEP_COUNT 11

#endif
