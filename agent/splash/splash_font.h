#pragma once
// A 5 x 7 bitmap font with just the letters the splash picture spells.

#include <array>
#include <cstdint>

namespace kartex {

inline constexpr int GLYPH_WIDTH = 5;
inline constexpr int GLYPH_HEIGHT = 7;

// One row per byte, bit 4 is the leftmost pixel.
using Glyph = std::array<std::uint8_t, GLYPH_HEIGHT>;

// The glyph of c, or nullptr if the font lacks it.
const Glyph* splash_glyph(char c);

}  // namespace kartex
