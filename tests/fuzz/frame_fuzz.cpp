// Fuzz target: a grabbed video frame as the frame source hands it over (a
// BITMAPINFOHEADER and pixel rows), converted twice in one run as a stream
// converts its frames. Whatever the header claims, conversion must stay
// inside the image, and every pixel must name a colour of the palette
// cube; a crash or a sanitizer report is a bug.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <sstream>

#include "common/output.h"
#include "vts/cube_palette.h"
#include "vts/frame_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::ostringstream out, err;
  kartex::Output con{out, err};
  kartex::FrameFormat format;
  kartex::ConsoleFrame frame{};
  const std::span<const std::uint8_t> image(data, size);
  for (int pass = 0; pass < 2; ++pass) {
    kartex::convert_frame(image, frame, format, con);
    for (std::uint8_t index : frame)
      if (index >= kartex::CUBE_COLOURS) {
        std::fprintf(stderr, "frame fuzz: index %d is outside the palette cube\n", index);
        std::abort();
      }
  }
  return 0;
}
