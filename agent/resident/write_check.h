/* The check word of a block write of ours (contract/wire.h): the CRC-32 of
 * the block's bytes in the data buffer, then of the offset and byte count
 * words as the request carried them. */
#ifndef KARTEX_AGENT_WRITE_CHECK_H
#define KARTEX_AGENT_WRITE_CHECK_H

#include "agent/resident/types.h"

u32 write_check(u32 offset, u32 bytes);

/* The check word from a running CRC of the bytes (crc32.h: CRC32_START
 * for none) and the two argument words */
u32 check_word(u32 crc, u32 offset, u32 bytes);

/* Receives the block of a plain byte count into the data buffer and
 * returns the check word of what arrived */
u32 recv_checked(u32 offset, u32 bytes);

#endif
