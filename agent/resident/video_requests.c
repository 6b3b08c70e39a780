/* Encoded video frames: the payload lands in the data buffer, is applied
 * to the page not shown, and then the display switches, so a frame costs
 * one request and no turn-around for the display. */
#include "contract/hw/display.h"
#include "agent/resident/requests.h"
#include "agent/resident/state.h"
#include "agent/resident/video_decode.h"

void req_video_frame(u32 page, u32 bytes, u32 display)
{
  /* A payload longer than the buffer is taken whole, a buffer at a time,
   * so the link stays in step; only its last part is applied. */
  u32 words = words_for_bytes(bytes), part;
  do {
    part = words < VIDEO_FRAME_MAX_WORDS ? words : VIDEO_FRAME_MAX_WORDS;
    recv_words(part, data_buffer);
    words -= part;
  } while (words);
  u16 *target = (u16 *)(MEM_VRAM + (page & 1) * VIDEO_PAGE1_OFFSET);
  video_decode((const u16 *)data_buffer, 2 * part, target, (const u16 *)((u32)target ^ VIDEO_PAGE1_OFFSET));
  /* A word store, as the tool's register writes: the register above
   * gets the high half, 0. */
  *(volatile u32 *)REG_DISPCNT = display;
}
