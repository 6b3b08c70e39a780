// The video command end to end: real clips played headless, grabbed and
// streamed through the real agent on the simulated console, with the
// keypad scripted and the pages kept as pictures.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "app/run.h"
#include "app/usage.h"
#include "common/output.h"
#include "tests/support/png_read.h"
#include "tests/support/stream_figures.h"
#include "tests/support/tool_on_sim.h"
#include "tests/support/vts_clips.h"
#include "vts/cube_palette.h"
#include "vts/frame_convert.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

// One run of the tool with playback on the null outputs, a wall clock that
// reads `seconds` in turn (the last one from then on), and waits that are
// recorded; with `real_waits` the keypad's half-second waits pass in real
// time, so that playback moves on while the stream is held.
struct VtsRun {
  std::ostringstream out, err;
  std::vector<int> waits;
  int status = -1;

  VtsRun(const std::vector<std::string>& args, std::vector<std::time_t> seconds = {100, 101, 101},
         bool real_waits = false) {
    std::size_t next = 0;
    RunEnv env{out, err, {}, [this, real_waits](int ms) {
                 waits.push_back(ms);
                 if (real_waits && ms == 500) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
               }};
    env.video_outputs = MediaOutputs{"null", "null"};
    env.clock = [seconds, next]() mutable { return seconds[std::min(next++, seconds.size() - 1)]; };
    status = run(args, env);
  }
};

// Palette index of each pixel of a page picture: every cube colour is
// distinct on the screen.
std::vector<int> page_indices(const std::string& png_path) {
  std::ostringstream quiet;
  Output con{quiet, quiet};
  const CubeTable cube = build_cube_palette(con);
  auto expand = [](unsigned c5) { return (c5 << 3) | (c5 >> 2); };
  std::map<std::uint32_t, int> index_of;
  for (int i = 0; i < CUBE_COLOURS; ++i)
    index_of[expand(cube[i] & 31) << 16 | expand((cube[i] >> 5) & 31) << 8 | expand((cube[i] >> 10) & 31)] = i;
  const DecodedPng png = decode_png_file(png_path);
  EXPECT_TRUE(png.ok) << png_path << ": " << png.error;
  std::vector<int> indices;
  for (std::size_t i = 0; i + 2 < png.rgb.size(); i += 3) {
    const std::uint32_t rgb = static_cast<std::uint32_t>(png.rgb[i]) << 16 | png.rgb[i + 1] << 8 | png.rgb[i + 2];
    auto it = index_of.find(rgb);
    indices.push_back(it == index_of.end() ? -1 : it->second);
  }
  return indices;
}

std::string picture(const std::string& dir, unsigned n) {
  char name[16];
  std::snprintf(name, sizeof name, "%06u.png", n);
  return dir + name;
}

unsigned pictures_in(const std::string& dir) {
  unsigned n = 0;
  while (fs::exists(picture(dir, n + 1))) ++n;
  return n;
}

// The second a stripes frame shows (its white stripe), -1 when it shows
// no single stripe.
int stripe_second(const std::vector<int>& page) {
  int first = -1, count = 0;
  for (int x = 0; x < 240; ++x)
    if (page[80 * 240 + x] == CUBE_COLOURS - 1) {
      if (first < 0) first = x;
      ++count;
    }
  return count == STRIPE_WIDTH && first % STRIPE_WIDTH == 0 ? first / STRIPE_WIDTH : -1;
}

// Console writes and reads from a --trace file: the address of each
// request, and the first data word that followed it.
struct ConsoleAccess {
  char kind;  // 'w' write, 'r' read
  std::uint32_t address, bytes, first_word;
};

std::uint32_t le32_hex(const std::string& hex, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint32_t>(std::stoul(hex.substr(at + 2 * i, 2), nullptr, 16));
  return v;
}

std::vector<ConsoleAccess> console_accesses(const std::string& trace_path) {
  std::vector<ConsoleAccess> list;
  std::istringstream in(text_of(trace_path));
  bool pending = false;
  for (std::string line; std::getline(in, line);) {
    // A request record: "cmd 0004", the code, the address, the byte count.
    if (line.rfind("cmd 0004", 0) == 0 && line.size() >= 8 + 24) {
      const std::uint32_t code = le32_hex(line, 8);
      if (code != REQ_MEM_WRITE && code != REQ_MEM_READ) continue;
      list.push_back({code == REQ_MEM_WRITE ? 'w' : 'r', le32_hex(line, 16), le32_hex(line, 24), 0});
      pending = true;
    } else if (pending && (line.rfind("out ", 0) == 0 || line.rfind("in ", 0) == 0)) {
      const std::size_t at = line.find(' ') + 1;
      if (line.size() >= at + 8) list.back().first_word = le32_hex(line, at);
      pending = false;
    }
  }
  return list;
}

const std::string HEADLESS = "--sim=";

TEST(VtsStream, StillPictureReachesBothPagesAsItsConversion) {
  const VtsClips& clips = vts_clips();
  const std::string dir = scratch("vts_still");
  // Seconds: 100 read once, 101 starts the stream, 104 ends it.
  VtsRun r({"--video=plain", "--trace", dir + "trace.txt", HEADLESS + "keys=b@4,screens=" + dir, "vts", clips.still},
           {100, 100, 101, 104});
  ASSERT_EQ(r.status, 0) << r.err.str();

  // Three frames, then the two pages go on showing what they showed.
  ASSERT_EQ(pictures_in(dir), 4u) << "page 1 cleared, then a picture per frame";
  std::ostringstream quiet;
  Output con{quiet, quiet};
  FrameFormat format;
  ConsoleFrame expected{};
  convert_frame(ppm_as_dib(clips.still_picture), expected, format, con);
  for (unsigned n = 2; n <= 4; ++n) {
    const std::vector<int> page = page_indices(picture(dir, n));
    ASSERT_EQ(page.size(), expected.size());
    int wrong = 0, first_wrong = -1;
    for (std::size_t i = 0; i < page.size(); ++i)
      if (page[i] != expected[i] && wrong++ == 0) first_wrong = static_cast<int>(i);
    EXPECT_EQ(wrong, 0) << picture(dir, n) << ": first at x " << first_wrong % 240 << " y " << first_wrong / 240;
  }
  for (int i : page_indices(picture(dir, 1))) ASSERT_EQ(i, 0) << "page 1 starts black";

  // The tool's lines, in order; the frame source's five trace lines name
  // its own source file.
  const std::string out = r.out.str();
  const std::string before = "BG OFF \ni=216\nBG CLEAR\nBG MODE 4 \n";
  const std::size_t at = out.find(before);
  ASSERT_NE(at, std::string::npos) << out;
  std::istringstream lines(out.substr(at + before.size()));
  std::string line;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.rfind("dxplay.cpp:", 0), 0u) << line;
  }
  std::string rest((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rest, "biBitCount=24\nBMP_COLOR_B=3\n\ntime:3s\n  1.0000 fps\n307200 BPS\n9614 link words a frame\nBG CLEAR\n");
  ASSERT_GE(r.waits.size(), 3u);
  EXPECT_EQ(std::vector<int>(r.waits.end() - 3, r.waits.end()), (std::vector<int>{500, 1000, 1000}))
      << "the pause, then a second before and after closing";

  // On the link: layers off, palette, both pages cleared, page 1 shown;
  // then per frame a key read, a page and the switch to it; the clearing
  // at the end.
  std::vector<ConsoleAccess> want = {{'w', 0x04000000, 1, 0x0004},
                                     {'w', 0x05000000, 512, 0},
                                     {'w', 0x06000000, 81920, 0},
                                     {'w', 0x04000000, 1, 0x0414}};
  for (int frame = 0; frame < 3; ++frame) {
    want.push_back({'r', 0x04000130, 1, 0x3FF});
    want.push_back({'w', frame % 2 ? 0x0600A000u : 0x06000000u, 38400, 0});
    want.push_back({'w', 0x04000000, 1, frame % 2 ? 0x0414u : 0x0404u});
  }
  want.push_back({'r', 0x04000130, 1, 0x3FD});
  want.push_back({'w', 0x06000000, 81920, 0});
  std::vector<ConsoleAccess> seen = console_accesses(dir + "trace.txt");
  ASSERT_GE(seen.size(), want.size());
  seen.erase(seen.begin(), seen.end() - static_cast<std::ptrdiff_t>(want.size()));
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("access " + std::to_string(i));
    EXPECT_EQ(seen[i].kind, want[i].kind);
    EXPECT_EQ(seen[i].address, want[i].address);
    EXPECT_EQ(seen[i].bytes, want[i].bytes);
    if (want[i].address == 0x04000000 || want[i].kind == 'r') {
      EXPECT_EQ(seen[i].first_word & 0xFFFF, want[i].first_word);
    }
  }
  fs::remove_all(dir);
}

TEST(VtsStream, StreamEndedInItsFirstSecondShowsNoRates) {
  const VtsClips& clips = vts_clips();
  // The lone file name plays it as the vts command does.
  VtsRun r({"--video=plain", HEADLESS + "keys=b@3", clips.still}, {100, 101, 101});
  ASSERT_EQ(r.status, 0) << r.err.str();
  const std::string out = r.out.str();
  EXPECT_NE(out.find("BMP_COLOR_B=3\n\ntime:0s\n  0.0000 fps\n0 BPS\n9614 link words a frame\nBG CLEAR\n"), std::string::npos) << out;
  EXPECT_EQ(r.err.str(), "");
}

// Under video-clock=hardware the figures count the console's seconds, which
// the wall clock (held at one second here) has no part in; a stop asked at a
// frame's end (the user's Ctrl-C) ends the stream as B does, figures and
// all, with status 0.
TEST(VtsStream, FiguresOnTheHardwareClockAndAStopAskedAtAnyFrame) {
  const VtsClips& clips = vts_clips();
  struct Case {
    const char* name;
    std::string sim;
    int stop_after;  // stop asked at the n-th frame's end; 0: never, B ends it
  };
  const Case cases[] = {
      {"B after 12 frames", HEADLESS + "video-clock=hardware,keys=b@13", 0},
      {"stop after 12 frames, hardware clock", HEADLESS + "video-clock=hardware", 12},
      {"stop after 5 frames, host clock", HEADLESS, 5},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    std::ostringstream out, err;
    RunEnv env{out, err, {}, [](int) {}};
    env.video_outputs = MediaOutputs{"null", "null"};
    // The wall clock: 100 then 101 for ever (no second passes in the stream).
    int reads = 0;
    env.clock = [&reads] { return std::time_t(reads++ == 0 ? 100 : 101); };
    int asked = 0;
    // The first ask comes before the first frame.
    if (tc.stop_after > 0) env.interrupted = [&] { return ++asked > tc.stop_after; };
    const int status = run({"--video=plain", tc.sim, "vts", clips.stripes}, env);
    ASSERT_EQ(status, 0) << err.str();
    const std::string text = out.str();
    const std::optional<StreamFigures> m = stream_figures(text);
    ASSERT_TRUE(m) << text;
    const long seconds = m->seconds;
    if (tc.sim.find("hardware") != std::string::npos) {
      // Twelve whole frames take about 2 s of the console's time.
      EXPECT_GE(seconds, 1);
      EXPECT_LE(seconds, 4);
      // The bring-up asks the stop too: the stream sent at most that many.
      const long frames = std::lround(std::stod(m->fps) * static_cast<double>(seconds));
      if (tc.stop_after == 0) {
        EXPECT_EQ(frames, 12);
      } else {
        EXPECT_LE(frames, tc.stop_after);
        EXPECT_GE(frames, tc.stop_after - 3);
      }
      EXPECT_EQ(m->fps, strprintf("%8.4f", static_cast<double>(frames) / static_cast<double>(seconds)));
      EXPECT_EQ(m->bps, std::to_string(frames * 307200 / seconds));
    }
    EXPECT_NE(text.find("BG CLEAR\n", m->at), std::string::npos);
    EXPECT_EQ(err.str(), "");
  }
}

// Keypad actions on a paused stream: the picture tells the position.
TEST(VtsStream, KeysSeekPausedPlaybackAndShowTheNewPlaceAtOnce) {
  const VtsClips& clips = vts_clips();
  const std::string dir = scratch("vts_seek");
  // Start pauses; L goes back 15 s, to the start of the file; Select, Up
  // and Down do nothing; R goes 15 s on; a held Right 5 s per frame; L and
  // Left back; A with B together does nothing, and the stream goes on to
  // the B alone.
  VtsRun r({HEADLESS + "keys=start@1,l@2,select@3,up@4,down@5,r@6,right@7-9,l@10,left@11,a+b@12,b@14,screens=" + dir,
            "vts", clips.stripes});
  ASSERT_EQ(r.status, 0) << r.err.str();
  // Frame n's picture (n from 1) is picture n + 1. Each frame shows the
  // key frame at the position plus 750 ms.
  const int seconds[] = {0, 0, 0, 0, 0, 15, 20, 25, 30, 15, 10, 10, 10};
  ASSERT_EQ(pictures_in(dir), 1u + std::size(seconds)) << r.out.str();
  for (unsigned n = 1; n <= std::size(seconds); ++n)
    EXPECT_EQ(stripe_second(page_indices(picture(dir, n + 1))), seconds[n - 1]) << "frame " << n;
  fs::remove_all(dir);
}

// The same keys and pictures on the emulator library's console: its keypad
// register and its video memory, through the same agent.
TEST(VtsStream, KeysAndPicturesOnTheEmulatorLibrarysConsole) {
  const VtsClips& clips = vts_clips();
  const std::string dir = scratch("vts_seek_mgba");
  VtsRun r({HEADLESS + "core=mgba,keys=start@1,l@2,r@3,right@4-5,b@6,screens=" + dir, "vts", clips.stripes});
  ASSERT_EQ(r.status, 0) << r.err.str();
  EXPECT_EQ(r.err.str(), "");
  const int seconds[] = {0, 0, 15, 20, 25};
  ASSERT_EQ(pictures_in(dir), 1u + std::size(seconds)) << r.out.str();
  for (unsigned n = 1; n <= std::size(seconds); ++n)
    EXPECT_EQ(stripe_second(page_indices(picture(dir, n + 1))), seconds[n - 1]) << "frame " << n;
  fs::remove_all(dir);
}

// The stripe seconds the frames show, each once in the order shown (the
// cleared page left out), the frames each picture stayed, and how many
// frames there were.
struct Shown {
  std::vector<int> seconds;
  std::vector<std::vector<int>> pages;
  std::vector<unsigned> runs;
  unsigned frames = 0;
};

Shown shown_in(const std::string& dir) {
  Shown s;
  s.frames = pictures_in(dir) - 1;
  for (unsigned n = 2; n <= s.frames + 1; ++n) {
    std::vector<int> page = page_indices(picture(dir, n));
    if (!s.pages.empty() && page == s.pages.back()) {
      ++s.runs.back();
      continue;
    }
    s.runs.push_back(1);
    s.seconds.push_back(stripe_second(page));
    s.pages.push_back(std::move(page));
  }
  return s;
}

// With playback on the console's hardware time the pictures depend on the
// simulated link alone: the whole-frame stream and the changes show the
// same pictures in the same order, a slower link clock reaches further
// into the clip in the same number of frames, and a run repeats exactly.
TEST(VtsStream, PlaybackOnTheHardwareClockShowsTheSamePicturesAtTheSameMoments) {
  const VtsClips& clips = vts_clips();
  auto stream = [&](const std::string& name, const std::string& video, const std::string& sim) {
    const std::string dir = scratch(name);
    VtsRun r({video, HEADLESS + "video-clock=hardware," + sim + ",screens=" + dir, "vts", clips.stripes});
    EXPECT_EQ(r.status, 0) << name << ": " << r.err.str();
    Shown s = shown_in(dir);
    fs::remove_all(dir);
    return s;
  };
  // Twelve whole frames take about 2 s at 2 MHz and 4 s at 1 MHz; 300
  // frames as changes cover less than 1.5 s.
  const Shown plain = stream("vts_hw_plain", "--video=plain", "keys=b@13");
  const Shown slow = stream("vts_hw_slow", "--video=plain", "link-clock=1000000,keys=b@13");
  const Shown changes = stream("vts_hw_changes", "--video=changes", "keys=b@301");
  const Shown again = stream("vts_hw_again", "--video=changes", "keys=b@301");

  for (const Shown* s : {&plain, &slow, &changes}) {
    ASSERT_GE(s->seconds.size(), 2u);
    for (std::size_t i = 0; i < s->seconds.size(); ++i) EXPECT_EQ(s->seconds[i], static_cast<int>(i));
  }
  EXPECT_EQ(plain.frames, 12u);
  EXPECT_GE(plain.seconds.back(), 2);
  EXPECT_GE(slow.seconds.back(), plain.seconds.back() + 2) << "the position follows the simulated link";
  EXPECT_EQ(changes.frames, 300u);
  EXPECT_LT(changes.seconds.size(), plain.seconds.size());
  for (std::size_t i = 0; i < changes.pages.size(); ++i) EXPECT_EQ(changes.pages[i], plain.pages[i]) << "picture " << i;
  EXPECT_EQ(again.frames, changes.frames);
  EXPECT_EQ(again.pages, changes.pages);
  EXPECT_EQ(again.runs, changes.runs) << "each picture for the same frames";
}

TEST(VtsStream, StartHoldsThePictureUntilPressedAgain) {
  const VtsClips& clips = vts_clips();
  const std::string dir = scratch("vts_pause");
  // Start pauses, L goes to 0:00; A's half-second (full screen) passes
  // while paused; Start runs playback again and its half second passes.
  VtsRun r({HEADLESS + "keys=start@1,l@2,a@3,start@5,b@8,screens=" + dir, "vts", clips.stripes},
           {100, 101, 101}, true);
  ASSERT_EQ(r.status, 0) << r.err.str();
  ASSERT_EQ(pictures_in(dir), 8u);
  const std::vector<int> paused = page_indices(picture(dir, 3));
  EXPECT_EQ(stripe_second(paused), 0);
  for (unsigned n = 2; n <= 5; ++n)
    EXPECT_EQ(page_indices(picture(dir, n + 1)), paused) << "frame " << n << " while paused";
  // Frame 5 was chosen before Start; 6 and 7 at least half a second later.
  for (unsigned n = 6; n <= 7; ++n) EXPECT_GE(stripe_second(page_indices(picture(dir, n + 1))), 1) << "frame " << n;
  fs::remove_all(dir);
}

TEST(VtsStream, MissingFileLeavesTheScreenBlackInMode4) {
  const std::string dir = scratch("vts_missing");
  VtsRun r({"--trace", dir + "trace.txt", HEADLESS + "screens=" + dir, "vts", dir + "no-such-clip.avi"});
  EXPECT_EQ(r.status, 255);
  const std::string out = r.out.str();
  const std::string tail = "BG MODE 4 \n";
  const std::size_t at = out.find(tail);
  ASSERT_NE(at, std::string::npos) << out;
  std::istringstream lines(out.substr(at + tail.size()));
  std::string trace, error, more;
  std::getline(lines, trace);
  std::getline(lines, error);
  EXPECT_EQ(trace.rfind("dxplay.cpp:", 0), 0u) << out;
  EXPECT_EQ(error, "dsplay error") << out;
  EXPECT_FALSE(std::getline(lines, more)) << "no statistics: " << out;
  // One line of our own saying why.
  const std::string err = r.err.str();
  EXPECT_EQ(err.rfind("kartex: " + dir + "no-such-clip.avi: ", 0), 0u) << err;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
  // Page 1, cleared, is what the screen shows; the last console write set
  // mode 4 with background 2 and page 1.
  ASSERT_EQ(pictures_in(dir), 1u);
  for (int i : page_indices(picture(dir, 1))) ASSERT_EQ(i, 0);
  const std::vector<ConsoleAccess> seen = console_accesses(dir + "trace.txt");
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().address, 0x04000000u);
  EXPECT_EQ(seen.back().first_word & 0xFFFF, 0x0414u);
  fs::remove_all(dir);
}

TEST(VtsStream, UnpluggedCableEndsTheStreamWithOneLine) {
  const VtsClips& clips = vts_clips();
  const std::string dir = scratch("vts_unplug");
  // Set-up moves about 20,650 link words and a frame about 9,613: word
  // 40,000 falls in the third frame's page. B comes far later.
  VtsRun r({"--video=plain", "--timeout=5", HEADLESS + "fault=unplug@40000,keys=b@40,screens=" + dir, "vts", clips.still});
  EXPECT_EQ(r.status, 255);
  std::vector<std::string> ours;
  std::istringstream err(r.err.str());
  for (std::string line; std::getline(err, line);)
    if (line.rfind("sim: ", 0) != 0) ours.push_back(line);
  ASSERT_EQ(ours.size(), 1u) << r.err.str();
  EXPECT_EQ(ours[0].rfind("kartex: ", 0), 0u) << ours[0];
  const std::string out = r.out.str();
  EXPECT_EQ(out.find("time:"), std::string::npos) << out;
  EXPECT_EQ(pictures_in(dir), 3u) << "page 1 cleared and two whole frames";
  EXPECT_TRUE(r.waits.empty() || r.waits.back() != 1000) << "no end-of-stream waits";
  fs::remove_all(dir);
}

// The README and --help describe the command and its keys in the same
// words (line breaks and Markdown quotes aside).
TEST(VtsStream, HelpAndReadmeUseTheSameWords) {
  auto words = [](const std::string& text) {
    std::string flat;
    for (char c : text) {
      if (c == '`') continue;
      const bool space = c == ' ' || c == '\n';
      if (space && (flat.empty() || flat.back() == ' ')) continue;
      flat += space ? ' ' : c;
    }
    return flat;
  };
  std::ostringstream help;
  print_help(help);
  const std::string want = words(VTS_HELP);
  EXPECT_NE(words(help.str()).find(want), std::string::npos);
  EXPECT_NE(words(text_of(KARTEX_README)).find(want), std::string::npos);
  EXPECT_NE(help.str().find("kartex vts avi_file\n"), std::string::npos);
  EXPECT_NE(help.str().find("kartex avi_file\n"), std::string::npos);
}

}  // namespace
}  // namespace kartex::test
