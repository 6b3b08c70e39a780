#pragma once
// Palette-indexed pixels to the console's 8x8 character tiles (see
// tile_convert.cpp for the layout).

#include <cstdint>
#include <vector>

namespace kartex {

// False if bpp is not 4 or 8, a side is not a whole number of tiles, or
// fewer than width*height pixels came. At 4 bits only the low nibble of an
// index counts.
inline bool to_tiles(const std::vector<std::uint8_t>& pixels, unsigned width, unsigned height, unsigned bpp,
                     std::vector<std::uint8_t>& tiles) {
  if ((bpp != 4 && bpp != 8) || width == 0 || height == 0 || width % 8 || height % 8 ||
      pixels.size() < static_cast<std::size_t>(width) * height)
    return false;
  tiles.clear();
  for (unsigned ty = 0; ty < height; ty += 8)
    for (unsigned tx = 0; tx < width; tx += 8)
      for (unsigned y = ty; y < ty + 8; ++y)
        for (unsigned x = tx; x < tx + 8; x += (bpp == 4 ? 2 : 1)) {
          const std::uint8_t left = pixels[static_cast<std::size_t>(y) * width + x];
          if (bpp == 8) {
            tiles.push_back(left);
          } else {
            const std::uint8_t right = pixels[static_cast<std::size_t>(y) * width + x + 1];
            tiles.push_back(static_cast<std::uint8_t>((left & 0x0F) | (right & 0x0F) << 4));
          }
        }
  return true;
}

}  // namespace kartex
