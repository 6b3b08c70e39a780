#pragma once
// The splash picture in the byte form the boot stage copies to the console.

#include <cstdint>
#include <vector>

#include "agent/splash/splash_picture.h"

namespace kartex {

// SPLASH_PALETTE_SIZE bytes: one little-endian halfword per colour.
std::vector<std::uint8_t> splash_palette_bytes(const SplashPicture& picture);

// SPLASH_TILES_SIZE bytes: 8 x 8 tiles of one byte per pixel, tiles in row
// order across the picture, pixels in row order within each tile.
std::vector<std::uint8_t> splash_tile_bytes(const SplashPicture& picture);

}  // namespace kartex
