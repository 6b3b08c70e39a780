#pragma once
// The splash picture the agent shows while it loads: drawn on the host at
// build time, carried in the agent image as a palette and 8 x 8 tiles.

#include <array>
#include <cstdint>

#include "agent/splash/splash_format.h"

namespace kartex {

// Frame of background colour around the drawing, in pixels
inline constexpr int SPLASH_BORDER = 4;

// Colour indexes of the drawing; the gradient takes 0 to SPLASH_GRADIENT_COLOURS - 1
inline constexpr int SPLASH_GRADIENT_COLOURS = 128;
inline constexpr std::uint8_t SPLASH_TEXT = 128;
inline constexpr std::uint8_t SPLASH_SHADOW = 129;

struct SplashPicture {
  // 15-bit colours: red in bits 0-4, green 5-9, blue 10-14
  std::array<std::uint16_t, SPLASH_COLOURS> palette{};
  // Colour index of each pixel, rows top to bottom
  std::array<std::uint8_t, SPLASH_WIDTH * SPLASH_HEIGHT> pixels{};

  std::uint8_t at(int x, int y) const { return pixels[y * SPLASH_WIDTH + x]; }
};

// The word "kartex" with a drop shadow over a horizontal gradient.
SplashPicture splash_draw();

}  // namespace kartex
