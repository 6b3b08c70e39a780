/* Flash ROM write requests: the data range streams in over the link while
 * the chips program it, one chunk at a time, each received again at the
 * start of the data buffer. A write request also erases each erase block
 * whose start the range reaches; a program request erases nothing. */
#include "agent/resident/flash_modes.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"
#include "agent/resident/rom_erase.h"
#include "agent/resident/rom_program.h"
#include "agent/resident/state.h"

/* Chunks end at 16 KiB boundaries of the ROM, so that a chunk lies in one
 * page, one chip or pair, and starts at every erase block start it reaches
 * (erase blocks are multiples of 16 KiB). */
#define CHUNK_HALFWORDS 0x2000

/* Words received before a chunk's programming starts: the largest step,
 * 256 halfwords of kind 9, has its data in place */
#define STREAM_LEAD_WORDS 128

/* The chunk streaming in: where its next word goes and how many of its
 * words are still to come */
static struct {
  u8 *at;
  u32 left;
} stream;

/* Takes up to `words` words of the chunk; the position moves on before
 * they arrive, and nothing moves once the chunk is in. */
static void stream_pull(u32 words)
{
  u8 *at = stream.at;
  if (words > stream.left)
    words = stream.left;
  stream.left -= words;
  stream.at = at + (words << 2);
  recv_words(words, at);
}

static int starts_erase_block(u32 offset)
{
  return erase_block == 0 || (offset & (erase_block - 1)) == 0;
}

/* The range is programmed from the halfword at offset / 2: an odd offset
 * starts with the byte before it. */
static void flash_stream(u32 offset, u32 bytes, int erase)
{
  u16 *buffer = (u16 *)data_buffer;
  u32 h = offset >> 1;
  u32 left = (bytes >> 1) + (bytes & 1); /* halfwords */
  u32 held = 0; /* halfwords of this chunk already in the buffer */

  while (left != 0) {
    u32 count = CHUNK_HALFWORDS - (h & (CHUNK_HALFWORDS - 1));
    if (count > left)
      count = left;
    if (erase && starts_erase_block(h << 1))
      erase_at(h << 1);

    stream.at = (u8 *)(buffer + held);
    stream.left = (count - held + 1) >> 1;
    stream_pull(STREAM_LEAD_WORDS);
    program_flash(h, buffer, count, stream_pull);
    stream_pull(stream.left); /* what the kind did not take: the link stays in step */
    read_array_reset(h);

    /* A chunk that ends inside a stream word got the next chunk's first
     * halfword with it */
    held = (count - held) & 1;
    if (held)
      buffer[0] = buffer[count];
    h += count;
    left -= count;
  }
}

void req_flash_write(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  flash_stream(offset, bytes, 1);
}

void req_flash_program(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  flash_stream(offset, bytes, 0);
}
