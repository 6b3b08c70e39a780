/* The ROM's flash chips addressed by halfword index within the ROM page the
 * mapper shows, the waits on their status, and the record of what failed.
 *
 * Every wait is bounded in time (wait_clock.h), from the slowest part the
 * wait can meet at its data sheet's maximum, so that a slow but good chip
 * is waited for and a chip that never reports ready does not stop the
 * agent for good. A wait that ends on error
 * bits or runs out records a failure for the tool to ask for
 * (REQ_FLASH_FAILURES) and clears the chip's status. After a time-out the
 * chip may still be busy: no further erase or program is started until the
 * tool has asked. */
#ifndef KARTEX_AGENT_ROM_STATUS_H
#define KARTEX_AGENT_ROM_STATUS_H

#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "contract/hw/rom_flash.h"
#include "contract/hw/timer.h"
#include "agent/resident/bus.h"
#include "agent/resident/types.h"

/* The bounds in timer ticks: the chips' maxima (rom_flash.h) and a fifth
 * more for the parts of the data sheets' own spread */
#define FLASH_WAIT_BOUND(us) TIMER_TICKS_US((us) + (us) / 5)
#define FLASH_SR_ERASE_BOUND FLASH_WAIT_BOUND(FLASH_SR_ERASE_MAX_US)
#define FLASH_JEDEC_ERASE_BOUND FLASH_WAIT_BOUND(FLASH_JEDEC_ERASE_MAX_US)
#define FLASH_PROGRAM_BOUND FLASH_WAIT_BOUND(FLASH_PROGRAM_MAX_US)

/* Halfword indexes within the 32 MiB window, and the page that shows a
 * ROM-wide halfword index there */
#define WINDOW_HALFWORD_MASK (ROM_WINDOW_MASK >> 1)
#define ROM_PAGE_OF_HALFWORD(h) ((u16)(((h) >> (ROM_WINDOW_SHIFT - 1)) * ROM_PAGES_PER_WINDOW))

static inline void chip_write(u32 h, u16 value)
{
  bus_write16(ROM_BASE + 2 * h, value);
}

static inline u16 chip_read(u32 h)
{
  return bus_read16(ROM_BASE + 2 * h);
}

/* A wait timed out: the chips may still work, no command may reach them */
extern u32 flash_stalled;

/* Called once before each status read of an erase wait while set: the
 * link's words come in during the erase, and the chip is read about once
 * for each call rather than in a tight loop (a read of a busy chip costs
 * the simulator's clock half the time the chip has left). */
typedef void (*erase_pass)(void);
extern erase_pass flash_erase_pass;

static inline void erase_pass_run(u32 op)
{
  if (op == FLASH_FAIL_ERASE && flash_erase_pass)
    flash_erase_pass();
}

/* Records a failure of the chip at window halfword h; cause is
 * FLASH_FAIL_ERASE or FLASH_FAIL_PROGRAM, with FLASH_FAIL_TIMEOUT or the
 * status the chip showed */
void flash_fail(u32 h, u32 cause);

/* The three reply words of REQ_FLASH_FAILURES; the record starts anew */
void flash_failures_take(u32 reply[3]);

/* Status-register chips: read-status command and read at h, until ready;
 * then its error bits. op: FLASH_FAIL_ERASE or FLASH_FAIL_PROGRAM. Nonzero
 * when the operation failed. */
int sr_wait(u32 h, u32 op);

/* The same on both chips of a pair, at h and h + 1, until both are ready */
int sr_wait_pair(u32 h, u32 op);

/* A chip that shows its status without a command (after a program):
 * reads at h until ready; then its error bits */
int sr_poll(u32 h, u32 op);

/* A pair that shows its status without a command: reads at h and h + 1 */
int sr_poll_pair(u32 h, u32 op);

/* JEDEC erase: two reads at h per pass, until bit 6 stops toggling; bit 5
 * with bit 6 still toggling is a failed erase, and the chip is reset */
int jedec_wait_erase(u32 h);
/* The same within `bound` timer ticks, a chip's own maximum */
int jedec_wait_erase_for(u32 h, u32 bound);

/* JEDEC program: reads at h until the halfword reads back as programmed,
 * or until bit 5 shows that the program failed (a failed chip is put back
 * into read mode), or until bit 6 stops toggling without the halfword: a
 * protected sector */
int jedec_wait_data(u32 h, u16 value);
/* Within `bound` ticks; a failure is recorded at `report` (a write
 * buffer's start, where the poll is at its last word) */
int jedec_wait_data_for(u32 h, u16 value, u32 bound, u32 report);
/* The same, but bit 6 stopping without the halfword is JEDEC_STOPPED and
 * not recorded: the caller tells a protected sector from a chip that did
 * not take its command */
#define JEDEC_STOPPED 2
int jedec_poll_data(u32 h, u16 value, u32 bound, u32 report);

#endif
