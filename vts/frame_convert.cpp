#include "vts/frame_convert.h"

#include "common/output.h"
#include "vts/cube_palette.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

// BITMAPINFOHEADER fields, little-endian.
constexpr std::size_t BI_WIDTH = 4, BI_HEIGHT = 8, BI_BIT_COUNT = 14, BI_SIZE_IMAGE = 20;

std::int32_t le32_at(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
                                   static_cast<std::uint32_t>(b[at + 2]) << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

int le16_at(std::span<const std::uint8_t> b, std::size_t at) { return b[at] | b[at + 1] << 8; }

// Bytes per pixel for a depth we decode; 0 for any other.
int bytes_per_pixel(int bit_count) { return bit_count == 24 ? 3 : bit_count == 32 ? 4 : 0; }

void set_bytes_per_pixel(FrameFormat& format, int bit_count) {
  if (int b = bytes_per_pixel(bit_count)) format.BMP_COLOR_B = b;
}

}  // namespace

int convert_frame(std::span<const std::uint8_t> image, ConsoleFrame& out, FrameFormat& format,
                  Output& con) {
  // Until a picture has been shown the screen is black; after that a frame
  // that cannot be shown leaves the last good picture in `out`.
  const auto no_picture = [&] {
    if (!format.shown) out.fill(0);
    return 0;
  };
  if (image.size() < BMP_INFO_HEADER_SIZE) return no_picture();
  const std::int64_t width = le32_at(image, BI_WIDTH);
  const std::int64_t height = le32_at(image, BI_HEIGHT);
  const int bit_count = le16_at(image, BI_BIT_COUNT);
  // A header with no picture at all (the zeroed buffer of a grab that has
  // not succeeded yet) says nothing about the grabbed images' format.
  if (width == 0 && height == 0 && bit_count == 0) return no_picture();

  // No depth known yet: the first frame of a depth we decode gives it, so
  // that an undecodable first frame cannot leave every later one black.
  if (le32_at(image, BI_SIZE_IMAGE) == 0 || format.BMP_COLOR_B == 0) set_bytes_per_pixel(format, bit_count);
  if (!bytes_per_pixel(bit_count) && !format.depth_refused) {
    con.print(LINE_CANT_DECODE_BITS, bit_count);
    format.depth_refused = true;
  }
  if (!format.format_reported) {
    set_bytes_per_pixel(format, bit_count);
    con.print(LINE_BIT_COUNT, bit_count);
    con.print(LINE_BMP_COLOR_B, format.BMP_COLOR_B);
    format.format_reported = true;
  }

  const int bpp = format.BMP_COLOR_B;
  if (!bytes_per_pixel(bit_count) || (bpp != 3 && bpp != 4) || width <= 0 || height == 0) return no_picture();
  const std::int64_t rows = height < 0 ? -height : height;
  // Each row is padded to a multiple of 4 bytes.
  const std::int64_t stride = (width * bpp + 3) / 4 * 4;
  const std::span<const std::uint8_t> pixels = image.subspan(BMP_INFO_HEADER_SIZE);
  const auto available = static_cast<std::int64_t>(pixels.size());
  if (stride > available || rows > available / stride) return no_picture();

  std::array<std::int64_t, CONSOLE_W> column_at{};
  for (int x = 0; x < CONSOLE_W; ++x) column_at[x] = x * width / CONSOLE_W * bpp;

  std::uint8_t* dst = out.data();
  for (int y = 0; y < CONSOLE_H; ++y) {
    const std::int64_t picture_row = y * rows / CONSOLE_H;  // 0 = the picture's top
    // Bottom-up rows keep the picture's top last in memory.
    const std::int64_t memory_row = height > 0 ? rows - 1 - picture_row : picture_row;
    const std::uint8_t* row = pixels.data() + memory_row * stride;
    for (int x = 0; x < CONSOLE_W; ++x) {
      const std::uint8_t* p = row + column_at[x];
      *dst++ = static_cast<std::uint8_t>(dither_to_cube(p[2], p[1], p[0], x, y));
    }
  }
  format.shown = true;
  return 0;
}

}  // namespace kartex
