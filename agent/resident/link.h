/* Link port primitives (link.S). Word moves use halfword accesses only, so
 * buffers need halfword alignment, not word alignment. */
#ifndef KARTEX_AGENT_LINK_H
#define KARTEX_AGENT_LINK_H

#include "agent/resident/types.h"

void link_init(void);
void recv_words(u32 count, void *dest);
void send_words(u32 count, const void *src);
/* recv_words that also adds the words, as bytes in memory order, to the
 * running CRC `crc`; returns it */
u32 recv_words_summed(u32 count, void *dest, u32 crc);

/* A word received ahead: link_arm starts the exchange of the next word
 * and returns; recv_armed_summed (count not 0) takes that word first, and
 * arms one more after the last when `arm_next` is nonzero. No other link
 * call may come while a word is armed. */
void link_arm(void);
u32 recv_armed_summed(u32 count, void *dest, u32 crc, u32 arm_next);

/* Byte counts travel as whole words, rounded up; written so that a count
 * near 4 GiB does not wrap to a handful of words. */
static inline u32 words_for_bytes(u32 bytes)
{
  return (bytes >> 2) + ((bytes & 3) != 0);
}

#endif
