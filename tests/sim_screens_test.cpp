// screens=DIR: a numbered picture at each switch of the page shown, and the
// keypad script as the agent's key reads see it.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "agent/agent_image.h"
#include "app/session.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "sim/screen/screen_recorder.h"
#include "sim/sim_pipes.h"
#include "tests/support/png_read.h"
#include "vts/console_memory.h"
#include "vts/cube_palette.h"

namespace kartex {
namespace {

namespace fs = std::filesystem;

std::string temp_dir(const std::string& name) {
  auto dir = fs::temp_directory_path() /
             ("kartex_screens_" + name + "_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  fs::remove_all(dir);
  return dir.string();
}

// A picture whose first pixel tells which call made it.
Screen marked(std::uint8_t mark) {
  Screen s;
  s.rgb[0] = mark;
  return s;
}

TEST(SimScreens, APictureAtEachSwitchOfThePageShown) {
  const std::string dir = temp_dir("recorder");
  ScreenRecorder rec(dir);
  const struct {
    std::uint16_t dispcnt;
    bool picture;
    const char* what;
  } steps[] = {
      {0x0080, false, "forced blank, mode 0: no pages"},
      {0x0004, false, "mode 4 page 0 appears: nothing switched yet"},
      {0x0004, false, "same page again"},
      {0x0414, true, "page 1 shown"},
      {0x0414, false, "still page 1"},
      {0x0404, true, "page 0 shown"},
      {0x0484, false, "forced blank on, same page"},
      {0x0494, true, "page bit flipped while blank"},
      {0x0403, false, "mode 3 has one page"},
      {0x0414, false, "back to mode 4: no switch seen"},
      {0x0405, true, "mode 5, page 0"},
      {0x0415, true, "mode 5, page 1"},
  };
  unsigned expected = 0;
  std::uint8_t mark = 0;
  for (const auto& s : steps) {
    ++mark;
    rec.observe(s.dispcnt, [&] { return marked(mark); });
    if (s.picture) {
      ++expected;
      const test::DecodedPng png = test::decode_png_file(rec.picture_path(expected));
      ASSERT_TRUE(png.ok) << s.what << ": " << png.error;
      EXPECT_EQ(png.rgb[0], mark) << s.what;
    }
    EXPECT_EQ(rec.pictures(), expected) << s.what;
  }
  EXPECT_EQ(expected, 5u);
  fs::remove_all(dir);
}

TEST(SimScreens, NumberedFromOneWithSixDigits) {
  const std::string dir = temp_dir("names");
  ScreenRecorder rec(dir + "/run");
  EXPECT_TRUE(fs::is_directory(dir + "/run")) << "made when missing";
  EXPECT_EQ(rec.picture_path(1), dir + "/run/000001.png");
  EXPECT_EQ(rec.picture_path(123456), dir + "/run/123456.png");
  fs::remove_all(dir);
}

// The display sequence of a video stream, on the real agent: layers off,
// palette, clear, page 1 shown, then two frames in turn.
TEST(SimScreens, StreamPagesAreKeptInOrder) {
  const std::string dir = temp_dir("stream");
  std::ostringstream report, out, err;
  Output con{out, err};
  {
    CableLink link([&] { return open_sim_cable(parse_sim_options("screens=" + dir), report, 5000); },
                   [](int) {});
    link.link_start();
    upload_program(link, agent_image());
    gba_write_reg(link, 0x04000000, 0x0004);
    upload_palette(link, con);
    gba_write_block(link, 0x06000000, std::vector<std::uint8_t>(81920, 0));
    gba_write_reg(link, 0x04000000, 0x0414);
    // Frame 0: left half red (cube entry 30), right half green (180), to
    // page 0; frame 1: all blue (5), to page 1.
    std::vector<std::uint8_t> frame(38400);
    for (int i = 0; i < 38400; ++i) frame[i] = i % 240 < 120 ? 30 : 180;
    gba_write_block(link, 0x06000000, frame);
    gba_write_reg(link, 0x04000000, 0x0404);
    gba_write_block(link, 0x0600A000, std::vector<std::uint8_t>(38400, 5));
    gba_write_reg(link, 0x04000000, 0x0414);
  }
  auto pixel = [](const test::DecodedPng& p, int x, int y) {
    const std::size_t i = (static_cast<std::size_t>(y) * 240 + x) * 3;
    return static_cast<std::uint32_t>(p.rgb[i]) << 16 | p.rgb[i + 1] << 8 | p.rgb[i + 2];
  };
  const struct {
    const char* file;
    std::uint32_t left, right;
  } pictures[] = {
      {"000001.png", 0x000000, 0x000000},  // page 1 shown, cleared
      {"000002.png", 0xFF0000, 0x00FF00},  // frame 0
      {"000003.png", 0x0000FF, 0x0000FF},  // frame 1
  };
  for (const auto& p : pictures) {
    const test::DecodedPng png = test::decode_png_file((fs::path(dir) / p.file).string());
    ASSERT_TRUE(png.ok) << p.file << ": " << png.error;
    ASSERT_EQ(png.width * png.height, 240u * 160u);
    for (int y : {0, 80, 159}) {
      EXPECT_EQ(pixel(png, 0, y), p.left) << p.file;
      EXPECT_EQ(pixel(png, 119, y), p.left) << p.file;
      EXPECT_EQ(pixel(png, 120, y), p.right) << p.file;
      EXPECT_EQ(pixel(png, 239, y), p.right) << p.file;
    }
  }
  EXPECT_FALSE(fs::exists(fs::path(dir) / "000004.png"));
  fs::remove_all(dir);
}

TEST(SimKeysOnAgent, KeyReadsThroughTheAgentFollowTheScript) {
  std::ostringstream report;
  CableLink link([&] { return open_sim_cable(parse_sim_options("keys=start@2,a+b@3-4,right@6"), report, 5000); },
                 [](int) {});
  link.link_start();
  upload_program(link, agent_image());
  // Held keys read as 0 bits: Start 0x008, A+B 0x003, Right 0x010.
  const std::uint32_t expected[] = {0x3FF, 0x3F7, 0x3FC, 0x3FC, 0x3FF, 0x3EF, 0x3FF};
  for (std::uint32_t want : expected) EXPECT_EQ(gba_read_word(link, 0x04000130) & 0x3FF, want);
}

}  // namespace
}  // namespace kartex
