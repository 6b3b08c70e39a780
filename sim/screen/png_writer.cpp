#include "sim/screen/png_writer.h"

#include <png.h>
#include <zlib.h>

#include <array>
#include <csetjmp>
#include <fstream>

#include "common/failure.h"

namespace kartex {

namespace {

void append(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void no_flush(png_structp) {}

// libpng reports errors by longjmp: everything with a destructor lives in
// the caller, so the jump skips none.
bool encode_rgb(png_bytep* rows, std::vector<std::uint8_t>* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, append, no_flush);
  // A picture is written at every page switch with screens=DIR: speed
  // matters more than size.
  png_set_compression_level(png, Z_BEST_SPEED);
  png_set_IHDR(png, info, SCREEN_W, SCREEN_H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(png, info, rows);
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::uint32_t chunk_crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
  // zlib's crc32_z: the Unicorn library's own crc32 would take the name.
  return static_cast<std::uint32_t>(::crc32_z(crc, bytes.data(), bytes.size()));
}

std::uint32_t zlib_adler32(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(::adler32(1, bytes.data(), static_cast<uInt>(bytes.size())));
}

std::vector<std::uint8_t> encode_png(const Screen& screen) {
  std::vector<std::uint8_t> rgb = screen.rgb;
  std::array<png_bytep, SCREEN_H> rows{};
  for (int y = 0; y < SCREEN_H; ++y) rows[y] = rgb.data() + static_cast<std::size_t>(y) * SCREEN_W * 3;
  std::vector<std::uint8_t> png;
  png.reserve(rgb.size() / 4);
  if (!encode_rgb(rows.data(), &png)) fail("cannot encode the screen picture as PNG");
  return png;
}

void write_png(const std::string& path, const Screen& screen) {
  const std::vector<std::uint8_t> png = encode_png(screen);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  if (!out) fail("cannot write the screen picture " + path);
}

}  // namespace kartex
