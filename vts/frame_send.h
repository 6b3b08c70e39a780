#pragma once
// A converted frame onto the console page not shown, then the display
// switched to it: whole, as console memory writes, or as changes to what
// the page holds, whichever moves fewer link words.

#include <array>
#include <cstdint>

#include "link/cable_link.h"
#include "vts/frame_convert.h"

namespace kartex {

// Link words of one request record, and of a frame sent whole with its
// display switch.
constexpr std::int64_t REQUEST_WORDS = CMD_REQUEST_WORDS;
constexpr std::int64_t WHOLE_FRAME_WORDS = REQUEST_WORDS + CONSOLE_PAGE_BYTES / 4 + REQUEST_WORDS + 1;

class FrameSender {
 public:
  // `plain`: every frame whole. Both pages hold black when the stream starts.
  explicit FrameSender(bool plain) : plain_(plain) {}

  // Writes `frame` to page `page` (0 or 1) and shows it. `whole` sends it
  // whole whatever the changes would cost (after a seek). Returns the link
  // words it took, request records included.
  std::int64_t send(CableLink& link, int page, const ConsoleFrame& frame, bool whole);

 private:
  bool plain_;
  std::array<ConsoleFrame, 2> held_{};  // what each page holds
};

}  // namespace kartex
