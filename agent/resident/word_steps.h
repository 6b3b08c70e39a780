/* The word-program step loops of the JEDEC chips and of the
 * status-register pair (word_steps.S) */
#ifndef KARTEX_AGENT_WORD_STEPS_H
#define KARTEX_AGENT_WORD_STEPS_H

#include "agent/resident/rom_program.h"
#include "agent/resident/types.h"

/* JEDEC word program of n (not 0) halfwords from s to the ROM at
 * `address`, pulling one link word during the program of each halfword at
 * an odd ROM halfword. Returns the halfwords that read back as written,
 * from the first, fewer than n: the next one's program was started (the
 * last one, or one slower than two reads) and its wait is the caller's. */
u32 jedec_steps(u32 address, const u16 *s, u32 n, data_pull pull);
/* The same for a chip in its unlock bypass: each step is the program
 * command and the data, without the unlock writes */
u32 bypass_steps(u32 address, const u16 *s, u32 n, data_pull pull);

/* Word program of n (not 0) pairs (a halfword to each chip of the pair)
 * from s, word aligned, to the ROM at `address`, word aligned, pulling one
 * link word during each. Returns the pairs whose statuses showed ready
 * without error bits, from the first, fewer than n: the next pair's
 * program was started (the last one, or one not done at two reads) and
 * its wait is the caller's. The chips show their status without a command
 * throughout. */
u32 pair_steps(u32 address, const u32 *s, u32 n, data_pull pull);

#endif
