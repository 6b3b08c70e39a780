/* Waits of a known length for the save chips: their data sheets give times
 * in microseconds, and on the console the only clock the agent needs for
 * them is the CPU's own. */
#ifndef KARTEX_AGENT_SAVE_DELAY_H
#define KARTEX_AGENT_SAVE_DELAY_H

#include "agent/resident/types.h"

/* Spends passes * SAVE_DELAY_PASS_CYCLES CPU cycles; nothing for 0 */
void save_delay(u32 passes);

#endif
