/* The clock of the agent's bounded waits: timer 2 counts 1024-cycle ticks
 * and timer 3 its overflows, 32 bits of ticks (61 us each) from the last
 * wait_clock_start. A wait reads it on every pass, so that its bound is a
 * time, whatever a pass costs on the bus. */
#ifndef KARTEX_AGENT_WAIT_CLOCK_H
#define KARTEX_AGENT_WAIT_CLOCK_H

#include "contract/hw/timer.h"
#include "agent/resident/types.h"

/* Restarts the clock from 0 */
void wait_clock_start(void);

/* Ticks since wait_clock_start */
u32 wait_clock_ticks(void);

#endif
