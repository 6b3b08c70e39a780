#pragma once
// The tool's text output: its own lines and progress marks on standard
// output, diagnostics and the progress bar on standard error.

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "common/failure.h"
#include "common/progress.h"

// mingw's compiler checks plain `printf` formats against the old Windows C
// library; the build uses mingw's C99 printf (__USE_MINGW_ANSI_STDIO), so
// the checks must follow the GNU rules (%zu, %llu) there too.
#if defined(__MINGW32__)
#define KARTEX_PRINTF gnu_printf
#else
#define KARTEX_PRINTF printf
#endif

namespace kartex {

std::string strprintf(const char* fmt, ...) __attribute__((format(KARTEX_PRINTF, 1, 2)));

struct Output {
  std::ostream& out;
  std::ostream& err;

  // Formatted text on standard output, shown at once.
  void print(const char* fmt, ...) __attribute__((format(KARTEX_PRINTF, 2, 3)));
  // One progress letter ("R", "W", "E") without a line end, after each
  // block; where the user asked to stop (Ctrl-C), the command stops here.
  void mark(char letter) {
    if (!count_mark(letter)) out << letter << std::flush;
    mid_line = true;
    if (stop_requested && stop_requested()) fail_interrupted();
  }

  // Asked at each block: true once the user wants the command to stop.
  std::function<bool()> stop_requested = nullptr;

  // True while progress marks stand on an unfinished line.
  bool mid_line = false;

  // Standard error is a terminal: draw the progress bar there. When false,
  // the progress calls write nothing at all.
  bool progress_bar = false;
  // Standard output is that same terminal: while a bar is shown the marks
  // are counted in it, not printed (a line of them would wrap under it).
  bool marks_in_bar = false;
  // The bar's clock; tests replace it.
  std::function<ProgressClock::time_point()> now = [] { return ProgressClock::now(); };

  // A transfer of `total_bytes` begins; total 0: nothing is drawn.
  void progress_start(std::uint64_t total_bytes);
  // `bytes` more are done since the last call. Redraws at most once per
  // PROGRESS_INTERVAL, and once when the total is reached.
  void progress_add(std::uint64_t bytes);
  // Replaces the bar (no-op when none) with one line of the bytes done, the
  // time and the mean speed: on success, and before any error line.
  void progress_end();
  // Clears a bar that shares standard output's line, before text goes there.
  void progress_hide();

  ProgressState progress{};

 private:
  void progress_draw(ProgressClock::time_point t);
  // True when `letter` was counted in the bar instead of printed.
  bool count_mark(char letter);
};

}  // namespace kartex
