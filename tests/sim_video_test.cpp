// Encoded video frames on the real agent in the simulator: a frame lands
// in its page and switches the display; damaged, hostile and oversized
// frames change nothing outside their page and leave the link in step.

#include <gtest/gtest.h>

#include "tests/support/sim_session.h"
#include "tests/support/video_ops.h"
#include "tests/support/video_scenes.h"
#include "vts/frame_encode.h"
#include "vts/gba_video.h"

namespace kartex::test {
namespace {

// Video RAM up to just past page 1, and the palette's last entries before it.
constexpr std::uint32_t AREA_START = MEM_PAL + 0x3C0;
constexpr std::uint32_t VRAM_CHECKED = VIDEO_PAGE1_OFFSET + VIDEO_PAGE_BYTES + 0x400;


std::vector<std::uint8_t> bytes_of(const std::vector<std::uint16_t>& ops) {
  std::vector<std::uint8_t> b;
  for (std::uint16_t h : ops) {
    b.push_back(static_cast<std::uint8_t>(h));
    b.push_back(static_cast<std::uint8_t>(h >> 8));
  }
  b.resize((b.size() + 3) / 4 * 4, 0);
  return b;
}

struct VideoConsole : AgentOnSim {
  VideoConsole() { start(); }

  void send_frame(int page, const std::vector<std::uint8_t>& payload, std::uint16_t display) {
    link.agent_request(REQ_VIDEO_FRAME, static_cast<std::uint32_t>(page), static_cast<std::uint32_t>(payload.size()),
                       display);
    link.write_words(payload);
  }
  std::vector<std::uint8_t> vram() { return mem_read(MEM_VRAM_PAGE0, VRAM_CHECKED); }
  std::vector<std::uint8_t> palette_tail() { return mem_read(AREA_START, 0x40); }
};

std::vector<std::uint8_t> pattern(std::size_t size) {
  std::vector<std::uint8_t> p(size);
  for (std::size_t i = 0; i < size; ++i) p[i] = static_cast<std::uint8_t>(i * 131 + 17);
  return p;
}

TEST(SimVideo, FrameLandsInItsPageAndSwitchesTheDisplay) {
  VideoConsole c;
  const ConsoleFrame first = scene_frame(Scene::Pan, 0), second = scene_frame(Scene::Pan, 1);
  const std::vector<std::uint8_t> black(VIDEO_PAGE_BYTES, 0);
  c.mem_write(MEM_VRAM_PAGE0, std::vector<std::uint8_t>(first.begin(), first.end()));
  c.mem_write(MEM_VRAM_PAGE1, black);
  // Page 1 from black to the next step of the pan, copying from page 0.
  c.send_frame(1, bytes_of(encode_frame(second, black, first)), SHOW_PAGE1);
  const std::vector<std::uint8_t> page1 = c.mem_read(MEM_VRAM_PAGE1, VIDEO_PAGE_BYTES);
  EXPECT_TRUE(std::equal(page1.begin(), page1.end(), second.begin()));
  const std::vector<std::uint8_t> page0 = c.mem_read(MEM_VRAM_PAGE0, VIDEO_PAGE_BYTES);
  EXPECT_TRUE(std::equal(page0.begin(), page0.end(), first.begin()));
  EXPECT_EQ(c.mem_read(REG_DISPCNT, 2)[0] | c.mem_read(REG_DISPCNT, 2)[1] << 8, SHOW_PAGE1);
}

TEST(SimVideo, HostileFramesChangeNothingOutsideTheirPage) {
  std::vector<std::uint16_t> oversized(2 * (VIDEO_FRAME_MAX_WORDS + 37), op(VIDEO_OP_FILL, 8191));
  const struct {
    const char* name;
    int page;
    std::vector<std::uint16_t> ops;
  } cases[] = {
      {"fill past the page end", 0, {op(0, 19000), op(VIDEO_OP_FILL, 300), 0x1111}},
      {"literal past the page end", 1, {op(0, 8191), op(0, 8191), op(0, 2817), op(VIDEO_OP_LITERAL, 2), 1, 2}},
      {"copy from past the other page", 0, {copy_other(8191), 38000}},
      {"fills of the largest count, more words than the buffer", 1, oversized},
      {"page number with high bits", 3, {op(VIDEO_OP_FILL, 8191), 0x2222, op(VIDEO_OP_FILL, 8191), 0x2222, op(VIDEO_OP_FILL, 2818), 0x2222}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VideoConsole console;
    console.mem_write(MEM_VRAM_PAGE0, pattern(VRAM_CHECKED));
    const std::vector<std::uint8_t> before = console.vram(), palette = console.palette_tail();
    console.send_frame(c.page, bytes_of(c.ops), SHOW_PAGE0);
    // The link is in step: the next request is served.
    const std::vector<std::uint8_t> after = console.vram();
    ASSERT_EQ(after.size(), before.size());
    const std::uint32_t first = (c.page & 1) ? VIDEO_PAGE1_OFFSET : 0, last = first + VIDEO_PAGE_BYTES;
    for (std::uint32_t i = 0; i < after.size(); ++i)
      if (i < first || i >= last) {
        ASSERT_EQ(after[i], before[i]) << "video RAM byte 0x" << std::hex << i;
      }
    EXPECT_EQ(console.palette_tail(), palette);
  }
}

}  // namespace
}  // namespace kartex::test
