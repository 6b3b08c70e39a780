#include "contract/wire.h"
#include "agent/resident/crc32.h"
#include "agent/resident/state.h"
#include "agent/resident/write_check.h"

/* bytes: the request's byte count word; a flag bit in it is no data */
u32 write_check(u32 offset, u32 bytes)
{
  u32 args[2] = {offset, bytes}; /* little-endian in memory, as on the wire */
  u32 crc = crc32_bytes(CRC32_START, (u32)data_buffer, bytes & ~UPDATE_REWRITE);
  return ~crc32_bytes(crc, (u32)args, sizeof args);
}
