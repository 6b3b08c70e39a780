/* Console memory requests. Block moves go through the link primitives,
 * which use 16-bit accesses, so I/O registers, palette and video RAM are
 * read and written like any other memory. */
#include "agent/resident/link.h"
#include "agent/resident/requests.h"
#include "agent/resident/state.h"

#define SEARCH_LENGTH_MASK 0xFFFF
#define SEARCH_STEP_SHIFT 16

void req_mem_read(u32 address, u32 bytes, u32 unused)
{
  (void)unused;
  send_words(words_for_bytes(bytes), (const void *)address);
}

void req_mem_write(u32 address, u32 bytes, u32 unused)
{
  (void)unused;
  recv_words(words_for_bytes(bytes), (void *)address);
}

static int matches_at(const volatile u8 *where, const u8 *pattern, u32 length)
{
  for (u32 i = 0; i < length; i++)
    if (where[i] != pattern[i])
      return 0;
  return 1;
}

/* a3 = step << 16 | pattern length. Position 0 is always tried; later ones
 * while the pattern still fits in the area. A step of 0, or an area shorter
 * than the pattern, tries position 0 only, so the agent never spins. */
void req_mem_search(u32 start, u32 area, u32 shape)
{
  u32 length = shape & SEARCH_LENGTH_MASK;
  u32 step = shape >> SEARCH_STEP_SHIFT;
  const u8 *pattern = data_buffer;
  recv_words(words_for_bytes(length), data_buffer);

  u32 last = area >= length ? area - length : 0;
  u32 found = 0;
  for (u32 pos = 0;; pos += step) {
    if (matches_at((const volatile u8 *)(start + pos), pattern, length)) {
      found = start + pos;
      break;
    }
    if (step == 0 || last - pos < step)
      break;
  }
  send_words(1, &found);
}
