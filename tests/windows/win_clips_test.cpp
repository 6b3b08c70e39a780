// The DirectShow frame source on files that play, under Windows or wine:
// clips made by ffmpeg at test time (scripts/test-windows.sh), each with
// ffmpeg's own decode of every frame beside it. Grabs at chosen positions
// are compared pixel by pixel with the frame that should show there, and
// the driver's calls (pause and run, seek, full screen, close) are made on
// the real graphs.
//
// KARTEX_CLIPS names the folder; its clips.txt has one clip a line:
//   file width height frames frames_per_second key_frame_interval exact
// and FILE.bgr holds the frames top-down, 24-bit, blue first.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/output.h"
#include "vts/dxplay.h"
#include "vts/frame_convert.h"

namespace kartex::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Clip {
  std::string file;
  int width = 0, height = 0, frames = 0, fps = 0, key_interval = 1;
  bool exact = false;
  Bytes reference;  // every frame, top-down BGR

  std::size_t frame_bytes() const { return static_cast<std::size_t>(width) * height * 3; }
  const std::uint8_t* frame(int n) const { return reference.data() + frame_bytes() * static_cast<std::size_t>(n); }
  // The frame on show at `ms`, and the key frame at or before it.
  int frame_at(std::int64_t ms) const { return static_cast<int>(ms * fps / 1000); }
  int key_frame_before(int n) const { return n / key_interval * key_interval; }
};

std::string clips_dir() {
  const char* dir = std::getenv("KARTEX_CLIPS");
  return dir ? std::string(dir) + "\\" : std::string();
}

std::vector<Clip> load_clips() {
  std::vector<Clip> clips;
  std::ifstream list(clips_dir() + "clips.txt");
  for (std::string line; std::getline(list, line);) {
    std::istringstream in(line);
    Clip c;
    int exact = 0;
    if (!(in >> c.file >> c.width >> c.height >> c.frames >> c.fps >> c.key_interval >> exact)) continue;
    c.exact = exact != 0;
    std::ifstream ref(clips_dir() + c.file + ".bgr", std::ios::binary);
    c.reference.assign(std::istreambuf_iterator<char>(ref), std::istreambuf_iterator<char>());
    clips.push_back(std::move(c));
  }
  return clips;
}

const std::vector<Clip>& clips() {
  static const std::vector<Clip> all = load_clips();
  return all;
}

std::int32_t le32(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// A grabbed bitmap against one reference frame: the mean of the absolute
// differences of every channel of every pixel.
double mean_difference(const Bytes& dib, const Clip& clip, int n) {
  const int bpp = (dib[14] | dib[15] << 8) / 8;
  const std::size_t stride = (static_cast<std::size_t>(clip.width) * bpp + 3) / 4 * 4;
  const std::uint8_t* ref = clip.frame(n);
  double sum = 0;
  for (int y = 0; y < clip.height; ++y) {
    // Bottom-up: the picture's top row is the last in memory.
    const std::uint8_t* row = dib.data() + BMP_INFO_HEADER_SIZE + static_cast<std::size_t>(clip.height - 1 - y) * stride;
    const std::uint8_t* want = ref + static_cast<std::size_t>(y) * clip.width * 3;
    for (int x = 0; x < clip.width; ++x)
      for (int c = 0; c < 3; ++c) sum += std::abs(int(row[x * bpp + c]) - int(want[x * 3 + c]));
  }
  return sum / (static_cast<double>(clip.width) * clip.height * 3);
}

// The frame the grab shows: the reference frame closest to it.
struct Landing {
  int frame = -1;
  double difference = 1e9;
};

Landing landing_of(const Bytes& dib, const Clip& clip) {
  Landing best;
  for (int n = 0; n < clip.frames; ++n) {
    const double d = mean_difference(dib, clip, n);
    if (d < best.difference) best = Landing{n, d};
  }
  return best;
}

// Compressed clips come back through another decoder and colour
// converter than ffmpeg's: a few levels apart, where a neighbouring frame
// of these clips is about twenty apart.
double allowed_difference(const Clip& clip) { return clip.exact ? 0.0 : 6.0; }

void print_row(const Clip& clip, const Bytes& dib, std::int64_t ms, int want, const Landing& got) {
  std::printf("  | %-10s | %2d-bit %dx%d | %7lld ms | frame %3d | landed on %3d | mean difference %6.3f |\n",
              clip.file.c_str(), dib[14] | dib[15] << 8, le32(dib, 4), le32(dib, 8), static_cast<long long>(ms), want,
              got.frame, got.difference);
}

TEST(WinClips, ClipsWereMade) {
  ASSERT_FALSE(clips_dir().empty()) << "KARTEX_CLIPS is not set";
  ASSERT_EQ(clips().size(), 3u) << "clips.txt in " << clips_dir();
  for (const Clip& c : clips())
    ASSERT_EQ(c.reference.size(), c.frame_bytes() * static_cast<std::size_t>(c.frames)) << c.file;
}

// The grabber at positions forwards, backwards, on and between frame
// boundaries, near the end and past it: the picture it hands over is the
// frame at the position (or the key frame before it), bottom-up, of the
// clip's size.
TEST(WinClips, GrabsAtPositionsMatchFfmpegsDecode) {
  for (const Clip& clip : clips()) {
    SCOPED_TRACE(clip.file);
    std::string why;
    auto grabber = media_openers(MediaOutputs{}).grabber(clips_dir() + clip.file, why);
    ASSERT_TRUE(grabber) << why;
    const std::size_t stride_24 = (static_cast<std::size_t>(clip.width) * 3 + 3) / 4 * 4;
    const std::size_t stride_32 = static_cast<std::size_t>(clip.width) * 4;
    const std::size_t size = grabber->image_size();
    EXPECT_TRUE(size == BMP_INFO_HEADER_SIZE + stride_24 * clip.height ||
                size == BMP_INFO_HEADER_SIZE + stride_32 * clip.height)
        << size;
    EXPECT_NEAR(static_cast<double>(grabber->duration_ms()), clip.frames * 1000.0 / clip.fps, 50.0);

    // Too small a buffer is refused and left as it was.
    Bytes small(size - 1, 0x5A);
    EXPECT_FALSE(grabber->copy_to(small));
    EXPECT_EQ(small, Bytes(size - 1, 0x5A)) << "a refused copy wrote into the buffer";

    // The picture held after opening: the first frame.
    Bytes dib(size + 16, 0xC3);
    ASSERT_TRUE(grabber->copy_to(dib));
    EXPECT_EQ(Bytes(dib.end() - 16, dib.end()), Bytes(16, 0xC3)) << "written past the picture";
    EXPECT_EQ(le32(dib, 0), 40);
    EXPECT_EQ(le32(dib, 4), clip.width);
    EXPECT_EQ(le32(dib, 8), clip.height) << "bottom-up";
    Landing first = landing_of(dib, clip);
    print_row(clip, dib, 0, 0, first);
    EXPECT_EQ(first.frame, 0);

    const std::int64_t frame_ms = 1000 / clip.fps;
    const std::int64_t last_ms = (clip.frames - 1) * 1000 / clip.fps;
    for (const std::int64_t ms : {std::int64_t{500}, std::int64_t{1020}, std::int64_t{1999}, 2 * 1000 + frame_ms / 2,
                                  std::int64_t{1260}, std::int64_t{60}, last_ms, last_ms + 5000}) {
      grabber->position_at(ms);
      ASSERT_TRUE(grabber->copy_to(dib)) << "no picture at " << ms << " ms";
      const int want = clip.frame_at(std::min(ms, last_ms));
      const Landing got = landing_of(dib, clip);
      print_row(clip, dib, ms, want, got);
      EXPECT_LE(got.difference, allowed_difference(clip)) << "at " << ms << " ms";
      // At or before the position, and never before the key frame that
      // holds it.
      EXPECT_LE(got.frame, want) << "at " << ms << " ms: landed after the position";
      EXPECT_GE(got.frame, clip.key_frame_before(want)) << "at " << ms << " ms";
    }
  }
}

// The driver's calls on the real graphs: open with its five progress lines,
// the image size, grabs, pause and run, seeks, full screen there and back,
// close.
TEST(WinClips, TheDriversCallsAreAnswered) {
  bool full_screen_tried = false;
  for (const Clip& clip : clips()) {
    SCOPED_TRACE(clip.file);
    std::ostringstream out, err;
    Output con{out, err};
    std::vector<int> waits;
    DxPlay source(media_openers(MediaOutputs{}), con, [&](int ms) { waits.push_back(ms); });
    ASSERT_EQ(source.dx_open(clips_dir() + clip.file), 1) << out.str() << err.str();
    EXPECT_EQ(err.str(), "");
    const std::int32_t size = source.dx_image_size();
    ASSERT_GT(size, 40);
    Bytes dib(static_cast<std::size_t>(size), 0);
    source.dx_grab_frame(dib);
    EXPECT_EQ(landing_of(dib, clip).frame, 0) << "the first grab is the picture cued at opening";

    EXPECT_EQ(source.dx_play_state(PlayMode::Pause), 1);
    EXPECT_EQ(source.dx_play_state(PlayMode::Toggle), 1) << "run";
    EXPECT_EQ(source.dx_play_state(PlayMode::Toggle), 1) << "pause again";
    // Back past the start: playback stands at 0, the next picture is the
    // lead ahead of it.
    source.dx_seek(-15000);
    source.dx_grab_frame(dib);
    const int want = clip.frame_at(GRAB_LEAD_MS);
    const Landing got = landing_of(dib, clip);
    print_row(clip, dib, GRAB_LEAD_MS, want, got);
    EXPECT_LE(got.difference, allowed_difference(clip));
    EXPECT_LE(got.frame, want);
    EXPECT_GE(got.frame, clip.key_frame_before(want));
    source.dx_seek(5000);  // past the end: the grab keeps the last picture
    source.dx_grab_frame(dib);
    EXPECT_EQ(landing_of(dib, clip).frame, clip.frames - 1);

    // Full screen costs seconds under wine: once, on the first clip.
    if (!full_screen_tried) {
      full_screen_tried = true;
      EXPECT_EQ(source.dx_full_screen(), 1) << out.str();
      EXPECT_EQ(source.dx_full_screen(), 1) << "and back";
    }
    source.dx_close();
    source.dx_close();
    EXPECT_EQ(err.str(), "");
    for (int w : waits) EXPECT_EQ(w, KEY_ACTION_WAIT_MS);
  }
}

}  // namespace
}  // namespace kartex::test
