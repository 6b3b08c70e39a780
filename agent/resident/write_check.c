#include "contract/wire.h"
#include "agent/resident/crc32.h"
#include "agent/resident/link.h"
#include "agent/resident/state.h"
#include "agent/resident/write_check.h"

u32 check_word(u32 crc, u32 offset, u32 bytes)
{
  u32 args[2] = {offset, bytes}; /* little-endian in memory, as on the wire */
  return ~crc32_bytes(crc, (u32)args, sizeof args);
}

/* bytes: the request's byte count word; a flag bit in it is no data */
u32 write_check(u32 offset, u32 bytes)
{
  return check_word(crc32_bytes(CRC32_START, (u32)data_buffer, bytes & ~UPDATE_REWRITE), offset, bytes);
}

/* Whole words are summed as they arrive; the bytes of a ragged last word
 * after it */
u32 recv_checked(u32 offset, u32 bytes)
{
  u32 crc = recv_words_summed(bytes >> 2, data_buffer, CRC32_START);
  if (bytes & 3) {
    u8 *last = data_buffer + (bytes & ~3u);
    recv_words(1, last);
    crc = crc32_bytes(crc, (u32)last, bytes & 3);
  }
  return check_word(crc, offset, bytes);
}
