#pragma once
// The progress bar that Output draws on standard error while a transfer
// runs. The bar stands alone on its line, redrawn from the first column,
// so that neither a wrapping line of marks nor a pipe's delayed echo can
// move it about. When standard output is the same terminal, the marks are
// counted in the bar instead of printed beside it; when the transfer ends,
// the bar gives way to one line with the bytes, the time and the speed.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kartex {

using ProgressClock = std::chrono::steady_clock;

// Widest bar: fits an 80-column terminal without the last-column wrap.
constexpr std::size_t PROGRESS_WIDTH = 79;
// Shortest time between two draws; a terminal over a slow link must not
// cost the transfer time.
constexpr std::chrono::milliseconds PROGRESS_INTERVAL{100};

// What the bar of one Output remembers between draws.
struct ProgressState {
  std::uint64_t total = 0;  // 0: no transfer is being shown
  std::uint64_t done = 0;
  ProgressClock::time_point started{};
  ProgressClock::time_point last_draw{};
  bool shown = false;       // a bar stands on the current line
  bool full_drawn = false;  // the 100 % bar has been drawn
  // The marks counted instead of printed, by letter in the order they came.
  std::vector<std::pair<char, std::uint64_t>> marks;
};

// The bar for `done` of `total` bytes after `elapsed`, e.g.
// "[##########..............]  45%  7.2/16.0 MiB  251 KiB/s  0:36 left";
// never wider than PROGRESS_WIDTH.
std::string progress_text(std::uint64_t done, std::uint64_t total,
                          std::chrono::nanoseconds elapsed);

// The line that replaces the bar when a transfer ends: "4.0 MiB in 0:16,
// 256 KiB/s", or "1.5 of 4.0 MiB in 0:06, 256 KiB/s" when it stopped short.
std::string progress_summary(std::uint64_t done, std::uint64_t total,
                             std::chrono::nanoseconds elapsed);

// "R 1024  " for the counted marks, "" for none.
std::string marks_text(const std::vector<std::pair<char, std::uint64_t>>& marks);

// Shows `line` in place of whatever stands on the cursor's line: first
// column, the text, the rest of the line cleared. An empty `line` clears it.
std::string progress_draw_sequence(const std::string& line);

}  // namespace kartex
