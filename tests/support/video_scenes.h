#pragma once
// Console frames of three kinds of picture, made the way the stream makes
// them (the cube and its checkerboard dither): a still picture with a
// square moving across it, a slow pan across a detailed picture, and
// noise, new in every pixel of every frame.

#include <cstdint>

#include "vts/cube_palette.h"
#include "vts/frame_convert.h"

namespace kartex::test {

enum class Scene { MovingObject, Pan, Noise };

// A detailed picture, any size: colours change every few pixels.
inline void detailed_rgb(int x, int y, int rgb[3]) {
  const std::uint32_t h = static_cast<std::uint32_t>(x / 3) * 2654435761u ^ static_cast<std::uint32_t>(y / 2) * 40503u;
  rgb[0] = static_cast<int>(h >> 8 & 255);
  rgb[1] = static_cast<int>((x * 3 + y) & 255);
  rgb[2] = static_cast<int>(h >> 20 & 255);
}

inline ConsoleFrame scene_frame(Scene scene, int n) {
  ConsoleFrame frame{};
  std::uint32_t noise = 12345u + static_cast<std::uint32_t>(n) * 7919u;
  for (int y = 0; y < CONSOLE_H; ++y)
    for (int x = 0; x < CONSOLE_W; ++x) {
      int rgb[3] = {0, 0, 0};
      switch (scene) {
        case Scene::MovingObject: {
          detailed_rgb(x, y, rgb);
          const int left = 10 + 3 * n, top = 40 + n;
          if (x >= left && x < left + 24 && y >= top && y < top + 24) rgb[0] = rgb[1] = rgb[2] = 250;
          break;
        }
        case Scene::Pan: detailed_rgb(x + n, y, rgb); break;
        case Scene::Noise:
          for (int& c : rgb) {
            noise = noise * 1103515245u + 12345u;
            c = static_cast<int>(noise >> 16 & 255);
          }
          break;
      }
      frame[static_cast<std::size_t>(y * CONSOLE_W + x)] =
          static_cast<std::uint8_t>(dither_to_cube(rgb[0], rgb[1], rgb[2], x, y));
    }
  return frame;
}

}  // namespace kartex::test
