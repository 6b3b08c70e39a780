/* The unlock bypass of the JEDEC chips of kinds 5 and 6: while in it, a
 * program is two bus writes where the full sequence takes four */
#ifndef KARTEX_AGENT_JEDEC_BYPASS_H
#define KARTEX_AGENT_JEDEC_BYPASS_H

#include "agent/resident/types.h"

/* The unlock and 0x20: the chip takes two-write programs from now on */
void jedec_bypass_enter(void);
/* 0x90 and 0x00, at any address: the chip reads its array and takes
 * whole sequences again. A chip not in the bypass takes no command from
 * writes without the unlock, so this is safe to give at any time. */
void jedec_bypass_leave(void);
/* The halfword at h did not go in after a two-write program in the bypass
 * and the chip reads its array: either the sector is protected, or the
 * chip does not know the bypass (parts of the same ID that take 0x20 as a
 * broken sequence). The bypass is left and the halfword programmed with
 * the whole sequence: if it goes in, the chip keeps to that
 * (jedec_four_writes). Returns 0 when the halfword is in, 1 on a failure,
 * which is recorded. */
int jedec_unlocked_retry(u32 h, u16 value);

#endif
