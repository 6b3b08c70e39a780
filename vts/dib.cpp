#include "vts/dib.h"

#include <cstring>

#include "vts/frame_convert.h"

namespace kartex {

namespace {

void store16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void store32(std::uint8_t* p, std::uint32_t v) {
  store16(p, v);
  store16(p + 2, v >> 16);
}

}  // namespace

std::size_t DibLayout::stride() const {
  return (static_cast<std::size_t>(width) * bytes_per_pixel + 3) / 4 * 4;
}

std::size_t DibLayout::pixel_bytes() const { return stride() * static_cast<std::size_t>(height); }

std::size_t DibLayout::total_bytes() const { return BMP_INFO_HEADER_SIZE + pixel_bytes(); }

std::vector<std::uint8_t> make_dib(const DibLayout& layout) {
  std::vector<std::uint8_t> dib(layout.total_bytes(), 0);
  std::uint8_t* h = dib.data();
  store32(h + 0, BMP_INFO_HEADER_SIZE);                       // biSize
  store32(h + 4, static_cast<std::uint32_t>(layout.width));   // biWidth
  store32(h + 8, static_cast<std::uint32_t>(layout.height));  // biHeight > 0: bottom-up
  store16(h + 12, 1);                                         // biPlanes
  store16(h + 14, static_cast<std::uint32_t>(layout.bytes_per_pixel * 8));  // biBitCount
  store32(h + 16, 0);                                         // biCompression: BI_RGB
  store32(h + 20, static_cast<std::uint32_t>(layout.pixel_bytes()));  // biSizeImage
  // Resolution and colour-table fields stay 0: no colour table at these depths.
  return dib;
}

void store_top_down(std::span<std::uint8_t> dib, const DibLayout& layout, const std::uint8_t* rows,
                    std::size_t src_stride) {
  const std::size_t stride = layout.stride();
  const std::size_t row_bytes = static_cast<std::size_t>(layout.width) * layout.bytes_per_pixel;
  std::uint8_t* pixels = dib.data() + BMP_INFO_HEADER_SIZE;
  for (int y = 0; y < layout.height; ++y) {
    const std::size_t memory_row = static_cast<std::size_t>(layout.height - 1 - y);
    std::memcpy(pixels + memory_row * stride, rows + static_cast<std::size_t>(y) * src_stride, row_bytes);
  }
}

}  // namespace kartex
