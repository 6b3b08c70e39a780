/* Video RAM takes 8-bit stores as the byte written twice into its
 * halfword, so the unit here is a pair of pixels: every op moves whole
 * pairs, and a copy's source starts on a pair. One loop serves the three
 * ops that store, a source and a step apart, to keep the resident stage
 * small. */
#include "agent/resident/video_decode.h"
#include "contract/wire.h"

#define PAGE_PAIRS (VIDEO_PAGE_BYTES / 2)

u32 video_decode(const u16 *in, u32 count, u16 *page, const u16 *other)
{
  const u16 *end = in + count;
  u32 at = 0; /* the pair written next */
  u16 fill;

  while (in != end) {
    u32 op = *in++;
    u32 kind = op >> VIDEO_OP_SHIFT;
    u32 n = op & VIDEO_COUNT_MASK;
    if (n > PAGE_PAIRS - at)
      return VIDEO_DECODE_BAD;
    volatile u16 *dst = page + at;
    at += n;
    if (kind == VIDEO_OP_SKIP)
      continue;

    const volatile u16 *src = in;
    u32 step = 1;
    if (kind == VIDEO_OP_LITERAL) {
      if (n > (u32)(end - in))
        return VIDEO_DECODE_BAD;
      in += n;
    } else {
      if (in == end)
        return VIDEO_DECODE_BAD;
      u32 operand = *in++;
      if (kind == VIDEO_OP_FILL) {
        fill = (u16)operand;
        src = &fill;
        step = 0;
      } else {
        if ((operand & 1) || operand > VIDEO_PAGE_BYTES || 2 * n > VIDEO_PAGE_BYTES - operand)
          return VIDEO_DECODE_BAD;
        src = ((op & VIDEO_COPY_OTHER) ? other : page) + operand / 2;
      }
    }
    /* Each pair is read before it is stored: a copy within the page that
     * overlaps itself repeats what it has just written. */
    while (n--) {
      *dst++ = *src;
      src += step;
    }
  }
  return VIDEO_DECODE_DONE;
}
