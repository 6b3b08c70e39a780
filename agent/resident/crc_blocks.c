#include "agent/resident/crc32.h"
#include "agent/resident/crc_blocks.h"
#include "agent/resident/link.h"

static u32 smaller(u32 a, u32 b)
{
  return a < b ? a : b;
}

static void next_block(struct crc_blocks *c)
{
  c->crc = CRC32_START;
  c->left = smaller(c->block, c->rest);
  c->rest -= c->left;
}

void crc_blocks_start(struct crc_blocks *c, u32 bytes, u32 block)
{
  c->block = block;
  c->rest = bytes;
  next_block(c);
}

void crc_blocks_feed(struct crc_blocks *c, crc_source sum, u32 address, u32 bytes)
{
  while (bytes != 0 && c->left != 0) {
    u32 n = smaller(bytes, c->left);
    c->crc = sum(c->crc, address, n);
    address += n;
    bytes -= n;
    c->left -= n;
    if (c->left == 0) {
      u32 word = ~c->crc;
      send_words(1, &word);
      next_block(c);
    }
  }
}

void crc_blocks_send_zeros(u32 bytes, u32 block)
{
  u32 zero = 0;
  while (bytes != 0) {
    send_words(1, &zero);
    bytes -= smaller(bytes, block);
  }
}
