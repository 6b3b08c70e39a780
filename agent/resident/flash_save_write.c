/* FLASH save chips in the save window, 8-bit commands. Sectors of 4 KiB
 * are erased and then programmed byte by byte; the chip of row
 * FLASH_SAVE_ROW_PAGED instead programs 128-byte pages, erasing each page
 * itself. The 128 KiB chips show a sector only in its 64 KiB bank. */
#include "link/protocol.h"
#include "agent/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/flash_save_write.h"
#include "agent/resident/save_flash.h"
#include "agent/resident/save_units.h"
#include "agent/resident/state.h"

/* Until two reads in a row agree in the toggle bit: the chip has finished.
 * Bounded, so that a chip that never settles does not stop the agent; the
 * write is not reported either way. */
static void toggle_wait(u32 address)
{
  for (u32 n = 0; n < FLASH_SAVE_TOGGLE_POLL_PASSES; n++) {
    u8 first = bus_read8(address);
    u8 second = bus_read8(address);
    if (((first ^ second) & FLASH_SAVE_TOGGLE_BIT) == 0)
      return;
  }
}

static u32 sector_address(u32 sector)
{
  return SAVE_BASE + (sector % FLASH_SAVE_SECTORS_PER_BANK) * FLASH_SAVE_SECTOR_SIZE;
}

static void select_sector_bank(u32 sector)
{
  if (save_type == SAVE_TYPE_FLASH_128K)
    save_flash_bank(sector / FLASH_SAVE_SECTORS_PER_BANK);
}

static void erase_sector(u32 address)
{
  save_flash_command(FLASH_SAVE_CMD_ERASE_SETUP);
  save_flash_unlock();
  bus_write8(address, FLASH_SAVE_CMD_SECTOR_ERASE);
  toggle_wait(address);
  bus_write8(FLASH_SAVE_RESET_ADDR, FLASH_SAVE_CMD_RESET);
}

static void program_bytes(u32 address, const u8 *src)
{
  for (u32 k = 0; k < FLASH_SAVE_SECTOR_SIZE; k++) {
    save_flash_command(FLASH_SAVE_CMD_PROGRAM);
    bus_write8(address + k, src[k]);
    toggle_wait(address + k);
  }
}

/* One program command loads a whole page; the ROM read after each byte
 * spaces the loads out as the chip expects. */
static void program_pages(u32 address, const u8 *src)
{
  for (u32 page = 0; page < FLASH_SAVE_SECTOR_SIZE; page += FLASH_SAVE_PAGE_SIZE) {
    save_flash_command(FLASH_SAVE_CMD_PROGRAM);
    for (u32 k = page; k < page + FLASH_SAVE_PAGE_SIZE; k++) {
      bus_write8(address + k, src[k]);
      bus_pause8(ROM_BASE, FLASH_SAVE_PAGE_PAUSE_READS);
    }
    toggle_wait(address + page + FLASH_SAVE_PAGE_SIZE - 1);
  }
}

void flash_save_write_sector(u32 sector, const u8 *src)
{
  sector &= FLASH_SAVE_SECTOR_MASK;
  u32 address = sector_address(sector);
  if (save_type == SAVE_TYPE_FLASH_64K && save_chip == FLASH_SAVE_ROW_PAGED) {
    program_pages(address, src);
    return;
  }
  select_sector_bank(sector);
  erase_sector(address);
  program_bytes(address, src);
}

void flash_save_write(u32 offset, u32 bytes)
{
  u8 *staging = staging_area(bytes);
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 part = unit_part(pos, bytes - done, FLASH_SAVE_SECTOR_SIZE);
    u32 sector = (pos >> FLASH_SAVE_SECTOR_SHIFT) & FLASH_SAVE_SECTOR_MASK;
    const u8 *src = data_buffer + done;
    if (part != FLASH_SAVE_SECTOR_SIZE) {
      /* The erase takes the whole sector: the bytes outside the range are
       * read first and written back with the new ones. */
      u32 address = sector_address(sector);
      select_sector_bank(sector);
      for (u32 k = 0; k < FLASH_SAVE_SECTOR_SIZE; k++)
        staging[k] = bus_read8(address + k);
      copy_bytes(staging + (pos & (FLASH_SAVE_SECTOR_SIZE - 1)), src, part);
      src = staging;
    }
    flash_save_write_sector(sector, src);
    done += part;
  }
}
