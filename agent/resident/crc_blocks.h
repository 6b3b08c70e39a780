/* The replies of the CRC-32 requests: a range cut into blocks of a given
 * size (the last may be shorter), one word per block, each sent as soon
 * as its block is summed, so the host may read them in pieces. */
#ifndef KARTEX_AGENT_CRC_BLOCKS_H
#define KARTEX_AGENT_CRC_BLOCKS_H

#include "agent/resident/types.h"

struct crc_blocks {
  u32 crc;   /* running CRC of the current block */
  u32 left;  /* bytes of the current block still to come; 0: range done */
  u32 block; /* block size, not 0 */
  u32 rest;  /* bytes of the range after the current block */
};

/* Adds `bytes` bytes from `address` to a running CRC (crc32.h) */
typedef u32 (*crc_source)(u32 crc, u32 address, u32 bytes);

void crc_blocks_start(struct crc_blocks *c, u32 bytes, u32 block);

/* The next `bytes` bytes of the range, from `address`; bytes beyond the
 * range are not read. */
void crc_blocks_feed(struct crc_blocks *c, crc_source sum, u32 address, u32 bytes);

/* What a range of `bytes` has no memory to sum: one word of 0 per block */
void crc_blocks_send_zeros(u32 bytes, u32 block);

#endif
