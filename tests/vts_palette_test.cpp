// The stream's palette cube and the dither that picks a cube entry.

#include <gtest/gtest.h>

#include <sstream>

#include "common/output.h"
#include "vts/cube_palette.h"

namespace kartex {
namespace {

TEST(VtsPalette, CubeEntriesAndBlackTail) {
  std::ostringstream out, err;
  Output con{out, err};
  const CubeTable table = build_cube_palette(con);
  EXPECT_EQ(out.str(), "i=216\n");
  // Levels go to 5 bits through 8 bits: 0, 6, 12, 18, 24, 31.
  const struct {
    unsigned entry;
    std::uint16_t colour;
    const char* what;
  } cases[] = {
      {0, 0x0000, "black"},
      {5, 0x7C00, "blue level 5"},
      {30, 0x001F, "red level 5"},
      {180, 0x03E0, "green level 5"},
      {215, 0x7FFF, "white"},
      {43, 0x18C6, "grey level 1: 6 in every channel"},
      {86, 0x318C, "grey level 2: 12"},
      {129, 0x4A52, "grey level 3: 18 (not 19)"},
      {172, 0x6318, "grey level 4: 24 (not 25)"},
      {51, 0x48CC, "green 1 (6), red 2 (12), blue 3 (18)"},
      {1 * 36 + 4 * 6 + 0, 0x00D8, "green 1 (6), red 4 (24), blue 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(table[c.entry], c.colour) << c.entry << ": " << c.what;
  for (unsigned entry = 216; entry < 256; ++entry) EXPECT_EQ(table[entry], 0) << entry;
}

TEST(VtsDither, LevelBandsOfBothPhases) {
  // Level: first and last 8-bit value of its band where x + y is even
  // (offset -8) and where it is odd (offset +8).
  const struct {
    int level, even_low, even_high, odd_low, odd_high;
  } bands[] = {
      {0, 0, 49, 0, 33},       {1, 50, 91, 34, 75},     {2, 92, 133, 76, 117},
      {3, 134, 175, 118, 159}, {4, 176, 217, 160, 201}, {5, 218, 255, 202, 255},
  };
  for (const auto& b : bands) {
    SCOPED_TRACE("level " + std::to_string(b.level));
    for (int v : {b.even_low, b.even_high}) {
      // (0, 0), (3, 5) and (239, 159): x + y even.
      EXPECT_EQ(dither_to_cube(v, 0, 0, 0, 0), 6 * b.level) << "red " << v;
      EXPECT_EQ(dither_to_cube(0, v, 0, 3, 5), 36 * b.level) << "green " << v;
      EXPECT_EQ(dither_to_cube(0, 0, v, 239, 159), b.level) << "blue " << v;
    }
    for (int v : {b.odd_low, b.odd_high}) {
      // (1, 0), (0, 1) and (238, 159): x + y odd. Black channels stay at
      // level 0 with the +8 offset too.
      EXPECT_EQ(dither_to_cube(v, 0, 0, 1, 0), 6 * b.level) << "red " << v;
      EXPECT_EQ(dither_to_cube(0, v, 0, 0, 1), 36 * b.level) << "green " << v;
      EXPECT_EQ(dither_to_cube(0, 0, v, 238, 159), b.level) << "blue " << v;
    }
  }
}

TEST(VtsDither, GreysAndExtremes) {
  const struct {
    int r, g, b, even, odd;
  } cases[] = {
      {255, 255, 255, 215, 215}, {0, 0, 0, 0, 0}, {128, 128, 128, 86, 129},
      {255, 0, 0, 30, 30},       {0, 255, 0, 180, 180}, {0, 0, 255, 5, 5},
      {50, 100, 200, 36 * 2 + 6 * 1 + 4, 36 * 2 + 6 * 1 + 4},
      {49, 33, 201, 36 * 0 + 6 * 0 + 4, 36 * 0 + 6 * 1 + 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dither_to_cube(c.r, c.g, c.b, 10, 20), c.even) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(dither_to_cube(c.r, c.g, c.b, 11, 20), c.odd) << c.r << "," << c.g << "," << c.b;
  }
}

}  // namespace
}  // namespace kartex
