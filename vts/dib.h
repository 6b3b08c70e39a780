#pragma once
// A grabbed picture as the frame converter takes it: a BITMAPINFOHEADER
// followed by bottom-up rows of blue, green, red bytes, each row padded to
// a multiple of 4 bytes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kartex {

struct DibLayout {
  int width = 0;
  int height = 0;
  int bytes_per_pixel = 3;  // 3: 24-bit, 4: 32-bit

  std::size_t stride() const;       // bytes per stored row, a multiple of 4
  std::size_t pixel_bytes() const;  // stride() * height
  std::size_t total_bytes() const;  // header and pixel rows
};

// A bitmap of `layout`: its header filled in, its pixels zero.
std::vector<std::uint8_t> make_dib(const DibLayout& layout);

// Stores a top-down picture (`rows` start `src_stride` bytes apart, each
// width * bytes_per_pixel bytes of B, G, R[, X]) into `dib` bottom-up, so
// that the picture's top row is the last row in memory. Row padding is left
// as it is.
void store_top_down(std::span<std::uint8_t> dib, const DibLayout& layout, const std::uint8_t* rows,
                    std::size_t src_stride);

}  // namespace kartex
