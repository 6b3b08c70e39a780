#include "agent/splash/splash_encode.h"

namespace kartex {

std::vector<std::uint8_t> splash_palette_bytes(const SplashPicture& picture) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(SPLASH_PALETTE_SIZE);
  for (std::uint16_t colour : picture.palette) {
    bytes.push_back(static_cast<std::uint8_t>(colour & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(colour >> 8));
  }
  return bytes;
}

std::vector<std::uint8_t> splash_tile_bytes(const SplashPicture& picture) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(SPLASH_TILES_SIZE);
  for (int tile_row = 0; tile_row < SPLASH_TILES_HIGH; ++tile_row)
    for (int tile_col = 0; tile_col < SPLASH_TILES_WIDE; ++tile_col)
      for (int y = 0; y < SPLASH_TILE_SIZE; ++y)
        for (int x = 0; x < SPLASH_TILE_SIZE; ++x)
          bytes.push_back(picture.at(tile_col * SPLASH_TILE_SIZE + x, tile_row * SPLASH_TILE_SIZE + y));
  return bytes;
}

}  // namespace kartex
