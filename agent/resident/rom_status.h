/* The ROM's flash chips addressed by halfword index within the ROM page the
 * mapper shows, and the waits on their status. Every wait gives up after
 * FLASH_POLL_LIMIT passes, so that a chip that never reports ready does not
 * stop the agent for good; the caller goes on as if it had. */
#ifndef KARTEX_AGENT_ROM_STATUS_H
#define KARTEX_AGENT_ROM_STATUS_H

#include "link/protocol.h"
#include "agent/hw/mapper.h"
#include "agent/resident/bus.h"
#include "agent/resident/types.h"

/* A pass takes about a microsecond on the cartridge bus, so the limit is
 * some half a minute: well beyond the few seconds a block erase may take. */
#define FLASH_POLL_LIMIT (1u << 25)

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

/* Status-register chips: read-status command and read at h, until ready */
void sr_wait(u32 h);

/* The same on both chips of a pair, at h and h + 1, until both are ready */
void sr_wait_pair(u32 h);

/* A pair that shows its status without a command: reads at h and h + 1 */
void sr_poll_pair(u32 h);

/* JEDEC erase: two reads at h per pass, until bit 6 stops toggling or bit 5
 * of the second read rises */
void jedec_wait_erase(u32 h);

/* JEDEC program: reads at h until the halfword reads back as programmed,
 * or until bit 5 shows that the program failed; a failed chip is put back
 * into read mode */
void jedec_wait_data(u32 h, u16 value);

#endif
