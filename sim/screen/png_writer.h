#pragma once
// A PNG of the console's screen: 8-bit RGB, written with libpng.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/screen/screen.h"

namespace kartex {

// The checksums a PNG stream carries (chunk CRC-32, zlib Adler-32).
std::uint32_t chunk_crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);
std::uint32_t zlib_adler32(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> encode_png(const Screen& screen);
// Throws Failure when the file cannot be written.
void write_png(const std::string& path, const Screen& screen);

}  // namespace kartex
