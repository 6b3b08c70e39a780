#pragma once
// One grabbed host image (a BITMAPINFOHEADER followed by its pixel rows)
// turned into a mode-4 page: scaled to 240 x 160 by nearest neighbour on
// each axis and reduced to the palette cube with the ordered dither.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "vts/gba_video.h"

namespace kartex {

struct Output;

// The pixel rows start right after the 40-byte header; images of these
// depths carry no colour table.
constexpr std::size_t BMP_INFO_HEADER_SIZE = 40;

// 240 x 160 palette indices, row-major from the top-left.
using ConsoleFrame = std::array<std::uint8_t, CONSOLE_PAGE_BYTES>;

// What conversion keeps for the whole run.
struct FrameFormat {
  // Bytes per pixel of the grabbed images: 3 (24-bit) or 4 (32-bit); 0
  // until a frame of one of those depths has said. Set by the first such
  // frame, and again by any frame whose biSizeImage is 0.
  int BMP_COLOR_B = 0;
  bool depth_refused = false;    // the unsupported-depth line was printed
  bool format_reported = false;  // the depth and bytes-per-pixel lines were printed
  bool shown = false;            // a frame has been converted into the page
};

// Converts `image` into `out`. Rows are bottom-up for a positive biHeight
// and top-down for a negative one; either way the picture's top lands on
// screen row 0. A frame that cannot be decoded (a depth other than 24 or
// 32 bits, no bytes per pixel known yet, or fewer bytes than its header
// promises) leaves `out` as it is, the last picture converted into it, or
// black before the first one. A zeroed header (no picture grabbed yet)
// prints nothing. Always returns 0.
int convert_frame(std::span<const std::uint8_t> image, ConsoleFrame& out, FrameFormat& format,
                  Output& con);

}  // namespace kartex
