#pragma once
// Reads a PNG back with libpng, as an image viewer would, for comparing a
// written picture with the screen it came from.

#include <png.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kartex::test {

struct DecodedPng {
  bool ok = false;
  std::string error;
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // 8-bit R, G, B per pixel, rows top first
};

inline DecodedPng decode_png(const std::vector<std::uint8_t>& bytes) {
  DecodedPng out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    out.error = image.message;
    return out;
  }
  image.format = PNG_FORMAT_RGB;
  out.width = image.width;
  out.height = image.height;
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
    out.error = image.message;
    png_image_free(&image);
    return out;
  }
  out.ok = true;
  return out;
}

inline DecodedPng decode_png_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {false, "cannot open " + path, 0, 0, {}};
  return decode_png(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

}  // namespace kartex::test
