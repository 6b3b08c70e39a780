/* The save area in the ROM's flash, 1 MiB of 8 KiB sectors, written
 * through the wait state 2 mirror at ROM_SAVE_BASE with 16-bit
 * status-register commands. Sectors 0-119 erase in 64 KiB blocks of eight,
 * sectors 120-127 one by one.
 *
 * An erase unit that a write covers only in part is handled so that no
 * byte outside the range changes: when the range's part of it is already
 * erased, that part is just programmed; otherwise the unit is read, the
 * new bytes put in, and the whole unit erased and programmed again. */
#include "contract/wire.h"
#include "contract/hw/rom_flash.h"
#include "contract/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/rom_save_write.h"
#include "agent/resident/save_units.h"
#include "agent/resident/rom_status.h"
#include "agent/resident/state.h"
#include "agent/resident/wait_clock.h"
#include "agent/resident/write_check.h"

/* Bounded in time by the longest erase, so that a flash that never reports
 * ready does not stop the agent; the write is not reported either way. */
static u32 status_wait(void)
{
  wait_clock_start();
  u32 status;
  do {
    status = bus_read16(ROM_SAVE_STATUS);
    if (status & SR_STATUS_READY)
      break;
  } while (wait_clock_ticks() < FLASH_SR_ERASE_BOUND);
  return status;
}

/* Two command halfwords to one address, then back to read mode with a
 * clean status once the flash is ready */
static void command_step(u32 address, u16 first, u16 second)
{
  bus_write16(address, first);
  bus_write16(address, second);
  status_wait();
  bus_write16(ROM_SAVE_STATUS, ROM_SAVE_CMD_CLEAR_STATUS);
  bus_write16(ROM_SAVE_STATUS, SR_CMD_READ_ARRAY);
}

/* The area's blocks are locked at power-up: the unit to be written is
 * unlocked first (a 64 KiB block, or a single sector) */
static void unlock_unit(u32 start)
{
  command_step(ROM_SAVE_BASE + start, SR_CMD_LOCK_SETUP, SR_CMD_CONFIRM);
}

/* Starts the erase of a unit; the chip is busy for its time afterwards */
static void erase_start(u32 start)
{
  u32 base = ROM_SAVE_BASE + start;
  if (start == ROM_SAVE_SECTOR_7E)
    command_step(base, SR_CMD_LOCK_SETUP, ROM_SAVE_CMD_7E_CONFIRM);
  bus_write16(base, SR_CMD_ERASE_SETUP);
  bus_write16(base, SR_CMD_CONFIRM);
}

/* Waits for the erase started, then read mode with a clean status */
static void erase_end(void)
{
  status_wait();
  bus_write16(ROM_SAVE_STATUS, ROM_SAVE_CMD_CLEAR_STATUS);
  bus_write16(ROM_SAVE_STATUS, SR_CMD_READ_ARRAY);
}

/* Erases take seconds: no need to repeat this code inline */
__attribute__((noinline)) static void erase_unit(u32 start)
{
  erase_start(start);
  erase_end();
}

/* start and bytes even; src is read byte by byte, so it may be odd. Only
 * called on erased flash, where an all-ones halfword needs no programming.
 * The word programs follow each other in the chip's status mode, as it
 * takes the next command there: the status is cleared only after an error
 * (some parts refuse every program until then), read mode comes at the
 * end. One clock times the whole run, at the chips' longest program for
 * each halfword: restarting the timers for every halfword would cost a
 * tenth of the program time. A chip that never reports ready ends the run. */
static void program(u32 start, const u8 *src, u32 bytes)
{
  u32 bound = 0;
  wait_clock_start();
  for (u32 k = 0; k < bytes; k += 2) {
    u16 half = (u16)(src[k] | src[k + 1] << 8);
    if (half == FLASH_ERASED)
      continue;
    u32 address = ROM_SAVE_BASE + start + k;
    bus_write16(address, SR_CMD_PROGRAM);
    bus_write16(address, half);
    bound += FLASH_PROGRAM_BOUND;
    u32 status;
    while (!((status = bus_read16(ROM_SAVE_STATUS)) & SR_STATUS_READY))
      if (wait_clock_ticks() >= bound)
        goto out;
    if (status & SR_STATUS_ERRORS)
      bus_write16(ROM_SAVE_STATUS, ROM_SAVE_CMD_CLEAR_STATUS);
  }
out:
  bus_write16(ROM_SAVE_STATUS, ROM_SAVE_CMD_CLEAR_STATUS);
  bus_write16(ROM_SAVE_STATUS, SR_CMD_READ_ARRAY);
}

/* A save written again unchanged needs no erase at all */
static int holds(u32 start, const u8 *src, u32 bytes)
{
  for (u32 k = 0; k < bytes; k += 2)
    if (bus_read16(ROM_SAVE_BASE + start + k) != (u16)(src[k] | src[k + 1] << 8))
      return 0;
  return 1;
}

static int is_erased(u32 start, u32 bytes)
{
  for (u32 k = 0; k < bytes; k += 2)
    if (bus_read16(ROM_SAVE_BASE + start + k) != FLASH_ERASED)
      return 0;
  return 1;
}

/* dest word-aligned (the staging area), bytes a multiple of 4: each pair
 * of halfwords goes to work RAM as one word store */
static void read_unit(u32 start, u8 *dest, u32 bytes)
{
  u32 *out = (u32 *)dest;
  for (u32 k = 0; k < bytes; k += 4)
    *out++ = bus_read16x2(ROM_SAVE_BASE + start + k);
}

static u32 unit_of(u32 pos)
{
  return pos < ROM_SAVE_SINGLE_SECTORS ? ROM_SAVE_BLOCK_SIZE : ROM_SAVE_SECTOR_SIZE;
}

void rom_save_write(u32 offset, u32 bytes)
{
  u8 *staging = staging_area(bytes);
  /* The save type probe may have left the flash in a command mode; the
   * erased check and the copies read the array. */
  bus_write16(ROM_SAVE_STATUS, SR_CMD_READ_ARRAY);

  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    if (pos >= ROM_SAVE_SIZE)
      break;
    u32 unit = unit_of(pos);
    u32 part = unit_part(pos, bytes - done, unit);
    u32 start = pos & ~(unit - 1);
    const u8 *src = data_buffer + done;

    int there = ((pos | part) & 1) == 0 && holds(pos, src, part);
    if (!there)
      unlock_unit(start);
    if (there) {
      /* already there */
    } else if (((pos | part) & 1) == 0 && is_erased(pos, part)) {
      /* erased cells take the new bytes without an erase, a whole unit too */
      program(pos, src, part);
    } else if (part == unit) {
      erase_unit(start);
      program(start, src, unit);
    } else {
      read_unit(start, staging, unit);
      copy_bytes(staging + (pos - start), src, part);
      erase_unit(start);
      program(start, staging, unit);
    }
    done += part;
  }

  /* The save area is read through the ROM window: every chip there back
   * to read mode, the save area's included */
  read_array_reset((FLASH8M_BASE - ROM_BASE + offset) >> 1);
}

/* The unit's erase overlaps the block's link time: the unit is copied to
 * the staging area, its erase started, the block received and checked
 * while the chip erases, then the unit programmed from the new bytes and
 * the copy around them, or from the copy alone when the check failed. The
 * chip is not read until the block is in (a read of a busy chip is a
 * status poll), and never takes bytes that failed their check. A range the
 * unit holds erased takes no erase and is programmed only once checked. */
static int write_unit_overlapped(u32 offset, u32 bytes, u32 check)
{
  u32 unit = unit_of(offset);
  u32 start = offset & ~(unit - 1);
  u32 end = offset + bytes - start;
  u8 *old = staging_area(bytes);
  bus_write16(ROM_SAVE_STATUS, SR_CMD_READ_ARRAY);
  int erased = is_erased(offset, bytes);
  if (!erased) {
    read_unit(start, old, unit);
    unlock_unit(start);
    erase_start(start);
  }
  int ok = recv_checked(offset, bytes) == check;
  if (!erased)
    erase_end();
  if (ok) {
    if (erased)
      unlock_unit(start);
    if (!erased)
      program(start, old, offset - start);
    program(offset, data_buffer, bytes);
    if (!erased)
      program(offset + bytes, old + end, unit - end);
  } else if (!erased) {
    program(start, old, unit);
  }
  read_array_reset((FLASH8M_BASE - ROM_BASE + offset) >> 1);
  return ok;
}

int rom_save_write_checked(u32 offset, u32 bytes, u32 check)
{
  u32 unit = unit_of(offset);
  int one_unit = offset < ROM_SAVE_SIZE && bytes != 0 && bytes <= unit - (offset & (unit - 1));
  if (one_unit && ((offset | bytes) & 1) == 0)
    return write_unit_overlapped(offset, bytes, check);
  /* Several units or an odd range: the whole block first, as before */
  if (recv_checked(offset, bytes) != check)
    return 0;
  rom_save_write(offset, bytes);
  return 1;
}
