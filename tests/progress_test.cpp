// The progress bar on standard error: what it says, how often it is drawn,
// that it stands alone on its line, that the marks are counted in it when
// standard output is the same terminal and printed untouched otherwise, the
// line that replaces it at the end, and that nothing at all is written when
// standard error is not a terminal.

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>

#include "common/output.h"
#include "tests/support/sizes.h"

namespace kartex::test {
namespace {

using namespace std::chrono_literals;

const std::string ESC = "\x1b";
// First column of the line.
const std::string BEFORE_BAR = "\r";
// Clear the rest of the line.
const std::string AFTER_BAR = ESC + "[K";

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct Terminal {
  std::ostringstream out, err;
  Output con{out, err};
  ProgressClock::time_point t{};

  explicit Terminal(bool bar = true) {
    con.progress_bar = bar;
    con.now = [this] { return t; };
  }
  std::size_t draws() const { return count(err.str(), BEFORE_BAR); }
  // What the last draw put on the bar's line.
  std::string last_bar() const {
    const std::string e = err.str();
    const auto start = e.rfind(BEFORE_BAR);
    if (start == std::string::npos) return "(none)";
    const auto from = start + BEFORE_BAR.size();
    return e.substr(from, e.find(AFTER_BAR, from) - from);
  }
};

TEST(ProgressText, Fields) {
  struct Case {
    std::uint64_t done, total;
    std::chrono::nanoseconds elapsed;
    std::string text;
  };
  const Case cases[] = {
      {0, 16 * MiB, 0ns, "[........................]   0%  0.0/16.0 MiB  -- B/s  -:-- left"},
      // 7.5 of 16 MiB in 30 s: 256 KiB/s, 8.5 MiB to go take 34 s.
      {15 * MiB / 2, 16 * MiB, 30s,
       "[###########.............]  46%  7.5/16.0 MiB  256 KiB/s  0:34 left"},
      {16 * MiB, 16 * MiB, 8s, "[########################] 100%  16.0/16.0 MiB  2.0 MiB/s  0:00 left"},
      // A save: KiB, and a time left that rounds up.
      {24 * KiB, 64 * KiB, 3s, "[#########...............]  37%  24.0/64.0 KiB  8 KiB/s  0:05 left"},
      {100, 512, 2s, "[####....................]  19%  100/512 B  50 B/s  0:09 left"},
      // One byte short of the end is not 100 %, nor a full bar.
      {128 * MiB - 1, 128 * MiB, 64s,
       "[#######################.]  99%  128.0/128.0 MiB  2.0 MiB/s  0:01 left"},
      {3 * MiB, 4 * MiB, 10min, "[##################......]  75%  3.0/4.0 MiB  5 KiB/s  3:20 left"},
  };
  for (const Case& tc : cases)
    EXPECT_EQ(progress_text(tc.done, tc.total, tc.elapsed), tc.text) << tc.done << "/" << tc.total;
}

TEST(ProgressText, NeverWiderThan79Columns) {
  const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    std::uint64_t done, total;
    std::chrono::nanoseconds elapsed;
  };
  const Case cases[] = {
      {1, huge, 1ns},            // the largest sizes and a tiny speed
      {huge, huge, 1ns},         // an enormous speed
      {1, 128 * MiB, 100h},      // a time left far past 999 minutes
      {1023 * MiB, 1023 * MiB + 1023 * KiB, 1ns},
      {1, 1, 0ns},
      {0, 1, 0ns},
  };
  for (const Case& tc : cases) {
    const std::string text = progress_text(tc.done, tc.total, tc.elapsed);
    EXPECT_LE(text.size(), PROGRESS_WIDTH) << text;
    EXPECT_EQ(text.front(), '[') << text;
    EXPECT_EQ(text.find_first_of("\r\n\x1b"), std::string::npos) << text;
  }
  EXPECT_NE(progress_text(1, 128 * MiB, 100h).find("999:59 left"), std::string::npos);
  // So close to the end that a double rounds the fraction to 1: still not done.
  EXPECT_EQ(progress_text(huge - 1, huge, 1s).substr(0, 31), "[#######################.]  99%");
}

TEST(ProgressSummary, BytesTimeAndMeanSpeed) {
  struct Case {
    std::uint64_t done, total;
    std::chrono::nanoseconds elapsed;
    std::string text;
  };
  const Case cases[] = {
      {16 * MiB, 16 * MiB, 64s, "16.0 MiB in 1:04, 256 KiB/s"},
      {4 * MiB, 4 * MiB, 2s, "4.0 MiB in 0:02, 2.0 MiB/s"},
      {32 * KiB, 32 * KiB, 500ms, "32.0 KiB in 0:01, 64 KiB/s"},
      {512, 512, 0ns, "512 B in 0:00, -- B/s"},
      // Stopped short: what was done of what was asked.
      {3 * MiB / 2, 4 * MiB, 6s, "1.5 of 4.0 MiB in 0:06, 256 KiB/s"},
      {100, 512, 10s, "100 of 512 B in 0:10, 10 B/s"},
      {8 * MiB, 8 * MiB, 3723s, "8.0 MiB in 62:03, 2 KiB/s"},
  };
  for (const Case& tc : cases)
    EXPECT_EQ(progress_summary(tc.done, tc.total, tc.elapsed), tc.text) << tc.done << "/" << tc.total;
}

TEST(ProgressBar, DrawnAloneOnItsLineAndReplacedByTheSummary) {
  Terminal term;
  term.con.progress_start(16 * MiB);
  EXPECT_EQ(term.err.str(), BEFORE_BAR + progress_text(0, 16 * MiB, 0ns) + AFTER_BAR);
  term.t += 30s;
  term.con.progress_add(15 * MiB / 2);
  EXPECT_EQ(term.last_bar(), "[###########.............]  46%  7.5/16.0 MiB  256 KiB/s  0:34 left");
  term.t += 34s;
  term.con.progress_add(17 * MiB / 2);
  term.con.progress_end();
  EXPECT_TRUE(term.err.str().ends_with(BEFORE_BAR + "16.0 MiB in 1:04, 256 KiB/s" + AFTER_BAR + "\n"))
      << term.err.str();
  EXPECT_EQ(term.out.str(), "");
}

TEST(ProgressBar, AtMostTenDrawsASecondAndOneAtTheEnd) {
  Terminal term;
  term.con.progress_start(1000);
  EXPECT_EQ(term.draws(), 1u);
  // Many blocks within 100 ms: no new draw.
  for (int i = 0; i < 99; ++i) {
    term.t += 1ms;
    term.con.progress_add(5);
  }
  EXPECT_EQ(term.draws(), 1u);
  term.t += 1ms;  // 100 ms after the first draw
  term.con.progress_add(5);
  EXPECT_EQ(term.draws(), 2u);
  EXPECT_EQ(term.last_bar().substr(26, 5), "  50%");
  // The last bytes arrive 1 ms later: 100 % is drawn anyway, once.
  term.t += 1ms;
  term.con.progress_add(500);
  EXPECT_EQ(term.draws(), 3u);
  EXPECT_EQ(term.last_bar().substr(0, 31), "[########################] 100%");
  term.t += 1s;
  term.con.progress_add(0);
  term.con.progress_add(10);  // more than announced: still 100 %, no redraw
  EXPECT_EQ(term.draws(), 3u);
}

TEST(ProgressBar, EndRemovesTheBarOnlyWhenOneIsShown) {
  Terminal term;
  term.con.progress_end();
  EXPECT_EQ(term.err.str(), "");
  term.con.progress_start(0);  // nothing to show
  term.con.progress_add(10);
  EXPECT_EQ(term.err.str(), "");
  term.con.progress_start(100);
  term.con.progress_end();
  term.con.progress_end();
  EXPECT_EQ(term.draws(), 2u);  // the bar and the summary
  EXPECT_TRUE(term.err.str().ends_with(BEFORE_BAR + "0 of 100 B in 0:00, -- B/s" + AFTER_BAR + "\n"));
  // After the end, adds draw nothing.
  term.t += 1s;
  term.con.progress_add(50);
  EXPECT_EQ(term.draws(), 2u);
}

TEST(ProgressBar, ASecondTransferStartsAfresh) {
  Terminal term;
  term.con.progress_start(100);
  term.t += 1s;
  term.con.progress_add(100);
  term.con.progress_start(200);  // e.g. the verify after a write
  // The first transfer's summary stands on its own line before the new bar.
  EXPECT_NE(term.err.str().find(BEFORE_BAR + "100 B in 0:01, 100 B/s" + AFTER_BAR + "\n"), std::string::npos);
  EXPECT_EQ(term.last_bar(), progress_text(0, 200, 0ns));
  term.t += 1s;
  term.con.progress_add(200);
  EXPECT_EQ(term.last_bar(), progress_text(200, 200, 1s));
  term.con.progress_end();
  EXPECT_TRUE(term.err.str().ends_with(BEFORE_BAR + "200 B in 0:01, 200 B/s" + AFTER_BAR + "\n"));
}

TEST(ProgressBar, NothingWrittenWithoutATerminal) {
  Terminal term(false);
  bool clock_read = false;
  term.con.now = [&] {
    clock_read = true;
    return term.t;
  };
  term.con.progress_start(1000);
  term.con.mark('R');
  for (int i = 0; i < 10; ++i) {
    term.t += 1s;
    term.con.progress_add(100);
  }
  term.con.progress_end();
  EXPECT_EQ(term.err.str(), "");
  EXPECT_EQ(term.out.str(), "R");
  EXPECT_FALSE(clock_read);
}

// The marks keep going to standard output untouched while the bar runs.
TEST(ProgressBar, MarksStayOnStandardOutput) {
  Terminal term;
  term.con.progress_start(4 * 4096);
  for (int i = 0; i < 4; ++i) {
    term.t += 200ms;
    term.con.mark('R');
    term.con.progress_add(4096);
  }
  term.con.progress_end();
  EXPECT_EQ(term.out.str(), "RRRR");
  EXPECT_TRUE(term.con.mid_line);
  EXPECT_EQ(count(term.err.str(), "R"), 0u);
  EXPECT_EQ(term.draws(), 6u);  // start, four blocks, summary
}

// One terminal for both streams: a line of marks would wrap under the bar,
// so the bar counts them, and its summary is the marks' line, which the
// command's own line end closes.
TEST(ProgressBar, MarksCountedInTheBarOnOneTerminal) {
  Terminal term;
  term.con.marks_in_bar = true;
  term.con.mark('W');  // no transfer shown: printed as it stands
  term.con.print("\n");
  term.con.progress_start(4 * 4096);
  for (int i = 0; i < 4; ++i) {
    term.t += 200ms;
    term.con.mark('R');
    term.con.progress_add(4096);
  }
  EXPECT_EQ(term.last_bar(), "R 4  " + progress_text(4 * 4096, 4 * 4096, 800ms));
  term.con.progress_end();
  EXPECT_TRUE(term.err.str().ends_with(BEFORE_BAR + "R 4  16.0 KiB in 0:01, 20 KiB/s" + AFTER_BAR))
      << term.err.str();
  EXPECT_TRUE(term.con.mid_line);
  term.con.print("\n");
  EXPECT_EQ(term.out.str(), "W\n\n");
}

// Marks or text left on the line (nothing counted them) are not drawn over.
TEST(ProgressBar, OnOneTerminalTheBarStartsOnAFreshLine) {
  Terminal term;
  term.con.marks_in_bar = true;
  term.con.print("Start=0x0 ");
  term.con.progress_start(100);
  EXPECT_EQ(term.err.str(), "\n" + BEFORE_BAR + progress_text(0, 100, 0ns) + AFTER_BAR);
  EXPECT_FALSE(term.con.mid_line);
  // A line printed while the bar stands clears it first.
  term.con.print("retry\n");
  EXPECT_TRUE(term.err.str().ends_with(BEFORE_BAR + AFTER_BAR));
  EXPECT_EQ(term.out.str(), "Start=0x0 retry\n");
}

}  // namespace
}  // namespace kartex::test
