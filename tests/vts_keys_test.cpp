// The keypad as remote control and the stream's driver, on the real agent
// in the simulator, with a frame source that records what it is asked.

#include <gtest/gtest.h>

#include <sstream>

#include "agent/agent_image.h"
#include "app/session.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "sim/sim_pipes.h"
#include "vts/dib.h"
#include "vts/vts_play.h"

namespace kartex {
namespace {

struct RecordingSource : FrameSource {
  std::vector<std::string> calls;
  int open_result = 1;
  std::int32_t size = -1;  // -1: the layout's size
  DibLayout layout{8, 8, 3};

  int dx_open(const std::string& name) override {
    calls.push_back("open " + name);
    return open_result;
  }
  std::int32_t dx_image_size() override {
    calls.push_back("size");
    return size >= 0 ? size : static_cast<std::int32_t>(layout.total_bytes());
  }
  void dx_grab_frame(std::span<std::uint8_t> buffer) override {
    calls.push_back("grab");
    const std::vector<std::uint8_t> dib = make_dib(layout);
    std::copy(dib.begin(), dib.end(), buffer.begin());
  }
  void dx_seek(std::int64_t ms) override { calls.push_back("seek " + std::to_string(ms)); }
  int dx_play_state(PlayMode mode) override {
    calls.push_back(mode == PlayMode::Pause ? "pause" : "toggle");
    return 1;
  }
  int dx_full_screen() override {
    calls.push_back("full screen");
    return 1;
  }
  void dx_close() override { calls.push_back("close"); }
};

struct KeyedConsole {
  std::ostringstream report, out, err;
  Output con{out, err};
  CableLink link;
  explicit KeyedConsole(const std::string& sim_options)
      : link([this, sim_options] { return open_sim_cable(parse_sim_options(sim_options), report, 5000); },
             [](int) {}) {
    link.link_start();
    upload_program(link, agent_image());
  }
};

TEST(VtsKeys, OneKeyActsAndEverythingElseDoesNothing) {
  const struct {
    const char* keys;
    int result;
    const char* call;  // "" for none
  } cases[] = {
      {"a", KEYS_GO, "full screen"}, {"b", KEYS_STOP, ""},      {"select", KEYS_GO, ""},
      {"start", KEYS_GO, "toggle"},   {"right", KEYS_GO, "seek 5000"}, {"left", KEYS_GO, "seek -5000"},
      {"up", KEYS_GO, ""},            {"down", KEYS_GO, ""},           {"r", KEYS_GO, "seek 15000"},
      {"l", KEYS_GO, "seek -15000"},  {"a+b", KEYS_GO, ""},            {"start+right", KEYS_GO, ""},
      {"b+select", KEYS_GO, ""},      {"l+r", KEYS_GO, ""},            {"", KEYS_GO, ""},
  };
  std::string script = "keys=";
  int read = 0;
  for (const auto& c : cases) {
    ++read;
    if (*c.keys) script += std::string(script.size() > 5 ? "," : "") + c.keys + "@" + std::to_string(read);
  }
  KeyedConsole console(script);
  RecordingSource source;
  for (const auto& c : cases) {
    source.calls.clear();
    EXPECT_EQ(poll_keys(console.link, source), c.result) << c.keys;
    EXPECT_EQ(source.calls, *c.call ? std::vector<std::string>{c.call} : std::vector<std::string>{}) << c.keys;
  }
}

TEST(VtsPlay, SetUpFailuresStopBeforeTheStream) {
  const struct {
    int open_result;
    DibLayout layout;  // 0 x 0: the source reports no image size
    const char* tail;
    std::vector<std::string> calls;
  } cases[] = {
      {0, DibLayout{8, 8, 3}, "BG MODE 4 \ndsplay error\n", {"open clip.avi"}},
      {1, DibLayout{0, 0, 3}, "BG MODE 4 \ndsdibsize error\n", {"open clip.avi", "size"}},
  };
  for (const auto& c : cases) {
    KeyedConsole console("");
    RecordingSource source;
    source.open_result = c.open_result;
    source.layout = c.layout;
    if (c.layout.width == 0) source.size = 0;
    EXPECT_EQ(vts_play(console.link, "clip.avi", source, console.con,
                       VtsEnv{[](int) {}, [] { return std::time_t(1); }}),
              -1);
    const std::string out = console.out.str();
    const std::string tail = c.tail;
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
    EXPECT_EQ(source.calls, c.calls);
  }
}

TEST(VtsPlay, FailedTransferClosesTheSourceAndThrows) {
  // Set-up: about 20,650 words; word 25,000 falls in the first page.
  KeyedConsole console("fault=unplug@25000,keys=b@20");
  RecordingSource source;
  std::time_t now = 0;
  bool threw = false;
  try {
    // Whole frames, as the word count above assumes.
    vts_play(console.link, "clip.avi", source, console.con, VtsEnv{[](int) {}, [&now] { return ++now; }, true});
  } catch (const Failure& f) {
    threw = true;
    EXPECT_EQ(f.status(), EXIT_FATAL);
    EXPECT_EQ(std::string(f.what()).find('\n'), std::string::npos) << f.what();
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(source.calls, (std::vector<std::string>{"open clip.avi", "size", "grab", "close"}));
  EXPECT_EQ(console.out.str().find("time:"), std::string::npos);
}

TEST(VtsPlay, EndOfStreamPausesWaitsClosesAndClears) {
  KeyedConsole console("keys=b@3");
  RecordingSource source;
  std::vector<int> waits;
  const std::time_t seconds[] = {7, 7, 7, 8, 10};
  int next = 0;
  EXPECT_EQ(vts_play(console.link, "clip.avi", source, console.con,
                     VtsEnv{[&](int ms) { waits.push_back(ms); }, [&] { return seconds[std::min(next++, 4)]; }}),
            0);
  EXPECT_EQ(source.calls, (std::vector<std::string>{"open clip.avi", "size", "grab", "grab", "pause", "close"}));
  EXPECT_EQ(waits, (std::vector<int>{1000, 1000})) << "the source makes its own half-second wait";
  const std::string out = console.out.str();
  // The source's pictures are black, as both pages already are: each
  // frame costs its key read and a request with nothing to change.
  EXPECT_NE(out.find("\ntime:2s\n  1.0000 fps\n307200 BPS\n9 link words a frame\nBG CLEAR\n"), std::string::npos)
      << out;
}

}  // namespace
}  // namespace kartex
