#pragma once
// The progress bar that Output draws on standard error while a transfer
// runs. Standard output keeps the tool's own marks, often on the same
// terminal, so the bar lives on the line below the cursor and every draw
// leaves the cursor where the next mark goes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

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
  bool shown = false;       // a bar stands on the line below the cursor
  bool full_drawn = false;  // the 100 % bar has been drawn
};

// The bar for `done` of `total` bytes after `elapsed`, e.g.
// "[##########..............]  45%  7.2/16.0 MiB  251 KiB/s  0:36 left";
// never wider than PROGRESS_WIDTH.
std::string progress_text(std::uint64_t done, std::uint64_t total,
                          std::chrono::nanoseconds elapsed);

// VT100 sequences that show `bar` on the line below the cursor and put the
// cursor back in its cell: clear old bar text right of the cursor (left
// there when the marks wrapped onto the bar's line), make sure a line
// exists below (scrolling now, before the cursor is saved), save, go down,
// draw, clear the rest, restore. An empty `bar` clears that line.
std::string progress_draw_sequence(const std::string& bar);

}  // namespace kartex
