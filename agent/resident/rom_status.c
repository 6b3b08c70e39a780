/* Bounded waits on the ROM's flash chips and the failure record
 * (rom_status.h) */
#include "contract/hw/rom_flash.h"
#include "agent/resident/cold.h"
#include "agent/resident/requests.h"
#include "agent/resident/rom_status.h"
#include "agent/resident/state.h"
#include "agent/resident/wait_clock.h"

#define ROM_PAGE_BYTES 0x8000 /* what one step of the mapper's page moves */

u32 flash_stalled;
erase_pass flash_erase_pass;
static u32 fail_count;
static u32 fail_offset; /* ROM offset of the first failure */
static u32 fail_cause;

COLD void flash_fail(u32 h, u32 cause)
{
  if (fail_count++ == 0) {
    fail_offset = (rom_page == ROM_PAGE_UNKNOWN ? 0 : rom_page * ROM_PAGE_BYTES) + 2 * h;
    fail_cause = cause;
  }
  if (cause & FLASH_FAIL_TIMEOUT)
    flash_stalled = 1;
}

COLD void flash_failures_take(u32 reply[3])
{
  reply[0] = fail_count;
  reply[1] = fail_offset;
  reply[2] = fail_cause;
  fail_count = 0;
  fail_offset = 0;
  fail_cause = 0;
  flash_stalled = 0;
}

COLD void req_flash_failures(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;
  u32 reply[3];
  flash_failures_take(reply);
  send_words(3, reply);
}

/* A ready status: its error bits are the operation's outcome. They stay
 * until cleared, so the chip's next operation starts clean. */
static int sr_check(u32 h, u16 status, u32 op)
{
  if ((status & SR_STATUS_ERRORS) == 0)
    return 0;
  flash_fail(h, op | (status & FLASH_FAIL_STATUS_MASK));
  chip_write(h, SR_CMD_CLEAR_STATUS);
  return 1;
}

static u32 sr_bound(u32 op)
{
  return op == FLASH_FAIL_ERASE ? FLASH_SR_ERASE_BOUND : FLASH_PROGRAM_BOUND;
}

int sr_wait(u32 h, u32 op)
{
  u32 bound = sr_bound(op);
  wait_clock_start();
  do {
    erase_pass_run(op);
    chip_write(h, SR_CMD_READ_STATUS);
    u16 status = chip_read(h);
    if (status & SR_STATUS_READY)
      return sr_check(h, status, op);
  } while (wait_clock_ticks() < bound);
  flash_fail(h, op | FLASH_FAIL_TIMEOUT);
  return 1;
}

/* A chip that shows its status without a command (after a program): the
 * clock starts while it is still busy, and a pass is one read and the
 * clock */
int sr_poll(u32 h, u32 op)
{
  u32 bound = sr_bound(op);
  wait_clock_start();
  u16 status;
  while (((status = chip_read(h)) & SR_STATUS_READY) == 0)
    if (wait_clock_ticks() >= bound) {
      flash_fail(h, op | FLASH_FAIL_TIMEOUT);
      return 1;
    }
  return sr_check(h, status, op);
}

/* Both chips of the pair at h report ready in the status they show; then
 * each one's error bits */
static int pair_done(u32 h, u32 op, int *failed)
{
  u16 first = chip_read(h);
  u16 second = chip_read(h + 1);
  if ((first & second & SR_STATUS_READY) == 0)
    return 0;
  *failed = sr_check(h, first, op) | sr_check(h + 1, second, op);
  return 1;
}

int sr_wait_pair(u32 h, u32 op)
{
  int failed = 0;
  u32 bound = sr_bound(op);
  wait_clock_start();
  do {
    erase_pass_run(op);
    chip_write(h, SR_CMD_READ_STATUS);
    chip_write(h + 1, SR_CMD_READ_STATUS);
    if (pair_done(h, op, &failed))
      return failed;
  } while (wait_clock_ticks() < bound);
  flash_fail(h, op | FLASH_FAIL_TIMEOUT);
  return 1;
}

/* The pass that sees both chips ready and the commands of the next step
 * stand between the chips' work: a pass is two reads and the clock, and
 * the error bits are looked at only once both chips are ready. The clock
 * starts before the first read, while the chips are still busy. */
int sr_poll_pair(u32 h, u32 op)
{
  u32 bound = sr_bound(op);
  wait_clock_start();
  u16 first, second;
  for (;;) {
    first = chip_read(h);
    second = chip_read(h + 1);
    if (first & second & SR_STATUS_READY)
      break;
    if (wait_clock_ticks() >= bound) {
      flash_fail(h, op | FLASH_FAIL_TIMEOUT);
      return 1;
    }
  }
  if (((first | second) & SR_STATUS_ERRORS) == 0)
    return 0;
  return sr_check(h, first, op) | sr_check(h + 1, second, op);
}

int jedec_wait_erase(u32 h)
{
  return jedec_wait_erase_for(h, FLASH_JEDEC_ERASE_BOUND);
}

int jedec_wait_erase_for(u32 h, u32 bound)
{
  wait_clock_start();
  do {
    erase_pass_run(FLASH_FAIL_ERASE);
    u16 first = chip_read(h);
    u16 second = chip_read(h);
    if (((first ^ second) & JEDEC_STATUS_TOGGLE) == 0)
      return 0;
    if (second & JEDEC_STATUS_TIMED_OUT) {
      /* The erase may have ended just before; if bit 6 still toggles, it
       * failed and the chip shows status until reset. */
      if (((chip_read(h) ^ chip_read(h)) & JEDEC_STATUS_TOGGLE) == 0)
        return 0;
      flash_fail(h, FLASH_FAIL_ERASE | (second & FLASH_FAIL_STATUS_MASK));
      chip_write(h, JEDEC_CMD_READ_ARRAY);
      return 1;
    }
  } while (wait_clock_ticks() < bound);
  flash_fail(h, FLASH_FAIL_ERASE | FLASH_FAIL_TIMEOUT);
  return 1;
}

int jedec_wait_data(u32 h, u16 value)
{
  return jedec_wait_data_for(h, value, FLASH_PROGRAM_BOUND, h);
}

int jedec_wait_data_for(u32 h, u16 value, u32 bound, u32 report)
{
  int outcome = jedec_poll_data(h, value, bound, report);
  if (outcome != JEDEC_STOPPED)
    return outcome;
  /* Bit 6 stopped: the chip reads its array again, without the halfword.
   * A protected sector ignores the program so. */
  flash_fail(report, FLASH_FAIL_PROGRAM | FLASH_FAIL_PROTECTED);
  return 1;
}

int jedec_poll_data(u32 h, u16 value, u32 bound, u32 report)
{
  wait_clock_start();
  do {
    u16 read = chip_read(h);
    if (read == value)
      return 0;
    u16 again = chip_read(h);
    if (again == value)
      return 0;
    if (((read ^ again) & JEDEC_STATUS_TOGGLE) == 0)
      return JEDEC_STOPPED;
    if (again & JEDEC_STATUS_TIMED_OUT) {
      /* The program may have ended just before; if not, it failed (a bit
       * cannot go from 0 to 1, or the cells are worn) and the chip shows
       * status until reset. */
      if (chip_read(h) == value)
        return 0;
      flash_fail(report, FLASH_FAIL_PROGRAM | (again & FLASH_FAIL_STATUS_MASK));
      chip_write(h, JEDEC_CMD_READ_ARRAY);
      return 1;
    }
  } while (wait_clock_ticks() < bound);
  flash_fail(report, FLASH_FAIL_PROGRAM | FLASH_FAIL_TIMEOUT);
  return 1;
}
