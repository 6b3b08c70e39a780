// The stream with frames sent as changes against the stream with every
// frame whole: on the real agent in the simulator, with a frame source
// that hands out the same pictures in the same order, the console must
// show the same pages pixel for pixel, and the changes must cost fewer
// link words.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "agent/agent_image.h"
#include "app/session.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "sim/sim_pipes.h"
#include "tests/support/video_scenes.h"
#include "vts/dib.h"
#include "vts/vts_play.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

// Picture n of a scene at the n-th grab, whatever the clock: a seek jumps
// 40 pictures on, as a real one moves the playback position.
struct SceneSource : FrameSource {
  Scene scene;
  int next = 0;
  const DibLayout layout{CONSOLE_W, CONSOLE_H, 3};

  explicit SceneSource(Scene s) : scene(s) {}
  int dx_open(const std::string&) override { return 1; }
  std::int32_t dx_image_size() override { return static_cast<std::int32_t>(layout.total_bytes()); }
  void dx_grab_frame(std::span<std::uint8_t> buffer) override {
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(CONSOLE_W) * CONSOLE_H * 3);
    for (int y = 0; y < CONSOLE_H; ++y)
      for (int x = 0; x < CONSOLE_W; ++x) {
        int rgb[3];
        scene_rgb(x, y, rgb);
        std::uint8_t* p = &bgr[(static_cast<std::size_t>(y) * CONSOLE_W + x) * 3];
        p[0] = static_cast<std::uint8_t>(rgb[2]), p[1] = static_cast<std::uint8_t>(rgb[1]),
        p[2] = static_cast<std::uint8_t>(rgb[0]);
      }
    std::vector<std::uint8_t> dib = make_dib(layout);
    store_top_down(dib, layout, bgr.data(), static_cast<std::size_t>(CONSOLE_W) * 3);
    std::copy(dib.begin(), dib.end(), buffer.begin());
    ++next;
  }
  void scene_rgb(int x, int y, int rgb[3]) const {
    if (scene == Scene::Pan) return detailed_rgb(x + next, y, rgb);
    detailed_rgb(x, y, rgb);
    const int left = (10 + 3 * next) % 200, top = 40 + next % 80;
    if (x >= left && x < left + 24 && y >= top && y < top + 24) rgb[0] = rgb[1] = rgb[2] = 250;
  }
  void dx_seek(std::int64_t) override { next += 40; }
  int dx_play_state(PlayMode) override { return 1; }
  int dx_full_screen() override { return 1; }
  void dx_close() override {}
};

struct Stream {
  std::ostringstream report, out, err;
  std::string words_line;

  Stream(Scene scene, bool plain, const std::string& screens) {
    Output con{out, err};
    CableLink link([&] { return open_sim_cable(parse_sim_options("keys=right@6,b@14,screens=" + screens), report, 5000); },
                   [](int) {});
    link.link_start();
    upload_program(link, agent_image());
    SceneSource source(scene);
    std::time_t now = 100;
    VtsEnv env{[](int) {}, [&now] { return now++; }, plain};
    EXPECT_EQ(vts_play(link, "scene", source, con, env), 0) << err.str();
    const std::string text = out.str();
    const auto at = text.find(" link words a frame");
    EXPECT_NE(at, std::string::npos) << text;
    words_line = text.substr(text.rfind('\n', at) + 1, at - text.rfind('\n', at) - 1);
  }
};

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(VtsChanges, ConsoleShowsThePlainStreamsPagesForFewerWords) {
  for (Scene scene : {Scene::MovingObject, Scene::Pan}) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("kartex_vts_changes_" + std::to_string(static_cast<int>(scene)));
    fs::remove_all(dir);
    const Stream plain(scene, true, (dir / "plain").string() + "/");
    const Stream changes(scene, false, (dir / "changes").string() + "/");
    // 13 frames: one page switch each, after the set-up's own switch.
    unsigned pictures = 0;
    for (unsigned n = 1;; ++n) {
      char name[16];
      std::snprintf(name, sizeof name, "%06u.png", n);
      const bool in_plain = fs::exists(dir / "plain" / name), in_changes = fs::exists(dir / "changes" / name);
      ASSERT_EQ(in_plain, in_changes) << name;
      if (!in_plain) break;
      EXPECT_EQ(file_bytes(dir / "plain" / name), file_bytes(dir / "changes" / name)) << name;
      ++pictures;
    }
    EXPECT_GE(pictures, 13u);
    EXPECT_EQ(plain.words_line, "9614");
    EXPECT_LT(std::stol(changes.words_line), 9614 / 3) << "scene " << static_cast<int>(scene);
    fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace kartex::test
