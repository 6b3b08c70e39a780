#pragma once
// The stream's fixed palette: a 6 x 6 x 6 cube of evenly spaced red, green
// and blue levels, and the ordered dither that reduces a pixel to it. The
// palette never changes during a stream, so a frame costs only its index
// bytes on the link.

#include <array>
#include <cstdint>

#include "link/cable_link.h"

namespace kartex {

struct Output;

constexpr int CUBE_LEVELS = 6;
constexpr int CUBE_COLOURS = CUBE_LEVELS * CUBE_LEVELS * CUBE_LEVELS;  // 216
// Width of one level in 8-bit channel units.
constexpr int CUBE_STEP = 42;
// Added to every channel before quantisation: -8 where x + y is even, +8
// where it is odd, a checkerboard of two neighbouring levels.
constexpr int DITHER_OFFSET[2] = {-8, 8};

// 256 palette entries in the console's colour format; 216 to 255 stay 0.
using CubeTable = std::array<std::uint16_t, 256>;

// Entry 36 g + 6 r + b holds the colour of green level g, red level r and
// blue level b. Prints "i=216".
CubeTable build_cube_palette(Output& con);

// Builds the cube and writes all 256 entries to the background palette.
void upload_palette(CableLink& link, Output& con);

// Cube index 0-215 of one 8-bit colour at screen position (x, y).
inline int dither_to_cube(int red, int green, int blue, int x, int y) {
  const int offset = DITHER_OFFSET[(x + y) & 1];
  auto level = [offset](int channel) {
    const int v = (channel + offset) / CUBE_STEP;  // truncates toward zero
    return v < 0 ? 0 : v > CUBE_LEVELS - 1 ? CUBE_LEVELS - 1 : v;
  };
  return 36 * level(green) + 6 * level(red) + level(blue);
}

}  // namespace kartex
