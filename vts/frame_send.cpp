#include "vts/frame_send.h"

#include "vts/console_memory.h"
#include "vts/frame_encode.h"
#include "vts/gba_video.h"

namespace kartex {

std::int64_t FrameSender::send(CableLink& link, int page, const ConsoleFrame& frame, bool whole) {
  const std::uint16_t show = page ? SHOW_PAGE1 : SHOW_PAGE0;
  std::int64_t words = WHOLE_FRAME_WORDS;
  if (plain_ || whole) {
    gba_write_block(link, page ? MEM_VRAM_PAGE1 : MEM_VRAM_PAGE0, frame);
    gba_write_reg(link, REG_DISPCNT, show);
  } else {
    const std::vector<std::uint16_t> ops = encode_frame(frame, held_[page], held_[1 - page]);
    const auto changes = REQUEST_WORDS + static_cast<std::int64_t>(ops.size() / 2);
    if (changes < WHOLE_FRAME_WORDS) {
      gba_video_frame(link, page, ops, show);
      words = changes;
    } else {
      gba_write_block(link, page ? MEM_VRAM_PAGE1 : MEM_VRAM_PAGE0, frame);
      gba_write_reg(link, REG_DISPCNT, show);
    }
  }
  held_[page] = frame;
  return words;
}

}  // namespace kartex
