// The frame source's grab positions over playback and grabber stand-ins,
// the bitmap layout it hands over, and the figures at a stream's end.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "common/output.h"
#include "vts/dib.h"
#include "vts/dxplay.h"
#include "vts/frame_convert.h"
#include "vts/stream_stats.h"

namespace kartex {
namespace {

struct Log {
  std::vector<std::int64_t> grab_positions;  // every position the grabber was asked for
  std::vector<std::int64_t> seeks;
  std::vector<int> waits;
};

struct FakePlayback : Playback {
  Log& log;
  std::int64_t position = 0;
  bool paused = false, full = false;
  bool state_fails = false;
  explicit FakePlayback(Log& l) : log(l) {}
  std::int64_t position_ms() override { return position; }
  void seek_relative(std::int64_t ms) override {
    log.seeks.push_back(ms);
    position = std::max<std::int64_t>(0, position + ms);
  }
  bool is_paused(bool& p) override {
    p = paused;
    return !state_fails;
  }
  bool set_paused(bool p) override {
    paused = p;
    return true;
  }
  bool is_full_screen(bool& f) override {
    f = full;
    return !state_fails;
  }
  bool set_full_screen(bool f) override {
    full = f;
    return true;
  }
};

// Its picture is one byte: the position it was taken at, in seconds.
struct FakeGrabber : Grabber {
  Log& log;
  std::int64_t held = 0;
  bool fails = false;
  std::size_t size = 1;
  explicit FakeGrabber(Log& l) : log(l) {}
  std::size_t image_size() const override { return size; }
  bool copy_to(std::span<std::uint8_t> buffer) override {
    if (fails || buffer.empty()) return false;
    buffer[0] = static_cast<std::uint8_t>(held / 1000);
    return true;
  }
  void position_at(std::int64_t ms) override {
    log.grab_positions.push_back(ms);
    held = ms;
  }
  std::int64_t duration_ms() const override { return 60000; }
};

struct Source {
  Log log;
  std::ostringstream out, err;
  Output con{out, err};
  FakePlayback* playback = nullptr;
  FakeGrabber* grabber = nullptr;
  DxPlay dx;
  bool playback_opens = true, grabber_opens = true;
  bool playback_state_fails = false;  // the player opens but cannot say or change its state
  std::size_t grabber_size = 1;

  Source()
      : dx(MediaOpeners{[this](const std::string&, std::string& why) -> std::unique_ptr<Playback> {
                          if (!playback_opens) {
                            why = "no display";
                            return nullptr;
                          }
                          auto p = std::make_unique<FakePlayback>(log);
                          p->state_fails = playback_state_fails;
                          playback = p.get();
                          return p;
                        },
                        [this](const std::string&, std::string& why) -> std::unique_ptr<Grabber> {
                          if (!grabber_opens) {
                            why = "No such file or directory";
                            return nullptr;
                          }
                          auto g = std::make_unique<FakeGrabber>(log);
                          g->size = grabber_size;
                          grabber = g.get();
                          return g;
                        }},
           con, [this](int ms) { log.waits.push_back(ms); }) {}

  int grab() {
    std::uint8_t byte = 0xEE;
    dx.dx_grab_frame(std::span<std::uint8_t>(&byte, 1));
    return byte == 0xEE ? -1 : byte;
  }
  int trace_lines() const {
    int n = 0;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) n += line.rfind("dxplay.cpp:", 0) == 0;
    return n;
  }
};

TEST(VtsSource, EachGrabHandsOverThePictureChosenOneGrabEarlier) {
  Source s;
  ASSERT_EQ(s.dx.dx_open("clip"), 1);
  EXPECT_EQ(s.trace_lines(), 5) << s.out.str();
  EXPECT_EQ(s.dx.dx_image_size(), 1);
  s.grabber->held = 4000;  // where cueing left it
  // Playback position at each grab, and the picture (seconds) expected.
  const struct {
    std::int64_t position;
    int picture;
  } steps[] = {{0, 4}, {1000, 0}, {2500, 1}, {2500, 3}, {9000, 3}, {9100, 9}};
  for (const auto& step : steps) {
    s.playback->position = step.position;
    EXPECT_EQ(s.grab(), step.picture) << "at " << step.position;
    EXPECT_EQ(s.log.grab_positions.back(), step.position + GRAB_LEAD_MS);
  }
  EXPECT_TRUE(s.log.waits.empty()) << "grabs do not wait";
}

TEST(VtsSource, SeeksMovePlaybackAndTheNextPicture) {
  Source s;
  ASSERT_EQ(s.dx.dx_open("clip"), 1);
  s.playback->position = 20000;
  for (std::int64_t ms : {5000, -5000, 15000, -15000, -15000, -15000}) {
    const std::int64_t before = s.playback->position;
    s.dx.dx_seek(ms);
    EXPECT_EQ(s.log.seeks.back(), ms);
    EXPECT_EQ(s.log.grab_positions.back(), std::max<std::int64_t>(before + ms, 0) + GRAB_LEAD_MS) << ms;
  }
  // Back past the start: playback stands at the start, and the next
  // picture is the lead ahead of it, not before the file begins.
  EXPECT_EQ(s.playback->position, 0);
  EXPECT_EQ(s.log.grab_positions.back(), GRAB_LEAD_MS);
  EXPECT_TRUE(s.log.waits.empty()) << "seeks do not wait";
}

TEST(VtsSource, PlayStateAndFullScreenToggleAndWait) {
  Source s;
  ASSERT_EQ(s.dx.dx_open("clip"), 1);
  EXPECT_FALSE(s.playback->paused) << "open starts playback";
  const struct {
    PlayMode mode;
    bool paused_after;
  } steps[] = {{PlayMode::Toggle, true}, {PlayMode::Toggle, false}, {PlayMode::Pause, true}, {PlayMode::Pause, true},
               {PlayMode::Toggle, false}};
  for (const auto& step : steps) {
    EXPECT_EQ(s.dx.dx_play_state(step.mode), 1);
    EXPECT_EQ(s.playback->paused, step.paused_after);
  }
  EXPECT_EQ(s.dx.dx_full_screen(), 1);
  EXPECT_TRUE(s.playback->full);
  EXPECT_EQ(s.dx.dx_full_screen(), 1);
  EXPECT_FALSE(s.playback->full) << "a second press goes back";
  EXPECT_EQ(s.log.waits, std::vector<int>(7, KEY_ACTION_WAIT_MS));

  // A state that cannot be read: a trace line, nothing changes, no wait.
  s.playback->state_fails = true;
  const int traces = s.trace_lines();
  EXPECT_EQ(s.dx.dx_play_state(PlayMode::Toggle), 0);
  EXPECT_EQ(s.dx.dx_full_screen(), 0);
  EXPECT_EQ(s.trace_lines(), traces + 2);
  EXPECT_EQ(s.log.waits.size(), 7u);
}

TEST(VtsSource, FailedCopyKeepsTheBufferAndStillMovesOn) {
  Source s;
  ASSERT_EQ(s.dx.dx_open("clip"), 1);
  s.grabber->fails = true;
  s.playback->position = 3000;
  const int traces = s.trace_lines();
  EXPECT_EQ(s.grab(), -1) << "the buffer keeps what it held";
  EXPECT_EQ(s.trace_lines(), traces + 1);
  EXPECT_EQ(s.log.grab_positions.back(), 3000 + GRAB_LEAD_MS);
}

// Every way the open can fail gives its trace lines and exactly one reason
// line naming the file.
TEST(VtsSource, OpenFailuresTraceAndSayWhy) {
  const struct {
    const char* name;
    bool grabber_opens, playback_opens, state_fails;
    std::size_t size;
    int traces;
    const char* reason;
  } cases[] = {
      {"grabber refuses the file", false, true, false, 1, 1, "No such file"},
      {"picture without size", true, true, false, 0, 2, "the picture has no size"},
      {"player refuses the file", true, false, false, 1, 3, "no display"},
      {"player does not start", true, true, true, 1, 4, "the player did not start"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Source s;
    s.grabber_opens = c.grabber_opens;
    s.playback_opens = c.playback_opens;
    s.playback_state_fails = c.state_fails;
    s.grabber_size = c.size;
    EXPECT_EQ(s.dx.dx_open("missing.avi"), 0);
    EXPECT_EQ(s.trace_lines(), c.traces) << s.out.str();
    const std::string err = s.err.str();
    EXPECT_EQ(err.rfind("kartex: missing.avi: ", 0), 0u) << err;
    EXPECT_NE(err.find(c.reason), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    // Nothing left open: grabs and seeks do nothing.
    s.dx.dx_seek(5000);
    EXPECT_TRUE(s.log.seeks.empty());
  }
}

TEST(VtsDib, HeaderAndBottomUpRowsWithPadding) {
  // 5 pixels of 3 bytes: 15 bytes of pixels, rows of 16.
  const DibLayout layout{5, 3, 3};
  EXPECT_EQ(layout.stride(), 16u);
  std::vector<std::uint8_t> dib = make_dib(layout);
  ASSERT_EQ(dib.size(), 40u + 48u);
  auto le32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(dib[at] | dib[at + 1] << 8 | dib[at + 2] << 16 | dib[at + 3] << 24);
  };
  EXPECT_EQ(le32(0), 40u);
  EXPECT_EQ(le32(4), 5u);
  EXPECT_EQ(le32(8), 3u) << "positive height: bottom-up";
  EXPECT_EQ(dib[12] | dib[13] << 8, 1);
  EXPECT_EQ(dib[14] | dib[15] << 8, 24);
  EXPECT_EQ(le32(16), 0u);
  EXPECT_EQ(le32(20), 48u);

  // Source rows 20 bytes apart, row y filled with y + 1; padding bytes of
  // the bitmap are marked and must stay.
  std::vector<std::uint8_t> src(60, 0);
  for (int y = 0; y < 3; ++y) std::fill_n(src.begin() + y * 20, 15, static_cast<std::uint8_t>(y + 1));
  for (int row = 0; row < 3; ++row) dib[40 + row * 16 + 15] = 0xAA;
  store_top_down(dib, layout, src.data(), 20);
  for (int row = 0; row < 3; ++row) {
    for (int i = 0; i < 15; ++i) EXPECT_EQ(dib[40 + row * 16 + i], 3 - row) << "memory row " << row;
    EXPECT_EQ(dib[40 + row * 16 + 15], 0xAA) << "padding of row " << row;
  }
}

TEST(VtsDib, TopOfThePictureLandsOnTheTopScreenRow) {
  // 240 x 160 picture: top half white, bottom half black.
  const DibLayout layout{240, 160, 3};
  std::vector<std::uint8_t> dib = make_dib(layout);
  std::vector<std::uint8_t> src(240 * 3 * 160, 0);
  std::fill_n(src.begin(), 240 * 3 * 80, 255);
  store_top_down(dib, layout, src.data(), 240 * 3);
  std::ostringstream quiet;
  Output con{quiet, quiet};
  FrameFormat format;
  ConsoleFrame page{};
  convert_frame(dib, page, format, con);
  EXPECT_EQ(page[0], 215);
  EXPECT_EQ(page[79 * 240 + 239], 215);
  EXPECT_EQ(page[80 * 240], 0);
  EXPECT_EQ(page[159 * 240 + 239], 0);
}

TEST(VtsStats, FiguresAtTheEndOfAStream) {
  const struct {
    std::int64_t frames, seconds;
    const char* text;
  } cases[] = {
      {10000, 1000, "\ntime:1000s\n 10.0000 fps\n3072000 BPS\n"},
      {7, 3, "\ntime:3s\n  2.3333 fps\n716800 BPS\n"},
      {0, 5, "\ntime:5s\n  0.0000 fps\n0 BPS\n"},
      // Ended within its first second: no rate to give.
      {12, 0, "\ntime:0s\n  0.0000 fps\n0 BPS\n"},
      // The bit rate is shown as a signed 32-bit value.
      {20000, 1, "\ntime:1s\n20000.0000 fps\n1849032704 BPS\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(stream_stats(c.frames, c.seconds), c.text) << c.frames << "/" << c.seconds;
}

}  // namespace
}  // namespace kartex
