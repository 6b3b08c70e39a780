// Playback that follows a clock it is given: position, pause, seeks and
// the file's ends, on a clock the test moves by hand.

#include <gtest/gtest.h>

#include <string>

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

// A grabber that only knows the file's length.
struct LengthOnly : Grabber {
  std::int64_t length;
  explicit LengthOnly(std::int64_t ms) : length(ms) {}
  std::size_t image_size() const override { return 0; }
  bool copy_to(std::span<std::uint8_t>) override { return false; }
  void position_at(std::int64_t) override {}
  std::int64_t duration_ms() const override { return length; }
};

// The playback on the clock ends where the grabber says the file does; a
// file of unknown length plays on; one that cannot be opened is not played.
TEST(ClockPlayback, FollowingTheClockEndsWhereTheFileDoes) {
  const struct {
    const char* file;
    std::int64_t length;  // -1 unknown; -2 the grabber cannot open it
    std::int64_t position_after_a_minute;
  } files[] = {{"short", 2500, 2500}, {"unknown length", -1, 60000}, {"unreadable", -2, -1}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    std::int64_t now = 0;
    bool playback_opened = false;
    MediaOpeners platform{[&](const std::string&, std::string&) -> std::unique_ptr<Playback> {
                            playback_opened = true;
                            return nullptr;
                          },
                          [&](const std::string&, std::string& why) -> std::unique_ptr<Grabber> {
                            if (f.length == -2) {
                              why = "not a video";
                              return nullptr;
                            }
                            return std::make_unique<LengthOnly>(f.length);
                          }};
    const MediaOpeners openers = following_clock(platform, [&now] { return now; });
    std::string why;
    const std::unique_ptr<Playback> playback = openers.playback(f.file, why);
    EXPECT_FALSE(playback_opened) << "no window or sound";
    if (f.position_after_a_minute < 0) {
      EXPECT_EQ(playback, nullptr);
      EXPECT_EQ(why, "not a video");
      continue;
    }
    ASSERT_NE(playback, nullptr);
    now += 60000;
    EXPECT_EQ(playback->position_ms(), f.position_after_a_minute);
    playback->seek_relative(-1000);
    EXPECT_EQ(playback->position_ms(), f.position_after_a_minute - 1000) << "a seek back from the end";
  }
}

}  // namespace
}  // namespace kartex
