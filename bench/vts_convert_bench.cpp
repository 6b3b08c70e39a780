// Frame conversion on the host: a grabbed image scaled to 240 x 160 and
// reduced to the palette cube. The link carries a page in about 0.15 s at a
// 2 MHz clock, so conversion must stay far below that.

#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "common/output.h"
#include "vts/frame_convert.h"

namespace kartex {
namespace {

// A 24-bit bottom-up image with a busy pattern, so that every pixel's
// levels differ from its neighbours'.
std::vector<std::uint8_t> test_image(int width, int height) {
  const int stride = (width * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> image(BMP_INFO_HEADER_SIZE + static_cast<std::size_t>(stride) * height);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put32(0, BMP_INFO_HEADER_SIZE);
  put32(4, static_cast<std::uint32_t>(width));
  put32(8, static_cast<std::uint32_t>(height));
  image[12] = 1;
  image[14] = 24;
  put32(20, static_cast<std::uint32_t>(stride * height));
  std::uint32_t x = 1;
  for (std::size_t i = BMP_INFO_HEADER_SIZE; i < image.size(); ++i) {
    x = x * 1664525u + 1013904223u;
    image[i] = static_cast<std::uint8_t>(x >> 24);
  }
  return image;
}

void BM_ConvertFrame(benchmark::State& state) {
  const auto image = test_image(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::ostringstream out, err;
  Output con{out, err};
  FrameFormat format;
  ConsoleFrame frame{};
  for (auto _ : state) {
    convert_frame(image, frame, format, con);
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ConvertFrame)->Args({640, 360})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kartex
