// Frames as changes to the page they overwrite: the host's encoder against
// the agent's own decoder (its C built for the host), and the decoder
// against frames that are damaged or hostile.

#include <gtest/gtest.h>

#include <numeric>

#include "tests/support/video_ops.h"
#include "tests/support/video_scenes.h"
#include "tests/support/video_vram.h"
#include "vts/frame_encode.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t DONE = 0, BAD = 1;


// Frames 0..count-1 of a scene through the encoder and the decoder, pages
// taking turns as the stream writes them; every decoded page must be its
// frame, and nothing else in video RAM may change. Returns the mean link
// words of a frame's ops once both pages hold pictures (from frame 2 on).
double round_trip(Scene scene, int count) {
  HostVram vram;
  const std::vector<std::uint8_t> black(VIDEO_PAGE_BYTES, 0);
  vram.set_page(0, black);
  vram.set_page(1, black);
  std::size_t halfwords = 0;
  for (int n = 0; n < count; ++n) {
    const int page = n % 2;
    const ConsoleFrame target = scene_frame(scene, n);
    const std::vector<std::uint16_t> ops = encode_frame(target, vram.page_bytes(page), vram.page_bytes(1 - page));
    EXPECT_EQ(ops.size() % 2, 0u) << "frame " << n;
    if (n >= 2) halfwords += ops.size();
    const HostVram before = vram;
    EXPECT_EQ(vram.decode(page, ops), DONE) << "frame " << n;
    EXPECT_EQ(vram.changed_outside(page, before), -1) << "frame " << n;
    const auto got = vram.page_bytes(page);
    const auto first_wrong = std::mismatch(got.begin(), got.end(), target.begin()).first - got.begin();
    EXPECT_EQ(first_wrong, static_cast<std::ptrdiff_t>(VIDEO_PAGE_BYTES)) << "frame " << n << " differs at pixel "
                                                                            << first_wrong;
  }
  return static_cast<double>(halfwords) / 2 / (count - 2);
}

TEST(VideoEncode, EveryFrameDecodesToItsPictureAndChangesCostWhatTheyChange) {
  const struct {
    Scene scene;
    const char* name;
    double most_words;  // a frame whole is 9,600 words
  } cases[] = {
      // The square's trail and its new place: a few rows of a few pairs.
      {Scene::MovingObject, "moving object", 200},
      // The pan: copies from the page two frames back, two pixels over,
      // keep the dither's phase; only the new columns are literal.
      {Scene::Pan, "pan", 600},
      // Nothing repeats: the ops are a literal run, the frame's size and a
      // header (the stream then sends it whole).
      {Scene::Noise, "noise", 9610},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double words = round_trip(c.scene, 6);
    EXPECT_LE(words, c.most_words);
    std::printf("%s: %.0f words a frame\n", c.name, words);
  }
}

TEST(VideoEncode, SameFrameAgainIsAlmostNothing) {
  const ConsoleFrame frame = scene_frame(Scene::Pan, 0);
  // The page already holds the frame: the ops are empty.
  EXPECT_TRUE(encode_frame(frame, frame, frame).empty());
  // The other page holds it: copies of the whole page, three since an op
  // counts at most 8,191 pairs.
  const std::vector<std::uint8_t> black(VIDEO_PAGE_BYTES, 0);
  EXPECT_LE(encode_frame(frame, black, frame).size(), 6u);
}

TEST(VideoDecode, DamagedOrHostileFramesStayInsideTheirPage) {
  const struct {
    const char* name;
    std::vector<std::uint16_t> ops;
    std::uint32_t result;
    std::size_t pairs_written;  // from pair 0, each set to 0xABCD
    bool last_pair = false;     // the page's last pair set to 0xABCD
  } cases[] = {
      {"empty", {}, DONE, 0},
      {"fill two", {op(VIDEO_OP_FILL, 2), 0xABCD}, DONE, 2},
      {"skip the whole page, then one more", {op(0, 8191), op(0, 8191), op(0, 2818), op(VIDEO_OP_FILL, 1), 0xABCD}, BAD, 0},
      {"fill to the page end exactly", {op(0, 8191), op(0, 8191), op(0, 2817), op(VIDEO_OP_FILL, 1), 0xABCD}, DONE, 0, true},
      {"literal longer than the input", {op(VIDEO_OP_FILL, 1), 0xABCD, op(VIDEO_OP_LITERAL, 9), 1, 2}, BAD, 1},
      {"fill without its value", {op(VIDEO_OP_FILL, 1), 0xABCD, op(VIDEO_OP_FILL, 3)}, BAD, 1},
      {"copy without its source", {op(VIDEO_OP_COPY, 3)}, BAD, 0},
      {"copy from past the page", {copy_other(1), VIDEO_PAGE_BYTES}, BAD, 0},
      {"copy running past the source page", {copy_other(2), VIDEO_PAGE_BYTES - 2}, BAD, 0},
      {"copy from an odd pixel", {op(VIDEO_OP_COPY, 2), 7}, BAD, 0},
      {"copy of the largest count at the largest source", {op(VIDEO_OP_COPY, 8191), 0xFFFE}, BAD, 0},
      {"copy overlapping itself repeats the pair", {op(VIDEO_OP_FILL, 1), 0xABCD, op(VIDEO_OP_COPY, 5), 0}, DONE, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (int page : {0, 1}) {
      HostVram vram;
      const HostVram before = vram;
      EXPECT_EQ(vram.decode(page, c.ops), c.result);
      EXPECT_EQ(vram.changed_outside(page, before), -1);
      const std::size_t first = page ? VIDEO_PAGE1_OFFSET / 2 : 0, pairs = VIDEO_PAGE_BYTES / 2;
      for (std::size_t i = 0; i < pairs; ++i) {
        const bool written = i < c.pairs_written || (c.last_pair && i == pairs - 1);
        ASSERT_EQ(vram.page(page)[i], written ? 0xABCD : before.halves[first + i]) << "pair " << i;
      }
    }
  }
}

}  // namespace
}  // namespace kartex::test
