/* Flash ROM erase: block erase of status-register chips, one or a pair,
 * and sector erase of JEDEC chips. Chips whose last 64 KiB (or first) are
 * split into small parameter blocks or sectors get one erase for each.
 * All indexes are halfwords within the page the mapper shows. */
#include "contract/wire.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/cfi_flash.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/rom_erase.h"
#include "agent/resident/requests.h"
#include "agent/resident/rom_status.h"
#include "agent/resident/state.h"

/* The 64 KiB block within each 8 MiB (kinds 4 to 7) */
#define BLOCK_64K_MASK 0x3F8000
/* Kind 4: the last 64 KiB of each 4 MiB are eight 8 KiB blocks */
#define PARAM_8M_LOW 0x1F8000
#define PARAM_8M_HIGH 0x3F8000
/* Kind 7: the first 64 KiB of each 4 MiB are eight 8 KiB blocks */
#define PARAM_4M_LOW 0x000000
#define PARAM_4M_HIGH 0x200000
#define PARAM_BLOCKS 8
#define PARAM_BLOCK_STEP 0x1000 /* 8 KiB */

/* Kinds 5 and 6: the last 64 KiB of the chip are sectors of 32, 8, 8 and
 * 16 KiB */
#define JEDEC_1M_SPLIT 0x78000
#define JEDEC_2M_SPLIT 0xF8000
static const u16 split_sectors[] = {0x0000, 0x4000, 0x5000, 0x6000};

/* Kinds 8 and 9: 128 KiB blocks of the pair; the last or the first of each
 * 8 MiB is eight pair blocks of 16 KiB */
#define PAIR_BLOCK_MASK 0xFF0000
#define PAIR_BLOCK_IN_8M 0x3F0000
#define PAIR_PARAM_TOP 0x3F0000
#define PAIR_PARAM_BOTTOM 0x000000
#define PAIR_PARAM_STEP 0x2000 /* 16 KiB */

/* Every wait ended before, so the chips are idle: a clean status, so that
 * the error bits read at the end are this erase's own. */
static void block_erase(u32 h)
{
  chip_write(h, SR_CMD_CLEAR_STATUS);
  unlock_block(h);
  chip_write(h, SR_CMD_ERASE_SETUP);
  chip_write(h, SR_CMD_CONFIRM);
  sr_wait(h, FLASH_FAIL_ERASE);
}

static void pair_block_erase(u32 h)
{
  chip_write(h, SR_CMD_CLEAR_STATUS);
  chip_write(h + 1, SR_CMD_CLEAR_STATUS);
  chip_write(h, SR_CMD_ERASE_SETUP);
  chip_write(h + 1, SR_CMD_ERASE_SETUP);
  chip_write(h, SR_CMD_CONFIRM);
  chip_write(h + 1, SR_CMD_CONFIRM);
  sr_wait_pair(h, FLASH_FAIL_ERASE);
}

/* The chip would take the erase of a protected sector, show its status
 * for some microseconds and leave the sector as it was: asked first, it
 * says so in identifier mode. */
static int sector_protected(u32 h)
{
  jedec_unlock();
  bus_write16(JEDEC_ADDR_1, JEDEC_CMD_READ_ID);
  u16 protect = chip_read(h + JEDEC_ID_SECTOR_PROTECT);
  bus_write16(ROM_BASE, JEDEC_CMD_READ_ARRAY);
  return (protect & JEDEC_SECTOR_PROTECTED) != 0;
}

static void sector_erase(u32 h)
{
  if (sector_protected(h)) {
    flash_fail(h, FLASH_FAIL_ERASE | FLASH_FAIL_PROTECTED);
    return;
  }
  jedec_unlock();
  bus_write16(JEDEC_ADDR_1, JEDEC_CMD_ERASE_SETUP);
  jedec_unlock();
  chip_write(h, JEDEC_CMD_SECTOR_ERASE);
  jedec_wait_erase(h);
  bus_write16(ROM_BASE, JEDEC_CMD_READ_ARRAY);
}

static void param_block_erase(u32 b, u32 step, void (*erase)(u32))
{
  for (u32 i = 0; i < PARAM_BLOCKS; i++)
    erase(b + i * step);
}

static void jedec_erase(u32 b, u32 split)
{
  if (b != split) {
    sector_erase(b);
    return;
  }
  for (u32 i = 0; i < sizeof split_sectors / sizeof split_sectors[0]; i++)
    sector_erase(b + split_sectors[i]);
}

static int reads_erased(u32 h, u32 halfwords)
{
  for (u32 i = 0; i < halfwords; i++)
    if (chip_read(h + i) != FLASH_ERASED)
      return 0;
  return 1;
}

void erase_at(u32 offset)
{
  select_rom_page((u16)ROM_PAGE_OF_OFFSET(offset));
  if (erase_block == 0 || flash_stalled) /* no flash, or a chip that may be busy */
    return;
  /* The block's first halfword: a pair's erase then starts on the even
   * chip, and the blank check covers that block, not the next. Erase
   * blocks are powers of two. */
  u32 block_halfwords = erase_block >> 1;
  u32 h = (offset >> 1) & WINDOW_HALFWORD_MASK & ~(block_halfwords - 1);
  if (reads_erased(h, block_halfwords))
    return;

  u32 b;
  switch (rom_kind) {
  case ROM_KIND_BUFFERED:
    block_erase(h);
    break;
  case ROM_KIND_BUFFERED_PAIR:
    pair_block_erase(h);
    break;
  case ROM_KIND_PARAM_8M:
    b = h & BLOCK_64K_MASK;
    if (b == PARAM_8M_LOW || b == PARAM_8M_HIGH)
      param_block_erase(b, PARAM_BLOCK_STEP, block_erase);
    else
      block_erase(b);
    break;
  case ROM_KIND_JEDEC_1M:
    jedec_erase(h & BLOCK_64K_MASK, JEDEC_1M_SPLIT);
    break;
  case ROM_KIND_JEDEC_2M:
    jedec_erase(h & BLOCK_64K_MASK, JEDEC_2M_SPLIT);
    break;
  case ROM_KIND_PARAM_4M:
    b = h & BLOCK_64K_MASK;
    if (b == PARAM_4M_LOW || b == PARAM_4M_HIGH)
      param_block_erase(b, PARAM_BLOCK_STEP, block_erase);
    else
      block_erase(b);
    break;
  case ROM_KIND_PARAM_PAIR:
  case ROM_KIND_PAGE_PAIR:
    b = h & PAIR_BLOCK_MASK;
    if ((b & PAIR_BLOCK_IN_8M) == (top_boot ? PAIR_PARAM_TOP : PAIR_PARAM_BOTTOM))
      param_block_erase(b, PAIR_PARAM_STEP, pair_block_erase);
    else
      pair_block_erase(b);
    break;
  case ROM_KIND_CFI:
    cfi_erase_block(h);
    break;
  default: /* no chip, or a mask ROM */
    break;
  }
}

void req_flash_erase(u32 offset, u32 unused2, u32 unused3)
{
  (void)unused2;
  (void)unused3;
  erase_at(offset);
  reply_done();
  read_array_reset(offset >> 1);
}
