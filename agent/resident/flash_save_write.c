/* FLASH save chips in the save window, 8-bit commands. Sectors of 4 KiB
 * are erased and then programmed byte by byte; the chip of row
 * FLASH_SAVE_ROW_PAGED instead programs 128-byte pages, erasing each page
 * itself. The 128 KiB chips show a sector only in its 64 KiB bank. */
#include "contract/wire.h"
#include "contract/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/flash_save_write.h"
#include "agent/resident/save_delay.h"
#include "agent/resident/save_flash.h"
#include "agent/resident/save_units.h"
#include "agent/resident/state.h"

/* Until two reads in a row agree in the toggle bit: the chip has finished.
 * A Macronix part that ran past its limit shows the time-out bit while it
 * still toggles and waits for the reset command, as does a chip that never
 * settles within the bound: both get it, so that the chip reads its array
 * again. The bound counts passes of at least `pause_us`, worked out where
 * both are constants so that no division runs here; the write is not
 * reported either way. */
#define toggle_wait(address, pause_us, timeout_us) toggle_passes(address, pause_us, (timeout_us) / (pause_us))

static void toggle_passes(u32 address, u32 pause_us, u32 passes)
{
  u32 pause = SAVE_DELAY_PASSES(pause_us);
  for (u32 n = 0; n <= passes; n++) {
    u8 first = bus_read8(address);
    u8 second = bus_read8(address);
    if (((first ^ second) & FLASH_SAVE_TOGGLE_BIT) == 0)
      return;
    /* A byte's program ends within microseconds: it may have ended at the
     * second read, and a third tells without waiting a pause for it */
    first = bus_read8(address);
    if (((first ^ second) & FLASH_SAVE_TOGGLE_BIT) == 0)
      return;
    if (first & FLASH_SAVE_TIMEOUT_BIT) {
      /* It may have finished between the two reads */
      first = bus_read8(address);
      second = bus_read8(address);
      if (((first ^ second) & FLASH_SAVE_TOGGLE_BIT) == 0)
        return;
      break;
    }
    save_delay(pause);
  }
  bus_write8(FLASH_SAVE_ADDR_1, FLASH_SAVE_CMD_RESET);
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
  toggle_wait(address, FLASH_SAVE_POLL_PAUSE_US, FLASH_SAVE_ERASE_TIMEOUT_US);
  bus_write8(FLASH_SAVE_RESET_ADDR, FLASH_SAVE_CMD_RESET);
}

/* Which bytes take a program cycle: all of them (the described write),
 * those that are not 0xFF after an erase, or those that differ from what
 * the cells read when no erase came first. Right after an erase some parts
 * answer status for a while, so the cells are not read then. */
enum { PROGRAM_ALL, PROGRAM_ERASED, PROGRAM_DIFFERING };

static void program_bytes(u32 address, const u8 *src, int which)
{
  for (u32 k = 0; k < FLASH_SAVE_SECTOR_SIZE; k++) {
    if (which == PROGRAM_ERASED && src[k] == FLASH_SAVE_ERASED)
      continue;
    if (which == PROGRAM_DIFFERING && bus_read8(address + k) == src[k])
      continue;
    save_flash_command(FLASH_SAVE_CMD_PROGRAM);
    bus_write8(address + k, src[k]);
    toggle_wait(address + k, 1, FLASH_SAVE_WRITE_TIMEOUT_US);
  }
}

/* Whether the bytes read back are src's. Some parts answer a constant
 * status, which the toggle wait takes for done, a little longer after the
 * last write: the last byte is polled until it reads back (bounded, so a
 * cell that never takes costs one write time-out). */
static int bytes_hold(u32 address, const u8 *src, u32 bytes)
{
  u32 pause = SAVE_DELAY_PASSES(FLASH_SAVE_POLL_PAUSE_US);
  for (u32 n = 0; bus_read8(address + bytes - 1) != src[bytes - 1]; n++) {
    if (n == FLASH_SAVE_WRITE_TIMEOUT_US / FLASH_SAVE_POLL_PAUSE_US)
      return 0;
    save_delay(pause);
  }
  for (u32 k = 0; k < bytes; k++)
    if (bus_read8(address + k) != src[k])
      return 0;
  return 1;
}

/* What a sector (or page) must go through to hold src: a byte program
 * only clears bits, so only cells that read erased may take new bytes
 * without an erase. Programming over a programmed byte is left out even
 * where it would only clear bits: not every part's sheet allows it. */
enum { SECTOR_HOLDS, SECTOR_PROGRAM, SECTOR_ERASE };

static int sector_state(u32 address, const u8 *src, u32 bytes)
{
  int state = SECTOR_HOLDS;
  for (u32 k = 0; k < bytes; k++) {
    u8 now = bus_read8(address + k);
    if (now == src[k])
      continue;
    if (now != FLASH_SAVE_ERASED)
      return SECTOR_ERASE;
    state = SECTOR_PROGRAM;
  }
  return state;
}

/* One program command loads a whole page; the ROM read after each byte
 * spaces the loads out as the chip expects. The chip starts writing only
 * once no byte has come for its load window, and until then takes every
 * write as a byte of the page, so the wait comes before the poll. */
static int program_pages(u32 address, const u8 *src, int changed_only)
{
  for (u32 page = 0; page < FLASH_SAVE_SECTOR_SIZE; page += FLASH_SAVE_PAGE_SIZE) {
    if (changed_only && sector_state(address + page, src + page, FLASH_SAVE_PAGE_SIZE) == SECTOR_HOLDS)
      continue;
    u32 tries = 0;
    do {
      if (tries++ == FLASH_SAVE_PAGE_TRIES)
        return 0;
      save_flash_command(FLASH_SAVE_CMD_PROGRAM);
      for (u32 k = page; k < page + FLASH_SAVE_PAGE_SIZE; k++) {
        bus_write8(address + k, src[k]);
        bus_pause8(ROM_BASE, FLASH_SAVE_PAGE_PAUSE_READS);
      }
      save_delay(SAVE_DELAY_PASSES(FLASH_SAVE_PAGE_LOAD_WAIT_US));
      toggle_wait(address + page + FLASH_SAVE_PAGE_SIZE - 1, FLASH_SAVE_POLL_PAUSE_US, FLASH_SAVE_WRITE_TIMEOUT_US);
    } while (!bytes_hold(address + page, src + page, FLASH_SAVE_PAGE_SIZE));
  }
  return 1;
}

int flash_save_write_sector(u32 sector, const u8 *src, int changed_only)
{
  sector &= FLASH_SAVE_SECTOR_MASK;
  u32 address = sector_address(sector);
  if (save_type == SAVE_TYPE_FLASH_64K && save_chip == FLASH_SAVE_ROW_PAGED)
    return program_pages(address, src, changed_only);
  select_sector_bank(sector);
  for (u32 tries = 0; tries < FLASH_SAVE_SECTOR_TRIES; tries++) {
    int state = changed_only ? sector_state(address, src, FLASH_SAVE_SECTOR_SIZE) : SECTOR_ERASE;
    if (state == SECTOR_HOLDS)
      return 1;
    if (state == SECTOR_ERASE)
      erase_sector(address);
    program_bytes(address, src, !changed_only ? PROGRAM_ALL : state == SECTOR_ERASE ? PROGRAM_ERASED : PROGRAM_DIFFERING);
    if (bytes_hold(address, src, FLASH_SAVE_SECTOR_SIZE))
      return 1;
  }
  return 0;
}

int flash_save_write(u32 offset, u32 bytes, int changed_only)
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
    if (!flash_save_write_sector(sector, src, changed_only))
      return 0;
    done += part;
  }
  return 1;
}
