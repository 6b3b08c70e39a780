// The console's picture from video memory and display registers, and the
// PNG it is saved as.

#include <gtest/gtest.h>

#include <cstring>

#include "sim/screen/png_writer.h"
#include "sim/screen/screen.h"
#include "tests/support/png_read.h"

namespace kartex {
namespace {

constexpr std::uint16_t RED = 0x001F, GREEN = 0x03E0, BLUE = 0x7C00, GREY = 0x294A;

struct Video {
  std::vector<std::uint8_t> palette = std::vector<std::uint8_t>(0x400);
  std::vector<std::uint8_t> vram = std::vector<std::uint8_t>(0x18000);
  VideoRegisters regs;

  void colour(unsigned index, std::uint16_t c) {
    palette[index * 2] = static_cast<std::uint8_t>(c);
    palette[index * 2 + 1] = static_cast<std::uint8_t>(c >> 8);
  }
  void half(std::uint32_t offset, std::uint16_t v) {
    vram[offset] = static_cast<std::uint8_t>(v);
    vram[offset + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  Screen render() const { return render_screen(regs, palette, vram); }
};

TEST(SimScreen, Mode3ShowsVramAsDirectColour) {
  Video v;
  v.half((20 * 240 + 10) * 2, RED);
  v.half((159 * 240 + 239) * 2, BLUE);
  v.regs.dispcnt = 0x0403;  // mode 3, BG2 on
  const Screen s = v.render();
  EXPECT_EQ(s.pixel(10, 20), 0xFF0000u);
  EXPECT_EQ(s.pixel(239, 159), 0x0000FFu);
  EXPECT_EQ(s.pixel(11, 20), 0x000000u);
  v.regs.dispcnt = 0x0003;  // BG2 off: backdrop only
  v.colour(0, GREY);
  EXPECT_EQ(v.render().pixel(10, 20), rgb_of(GREY));
}

TEST(SimScreen, Mode4ShowsTheSelectedPage) {
  Video v;
  v.colour(0, GREY);
  v.colour(1, GREEN);
  v.colour(2, BLUE);
  v.vram[5 * 240 + 5] = 1;
  v.vram[0xA000 + 5 * 240 + 5] = 2;
  for (auto [dispcnt, expected] : {std::pair<std::uint16_t, std::uint32_t>{0x0404, 0x00FF00},
                                   {0x0414, 0x0000FF}}) {
    v.regs.dispcnt = dispcnt;
    const Screen s = v.render();
    EXPECT_EQ(s.pixel(5, 5), expected) << std::hex << dispcnt;
    EXPECT_EQ(s.pixel(6, 5), rgb_of(GREY)) << "index 0 shows the backdrop";
  }
}

TEST(SimScreen, Mode0TextBackgroundsWithScrollAndPriority) {
  Video v;
  v.colour(0, GREY);
  v.colour(3, RED);
  v.colour(2 * 16 + 5, BLUE);
  // BG0: 256 colours, tiles at 0x06000000, map in screen block 31, tile 1
  // at map position (0, 0), every pixel colour 3.
  v.regs.bgcnt[0] = 0x1F80;
  v.half(31 * 0x800, 1);
  std::memset(&v.vram[64], 3, 64);
  v.regs.hofs[0] = 0x1FC;  // the picture starts 4 pixels right, 44 down
  v.regs.vofs[0] = 0x1D4;
  v.regs.dispcnt = 0x0100;
  Screen s = v.render();
  EXPECT_EQ(s.pixel(4, 44), 0xFF0000u);
  EXPECT_EQ(s.pixel(11, 51), 0xFF0000u);
  EXPECT_EQ(s.pixel(3, 44), rgb_of(GREY));
  EXPECT_EQ(s.pixel(12, 44), rgb_of(GREY));
  EXPECT_EQ(s.pixel(4, 52), rgb_of(GREY));

  // BG1: 16 colours, palette bank 2, horizontally flipped tile 2 of char
  // block 1 at (0,0) of screen block 30, only its left column coloured.
  v.regs.bgcnt[1] = static_cast<std::uint16_t>(0x1E04 | 0);  // priority 0
  v.half(30 * 0x800, static_cast<std::uint16_t>(0x2000 | 0x0400 | 2));
  for (int row = 0; row < 8; ++row) v.vram[0x4000 + 2 * 32 + row * 4] = 0x05;  // pixel x=0 -> index 5
  v.regs.dispcnt = 0x0300;
  v.regs.bgcnt[0] |= 1;  // BG0 behind BG1
  s = v.render();
  EXPECT_EQ(s.pixel(7, 0), 0x0000FFu) << "flipped: the left column shows at x=7";
  EXPECT_EQ(s.pixel(0, 0), rgb_of(GREY)) << "transparent 4-bit pixel";
  v.regs.bgcnt[0] &= ~1;  // both priority 0: BG0 wins
  v.regs.hofs[0] = 0;
  v.regs.vofs[0] = 0;
  s = v.render();
  EXPECT_EQ(s.pixel(7, 0), 0xFF0000u);

  v.regs.dispcnt |= 0x0080;  // forced blank
  EXPECT_EQ(v.render().pixel(7, 0), 0xFFFFFFu);
}

TEST(SimPng, ChecksumsMatchKnownValues) {
  const std::string check = "123456789";
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(check.data()), check.size());
  EXPECT_EQ(chunk_crc32(bytes), 0xCBF43926u);
  const std::string wiki = "Wikipedia";
  EXPECT_EQ(zlib_adler32({reinterpret_cast<const std::uint8_t*>(wiki.data()), wiki.size()}), 0x11E60398u);
}

TEST(SimPng, EncodesTheScreenAsValidChunks) {
  Video v;
  v.half((1 * 240 + 2) * 2, RED);
  v.regs.dispcnt = 0x0403;
  const Screen screen = v.render();
  const std::vector<std::uint8_t> png = encode_png(screen);
  const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_TRUE(std::equal(std::begin(signature), std::end(signature), png.begin()));

  auto be32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
  };
  std::vector<std::string> types;
  for (std::size_t at = 8; at < png.size();) {
    const std::uint32_t len = be32(at);
    const std::string type(png.begin() + at + 4, png.begin() + at + 8);
    if (types.empty() || types.back() != type) types.push_back(type);
    EXPECT_EQ(chunk_crc32({png.data() + at + 4, len + 4}), be32(at + 8 + len)) << type;
    if (type == "IHDR") {
      EXPECT_EQ(be32(at + 8), 240u);
      EXPECT_EQ(be32(at + 12), 160u);
      EXPECT_EQ(png[at + 16], 8);  // bit depth
      EXPECT_EQ(png[at + 17], 2);  // RGB
    }
    at += 12 + len;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

  // What a viewer decodes is the picture, pixel for pixel.
  const test::DecodedPng back = test::decode_png(png);
  ASSERT_TRUE(back.ok) << back.error;
  EXPECT_EQ(back.width, 240u);
  EXPECT_EQ(back.height, 160u);
  EXPECT_EQ(back.rgb, screen.rgb);
  const std::size_t red_at = (1 * 240 + 2) * 3;
  EXPECT_EQ(back.rgb[red_at], 0xFF);
  EXPECT_EQ(back.rgb[red_at + 1], 0x00);
  EXPECT_EQ(back.rgb[red_at - 3], 0x00);
}

TEST(SimPng, BusyPicturesDecodeToThemselves) {
  // Every pixel different from its neighbours, so that no filter or run
  // hides a wrong byte.
  Screen screen;
  std::uint32_t x = 12345;
  for (std::uint8_t& b : screen.rgb) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  const test::DecodedPng back = test::decode_png(encode_png(screen));
  ASSERT_TRUE(back.ok) << back.error;
  EXPECT_EQ(back.rgb, screen.rgb);
}

TEST(SimScreen, Mode5ShowsTheSelectedSmallPage) {
  Video v;
  v.colour(0, GREY);
  v.half((3 * 160 + 4) * 2, RED);
  v.half(0xA000 + (3 * 160 + 4) * 2, BLUE);
  v.half((127 * 160 + 159) * 2, GREEN);
  for (auto [dispcnt, expected] : {std::pair<std::uint16_t, std::uint32_t>{0x0405, 0xFF0000},
                                   {0x0415, 0x0000FF}}) {
    v.regs.dispcnt = dispcnt;
    const Screen s = v.render();
    EXPECT_EQ(s.pixel(4, 3), expected) << std::hex << dispcnt;
    EXPECT_EQ(s.pixel(160, 3), rgb_of(GREY)) << "right of the page: backdrop";
    EXPECT_EQ(s.pixel(4, 128), rgb_of(GREY)) << "below the page: backdrop";
  }
  v.regs.dispcnt = 0x0405;
  EXPECT_EQ(v.render().pixel(159, 127), 0x00FF00u);
}

}  // namespace
}  // namespace kartex
