// Frame conversion: the image header, row order and padding, the
// nearest-neighbour picks, the dither, and the once-per-run lines.

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "common/output.h"
#include "vts/frame_convert.h"

namespace kartex {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Channel value inside level L's band at both dither phases (the bands of
// the two phases overlap on 42 L + 10 .. 42 L + 33).
int centre(int level) { return 42 * level + 21; }

// A picture built pixel by pixel from a cube index, so that the screen
// shows that index whatever the dither phase.
struct Picture {
  int width, height, bits;
  bool top_down = false;
  std::uint8_t pad = 0xEE;  // filler of the row padding and of a 32-bit pixel's fourth byte
  std::uint32_t size_image = 1;  // non-zero unless a test asks for 0

  int bpp() const { return bits / 8; }
  int stride() const { return (width * bpp() + 3) / 4 * 4; }

  // index_at(column, row in memory)
  template <class F>
  Bytes image(F index_at) const {
    Bytes b(40 + static_cast<std::size_t>(stride()) * height, pad);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    std::fill(b.begin(), b.begin() + 40, 0);
    put32(0, 40);
    put32(4, static_cast<std::uint32_t>(width));
    put32(8, static_cast<std::uint32_t>(top_down ? -height : height));
    b[12] = 1;
    b[14] = static_cast<std::uint8_t>(bits);
    put32(20, size_image);
    if (bpp() < 3) return b;  // other depths: the test fills the pixels itself
    for (int row = 0; row < height; ++row)
      for (int col = 0; col < width; ++col) {
        const int k = index_at(col, row);
        std::uint8_t* p = &b[40 + static_cast<std::size_t>(row) * stride() + col * bpp()];
        p[0] = static_cast<std::uint8_t>(centre(k % 6));        // blue
        p[1] = static_cast<std::uint8_t>(centre(k / 36));       // green
        p[2] = static_cast<std::uint8_t>(centre(k / 6 % 6));    // red
      }
    return b;
  }
};

struct Conversion {
  std::ostringstream out, err;
  Output con{out, err};
  FrameFormat format;
  ConsoleFrame frame{};
  ConsoleFrame convert(const Bytes& image) {
    frame.fill(0xAA);
    EXPECT_EQ(convert_frame(image, frame, format, con), 0);
    return frame;
  }
};

std::uint8_t at(const ConsoleFrame& f, int x, int y) { return f[y * 240 + x]; }

TEST(VtsConvert, NearestNeighbourPicksOf320x240) {
  const Picture pic{320, 240, 24};
  Conversion run;
  // Columns: each source column's index is its number mod 216.
  ConsoleFrame f = run.convert(pic.image([](int col, int) { return col % 216; }));
  const int columns[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {4, 5}, {5, 6}, {6, 8}, {7, 9},
                            {120, 160}, {239, 318}};
  for (auto [x, src] : columns)
    for (int y : {0, 77, 159}) EXPECT_EQ(at(f, x, y), src % 216) << "screen column " << x;
  // Rows: the index is the row's place in memory, bottom row first.
  f = run.convert(pic.image([](int, int row) { return row % 216; }));
  const int rows[][2] = {{0, 239}, {1, 238}, {2, 236}, {3, 235}, {80, 119}, {159, 1}};
  for (auto [y, memory_row] : rows)
    for (int x : {0, 100, 239}) EXPECT_EQ(at(f, x, y), memory_row % 216) << "screen row " << y;
}

TEST(VtsConvert, RowOrderPaddingAndDepth) {
  struct Case {
    const char* name;
    Picture pic;
    // screen (x, y) -> picture column and row counted from the picture's top
    int (*col)(int x);
    int (*top_row)(int y);
  };
  const Case cases[] = {
      {"240 x 160: one pixel each, top row last in memory", {240, 160, 24},
       [](int x) { return x; }, [](int y) { return y; }},
      {"10 x 5, 24-bit: 30-byte rows padded to 32", {10, 5, 24},
       [](int x) { return x / 24; }, [](int y) { return y / 32; }},
      {"241 x 161, 24-bit: 723-byte rows padded to 724", {241, 161, 24},
       [](int x) { return x * 241 / 240; }, [](int y) { return y * 161 / 160; }},
      {"33 x 7, 32-bit: fourth byte ignored", {33, 7, 32},
       [](int x) { return x * 33 / 240; }, [](int y) { return y * 7 / 160; }},
      {"top-down 10 x 5: first row in memory is the top", {10, 5, 24, true},
       [](int x) { return x / 24; }, [](int y) { return y / 32; }},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const Picture& p = tc.pic;
    // Index from the pixel's place in the picture (row 0 = top).
    auto index_of = [&](int col, int top_row) { return (col * 7 + top_row * 13) % 216; };
    const Bytes image = p.image([&](int col, int row) {
      return index_of(col, p.top_down ? row : p.height - 1 - row);
    });
    Conversion run;
    const ConsoleFrame f = run.convert(image);
    int wrong = 0;
    for (int y = 0; y < 160; ++y)
      for (int x = 0; x < 240; ++x)
        if (at(f, x, y) != index_of(tc.col(x), tc.top_row(y)) && ++wrong <= 5)
          ADD_FAILURE() << "screen (" << x << ", " << y << ") shows " << int(at(f, x, y)) << ", not "
                        << index_of(tc.col(x), tc.top_row(y));
    EXPECT_EQ(wrong, 0);
  }
}

TEST(VtsConvert, GreyIsACheckerboardWhiteAndBlackAreFlat) {
  struct Case {
    std::uint8_t grey;
    int even, odd;
  } cases[] = {{128, 86, 129}, {255, 215, 215}, {0, 0, 0}};
  for (const Case& c : cases) {
    Picture p{16, 16, 32};
    p.pad = c.grey;
    Bytes image = p.image([](int, int) { return 0; });
    std::fill(image.begin() + 40, image.end(), c.grey);
    Conversion run;
    const ConsoleFrame f = run.convert(image);
    for (int y : {0, 1, 158, 159})
      for (int x : {0, 1, 238, 239})
        EXPECT_EQ(at(f, x, y), (x + y) % 2 ? c.odd : c.even) << int(c.grey) << " at " << x << "," << y;
  }
}

TEST(VtsConvert, FormatIsReportedOncePerRun) {
  Conversion run;
  const Picture p{8, 8, 24};
  run.convert(p.image([](int, int) { return 215; }));
  run.convert(p.image([](int, int) { return 215; }));
  EXPECT_EQ(run.out.str(), "biBitCount=24\nBMP_COLOR_B=3\n");
  EXPECT_EQ(run.format.BMP_COLOR_B, 3);
  EXPECT_EQ(at(run.frame, 5, 5), 215);
}

TEST(VtsConvert, BytesPerPixelFollowTheFirstFrameAndFramesWithoutSize) {
  Conversion run;
  Picture first{8, 8, 32};
  run.convert(first.image([](int, int) { return 1; }));
  EXPECT_EQ(run.format.BMP_COLOR_B, 4);
  Picture later{8, 8, 24};  // biSizeImage given: the run keeps 4
  run.convert(later.image([](int, int) { return 2; }));
  EXPECT_EQ(run.format.BMP_COLOR_B, 4);
  later.size_image = 0;  // no size: the frame's own depth counts
  const ConsoleFrame f = run.convert(later.image([](int, int) { return 2; }));
  EXPECT_EQ(run.format.BMP_COLOR_B, 3);
  EXPECT_EQ(at(f, 100, 100), 2);
  EXPECT_EQ(run.out.str(), "biBitCount=32\nBMP_COLOR_B=4\n");
}

TEST(VtsConvert, OtherDepthsAreNamedOnceAndShowBlack) {
  Conversion run;
  Picture p{8, 8, 16};
  Bytes image = p.image([](int, int) { return 0; });
  std::fill(image.begin() + 40, image.end(), 0xFF);
  ConsoleFrame f = run.convert(image);
  EXPECT_EQ(f, ConsoleFrame{});
  run.convert(image);
  EXPECT_EQ(run.out.str(), "can't decoe biBitCount=16\nbiBitCount=16\nBMP_COLOR_B=0\n");
  // A 24-bit frame later in the same run: no size, so it sets its depth.
  Picture next{8, 8, 24};
  next.size_image = 0;
  f = run.convert(next.image([](int, int) { return 100; }));
  EXPECT_EQ(at(f, 0, 0), 100);
  EXPECT_EQ(run.out.str(), "can't decoe biBitCount=16\nbiBitCount=16\nBMP_COLOR_B=0\n");
}

TEST(VtsConvert, ImagesShorterThanTheirHeaderSaysShowBlack) {
  const Picture p{64, 48, 24};
  const Bytes whole = p.image([](int, int) { return 215; });
  struct Case {
    const char* name;
    Bytes image;
  } cases[] = {
      {"one row short", Bytes(whole.begin(), whole.end() - p.stride())},
      {"header only", Bytes(whole.begin(), whole.begin() + 40)},
      {"less than a header", Bytes(whole.begin(), whole.begin() + 39)},
      {"nothing", Bytes{}},
  };
  for (const Case& c : cases) {
    Conversion run;
    EXPECT_EQ(run.convert(c.image), ConsoleFrame{}) << c.name;
  }
  Conversion run;
  EXPECT_EQ(at(run.convert(whole), 0, 0), 215) << "the whole image is shown";
}

// A frame that cannot be shown (the zeroed buffer of a grab that failed,
// an undecodable depth, a cut-short image) before or between good ones:
// the first good frame still gives the run its bytes per pixel, though its
// biSizeImage is set, and from then on a bad frame leaves the last good
// picture on screen instead of black.
TEST(VtsConvert, BadFramesNeitherLatchBlackNorBlankTheLastPicture) {
  const Picture good{8, 8, 24};
  const Bytes picture = good.image([](int, int) { return 77; });
  const Bytes zeroed(picture.size(), 0);
  Picture deep{8, 8, 16};
  const Bytes sixteen = deep.image([](int, int) { return 0; });
  const Bytes cut(picture.begin(), picture.end() - good.stride());
  struct Case {
    const char* name;
    std::vector<const Bytes*> frames;  // converted in turn into one page
    std::vector<int> shown;            // the index all over the page after each; -1: black
    const char* lines;
  } cases[] = {
      {"zeroed first, then pictures", {&zeroed, &picture, &picture}, {-1, 77, 77}, "biBitCount=24\nBMP_COLOR_B=3\n"},
      {"16-bit first, then pictures",
       {&sixteen, &picture},
       {-1, 77},
       "can't decoe biBitCount=16\nbiBitCount=16\nBMP_COLOR_B=0\n"},
      {"zeroed after a picture", {&picture, &zeroed, &picture}, {77, 77, 77}, "biBitCount=24\nBMP_COLOR_B=3\n"},
      {"cut short after a picture", {&picture, &cut}, {77, 77}, "biBitCount=24\nBMP_COLOR_B=3\n"},
      {"16-bit after a picture",
       {&picture, &sixteen},
       {77, 77},
       "biBitCount=24\nBMP_COLOR_B=3\ncan't decoe biBitCount=16\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out, err;
    Output con{out, err};
    FrameFormat format;
    ConsoleFrame page{};
    for (std::size_t i = 0; i < c.frames.size(); ++i) {
      convert_frame(*c.frames[i], page, format, con);
      ConsoleFrame want{};
      if (c.shown[i] >= 0) want.fill(static_cast<std::uint8_t>(c.shown[i]));
      EXPECT_EQ(page, want) << "after frame " << i;
    }
    EXPECT_EQ(out.str(), c.lines);
  }
}

}  // namespace
}  // namespace kartex
