/* A video frame's changes applied to a mode-4 page. Plain C with no
 * console headers, so that the host builds the same file to fuzz it. */
#ifndef KARTEX_AGENT_VIDEO_DECODE_H
#define KARTEX_AGENT_VIDEO_DECODE_H

#include "agent/resident/types.h"

#define VIDEO_DECODE_DONE 0 /* every op applied */
#define VIDEO_DECODE_BAD 1  /* stopped at an op that reached past the page or the input */

/* Applies `count` halfwords of ops (contract/wire.h, VIDEO_OP_*) to `page`,
 * in order; a copy reads `page` as it stands at that moment or `other`.
 * Nothing outside the two pages is read and nothing outside `page` is
 * written, whatever the input: a bad op ends the frame where it stands. */
u32 video_decode(const u16 *in, u32 count, u16 *page, const u16 *other);

#endif
