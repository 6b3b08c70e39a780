#include "common/progress.h"

#include <algorithm>
#include <cmath>

#include "common/output.h"

namespace kartex {

namespace {

constexpr std::size_t BAR_CELLS = 24;
constexpr double KIB = 1024.0;
constexpr double MIB = KIB * 1024.0;
constexpr double GIB = MIB * 1024.0;
// Keeps the time field within "999:59".
constexpr std::uint64_t MAX_SECONDS_SHOWN = 999 * 60 + 59;

// "7.2/16.0 MiB": both in the unit that suits the total.
std::string sizes_text(std::uint64_t done, std::uint64_t total, const char* between = "/") {
  const double d = static_cast<double>(done), t = static_cast<double>(total);
  if (t < KIB)
    return strprintf("%llu%s%llu B", static_cast<unsigned long long>(done), between,
                     static_cast<unsigned long long>(total));
  if (t < MIB) return strprintf("%.1f%s%.1f KiB", d / KIB, between, t / KIB);
  if (t < GIB) return strprintf("%.1f%s%.1f MiB", d / MIB, between, t / MIB);
  return strprintf("%.1f%s%.1f GiB", d / GIB, between, t / GIB);
}

// "16.0 MiB"
std::string size_text(std::uint64_t total) {
  const double t = static_cast<double>(total);
  if (t < KIB) return strprintf("%llu B", static_cast<unsigned long long>(total));
  if (t < MIB) return strprintf("%.1f KiB", t / KIB);
  if (t < GIB) return strprintf("%.1f MiB", t / MIB);
  return strprintf("%.1f GiB", t / GIB);
}

std::string speed_text(double per_second) {
  if (per_second < KIB) return strprintf("%.0f B/s", per_second);
  if (per_second < MIB) return strprintf("%.0f KiB/s", per_second / KIB);
  if (per_second < GIB) return strprintf("%.1f MiB/s", per_second / MIB);
  return strprintf("%.1f GiB/s", per_second / GIB);
}

std::string time_left_text(std::uint64_t seconds) {
  if (seconds > MAX_SECONDS_SHOWN) seconds = MAX_SECONDS_SHOWN;
  return strprintf("%u:%02u left", static_cast<unsigned>(seconds / 60),
                   static_cast<unsigned>(seconds % 60));
}

}  // namespace

std::string progress_text(std::uint64_t done, std::uint64_t total,
                          std::chrono::nanoseconds elapsed) {
  if (total == 0) return {};
  if (done > total) done = total;
  const double fraction = static_cast<double>(done) / static_cast<double>(total);
  unsigned percent = static_cast<unsigned>(fraction * 100.0);
  if (percent >= 100 && done < total) percent = 99;  // 100 % only when it is all there
  std::size_t cells = static_cast<std::size_t>(fraction * BAR_CELLS);
  if (cells >= BAR_CELLS && done < total) cells = BAR_CELLS - 1;

  std::string text = "[" + std::string(cells, '#') + std::string(BAR_CELLS - cells, '.') + "]";
  text += strprintf(" %3u%%  ", percent);
  text += sizes_text(done, total);

  const double seconds = std::chrono::duration<double>(elapsed).count();
  if (done == total) {
    text += "  " + (seconds > 0 ? speed_text(static_cast<double>(done) / seconds) : "-- B/s");
    text += "  " + time_left_text(0);
  } else if (done == 0 || seconds <= 0) {
    // No rate known yet.
    text += "  -- B/s  -:-- left";
  } else {
    const double rate = static_cast<double>(done) / seconds;
    const double left = std::ceil(static_cast<double>(total - done) / rate);
    text += "  " + speed_text(rate);
    text += "  " + time_left_text(left >= static_cast<double>(MAX_SECONDS_SHOWN)
                                      ? MAX_SECONDS_SHOWN
                                      : static_cast<std::uint64_t>(left));
  }
  if (text.size() > PROGRESS_WIDTH) text.resize(PROGRESS_WIDTH);
  return text;
}

std::string progress_summary(std::uint64_t done, std::uint64_t total,
                             std::chrono::nanoseconds elapsed) {
  if (done > total) done = total;
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::string text = done == total ? size_text(total) : sizes_text(done, total, " of ");
  const auto whole = static_cast<std::uint64_t>(seconds + 0.5);
  text += strprintf(" in %llu:%02u, ", static_cast<unsigned long long>(whole / 60),
                    static_cast<unsigned>(whole % 60));
  text += seconds > 0 && done > 0 ? speed_text(static_cast<double>(done) / seconds) : "-- B/s";
  return text;
}

std::string marks_text(const std::vector<std::pair<char, std::uint64_t>>& marks) {
  std::string text;
  for (const auto& [letter, count] : marks)
    text += strprintf("%c %llu  ", letter, static_cast<unsigned long long>(count));
  return text;
}

std::string progress_draw_sequence(const std::string& line) {
  return "\r" + line + "\x1b[K";
}

bool Output::count_mark(char letter) {
  if (!progress_bar || !marks_in_bar || progress.total == 0) return false;
  auto it = std::find_if(progress.marks.begin(), progress.marks.end(),
                         [letter](const auto& m) { return m.first == letter; });
  if (it == progress.marks.end()) progress.marks.emplace_back(letter, 1);
  else ++it->second;
  return true;
}

void Output::progress_start(std::uint64_t total_bytes) {
  if (!progress_bar) return;
  progress_end();
  if (total_bytes == 0) return;
  // Marks or text left on the line would be drawn over: the bar gets a line of its own.
  if (marks_in_bar && mid_line) {
    err << '\n';
    mid_line = false;
  }
  progress = ProgressState{};
  progress.total = total_bytes;
  progress.started = now();
  progress_draw(progress.started);
}

void Output::progress_add(std::uint64_t bytes) {
  if (!progress_bar || progress.total == 0) return;
  const std::uint64_t room = progress.total - progress.done;
  progress.done += bytes < room ? bytes : room;
  const auto t = now();
  if (progress.done == progress.total) {
    if (!progress.full_drawn) progress_draw(t);
  } else if (t - progress.last_draw >= PROGRESS_INTERVAL) {
    progress_draw(t);
  }
}

void Output::progress_end() {
  if (!progress_bar) return;
  if (progress.shown) {
    std::string line = progress_summary(progress.done, progress.total, now() - progress.started);
    if (marks_in_bar) line = marks_text(progress.marks) + line;
    err << progress_draw_sequence(line);
    // With the marks counted, the line is theirs: the command ends it as it
    // ends a line of marks.
    if (!(marks_in_bar && mid_line)) err << '\n';
    err << std::flush;
  }
  progress = ProgressState{};
}

void Output::progress_hide() {
  if (!progress_bar || !progress.shown || !marks_in_bar) return;
  err << progress_draw_sequence("") << std::flush;
  progress.shown = false;
}

void Output::progress_draw(ProgressClock::time_point t) {
  std::string line = progress_text(progress.done, progress.total, t - progress.started);
  if (marks_in_bar) {
    line = marks_text(progress.marks) + line;
    if (line.size() > PROGRESS_WIDTH) line.resize(PROGRESS_WIDTH);
  }
  err << progress_draw_sequence(line) << std::flush;
  progress.last_draw = t;
  progress.shown = true;
  if (progress.done == progress.total) progress.full_drawn = true;
}

}  // namespace kartex
