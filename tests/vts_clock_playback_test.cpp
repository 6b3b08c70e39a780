// Playback that follows a clock it is given: position, pause, seeks and
// the file's ends, on a clock the test moves by hand.

#include <gtest/gtest.h>

#include "vts/clock_playback.h"

namespace kartex {
namespace {

TEST(ClockPlayback, PositionFollowsTheGivenClockOnly) {
  std::int64_t now = 5000;
  auto playback = open_clock_playback([&now] { return now; }, 20000);
  bool flag = true;
  const struct {
    const char* step;
    std::int64_t advance;  // clock ms before the step
    int action;            // 0 none, 1 pause, 2 run, 3 seek +8 s, 4 seek -30 s, 5 seek +60 s
    std::int64_t position;
  } steps[] = {
      {"starts at 0", 0, 0, 0},
      {"plays with the clock", 1500, 0, 1500},
      {"pause holds", 700, 1, 2200},
      {"paused: clock moves, position does not", 4000, 0, 2200},
      {"seek while paused", 0, 3, 10200},
      {"runs on from there", 0, 2, 10200},
      {"and plays", 300, 0, 10500},
      {"back past the start stops at 0", 0, 4, 0},
      {"past the end stands at the end", 0, 5, 20000},
      {"and stays there", 9000, 0, 20000},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    now += s.advance;
    switch (s.action) {
      case 1: EXPECT_TRUE(playback->set_paused(true)); break;
      case 2: EXPECT_TRUE(playback->set_paused(false)); break;
      case 3: playback->seek_relative(8000); break;
      case 4: playback->seek_relative(-30000); break;
      case 5: playback->seek_relative(60000); break;
      default: break;
    }
    EXPECT_EQ(playback->position_ms(), s.position);
  }
  EXPECT_TRUE(playback->is_paused(flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(playback->set_full_screen(true));
  EXPECT_TRUE(playback->is_full_screen(flag));
  EXPECT_TRUE(flag);
}

}  // namespace
}  // namespace kartex
