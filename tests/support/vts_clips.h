#pragma once
// Video files for the stream's tests, made with the ffmpeg command once
// and shared by every test process of the build: a still picture (kept
// also as the picture itself) and a clip whose picture tells its second.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vts/dib.h"

namespace kartex::test {

struct VtsClips {
  std::string dir;
  // 203 x 101 (rows padded to a multiple of 4 bytes in a 24-bit bitmap),
  // every frame the same picture, stored losslessly, with sound.
  std::string still;
  std::string still_picture;  // the same picture as a binary PPM
  // 240 x 160, 5 frames a second for 40 s, every frame a key frame: black
  // with a white stripe at columns 4 s to 4 s + 3 during second s.
  std::string stripes;
};

constexpr int STRIPE_WIDTH = 4;

inline bool make_clip(const std::string& args) {
  const std::string command = "ffmpeg -nostdin -v error -y " + args + " </dev/null";
  return std::system(command.c_str()) == 0;
}

// Made in a folder of this process's own, then renamed into place, so that
// test processes running side by side find either nothing or whole files.
inline const VtsClips& vts_clips() {
  namespace fs = std::filesystem;
  static const VtsClips clips = [] {
    VtsClips c;
    c.dir = (fs::path(::testing::TempDir()) / "kartex_vts_clips_v1").string();
    c.still = c.dir + "/still.avi";
    c.still_picture = c.dir + "/still.ppm";
    c.stripes = c.dir + "/stripes.avi";
    if (fs::exists(c.dir + "/done")) return c;
    const std::string work = c.dir + ".work" + std::to_string(::getpid());
    fs::remove_all(work);
    fs::create_directories(work);
    const bool made =
        make_clip("-f lavfi -i testsrc2=size=203x101:rate=1:duration=1 -frames:v 1 " + work + "/still.ppm") &&
        make_clip("-loop 1 -i " + work + "/still.ppm -f lavfi -i sine=frequency=440 -t 3 -r 5 -c:v ffv1 "
                  "-pix_fmt bgr0 -g 1 -c:a pcm_s16le " + work + "/still.avi") &&
        make_clip("-f lavfi -i \"color=c=black:s=240x160:r=5:d=40,format=gray,"
                  "geq=lum='if(eq(floor(X/4)\\,floor(T))\\,255\\,0)'\" -c:v ffv1 -g 1 " + work + "/stripes.avi");
    EXPECT_TRUE(made) << "the ffmpeg command (scripts/install-deps.sh installs it) made no clips";
    std::ofstream(work + "/done") << "ok";
    std::error_code ec;
    fs::rename(work, c.dir, ec);  // another process may have been first
    fs::remove_all(work, ec);
    return c;
  }();
  return clips;
}

// The PPM picture as the bottom-up 24-bit bitmap a grab delivers.
inline std::vector<std::uint8_t> ppm_as_dib(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, max = 0;
  in >> magic >> width >> height >> max;
  in.get();
  EXPECT_EQ(magic, "P6");
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
  for (std::size_t i = 0; i < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);  // to B, G, R
  const DibLayout layout{width, height, 3};
  std::vector<std::uint8_t> dib = make_dib(layout);
  store_top_down(dib, layout, rgb.data(), static_cast<std::size_t>(width) * 3);
  return dib;
}

}  // namespace kartex::test
