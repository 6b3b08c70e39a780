// Frames per second of the video stream in the simulator's hardware time,
// whole frames against frames as changes, on the clips given. Playback
// follows the simulated clock, so each frame shows the clip where the
// console's time stands, as it would on the hardware, and a run gives the
// same figures on any host.
//
//   kartex_vts_fps [--frames=N] CLIP...

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "agent/agent_image.h"
#include "app/session.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "sim/sim_pipes.h"
#include "sim/simulator.h"
#include "vts/clock_playback.h"
#include "vts/dxplay.h"
#include "vts/grabber.h"
#include "vts/vts_play.h"

namespace kartex {
namespace {

struct Figures {
  double seconds = 0;
  long long words_a_frame = 0;
};

// One stream of `frames` frames (B on the keypad read after them).
Figures run(const std::string& clip, bool plain, int frames) {
  Simulator sim;
  CableLink link{[&sim] { return sim.borrow_pipes(); }, [](int) {}};
  link.link_start();
  upload_program(link, agent_image());
  sim.console().io().set_key_script(parse_sim_options("keys=b@" + std::to_string(frames + 1)).keys);
  const MediaOpeners openers = following_clock(
      {{}, [](const std::string& file, std::string& why) { return open_ffmpeg_grabber(file, why); }},
      [&sim] { return simtime::whole_milliseconds(sim.stats().hardware_time); });
  std::ostringstream out, err;
  Output con{out, err};
  DxPlay source(openers, con, [](int) {});
  std::time_t now = 0;
  const VtsEnv env{[](int) {}, [&now] { return now++; }, plain};
  const SimTime start = sim.stats().hardware_time;
  if (vts_play(link, clip, source, con, env) != 0) {
    std::fprintf(stderr, "%s: %s", clip.c_str(), out.str().c_str());
    return {};
  }
  Figures f;
  f.seconds = simtime::seconds(sim.stats().hardware_time - start);
  const std::string text = out.str();
  const auto at = text.find(" link words a frame");
  if (at != std::string::npos) f.words_a_frame = std::stoll(text.substr(text.rfind('\n', at) + 1));
  return f;
}

}  // namespace
}  // namespace kartex

int main(int argc, char** argv) {
  int frames = 40;
  std::vector<std::string> clips;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--frames=", 0) == 0) frames = std::stoi(arg.substr(9));
    else clips.push_back(arg);
  }
  std::printf("| clip | plain fps | plain words/frame | changes fps | changes words/frame | ratio |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const std::string& clip : clips) {
    // The stream's own set-up and ending (palette, clearing, the waits)
    // are the same in both: a run of no frames measures them.
    const double fixed = kartex::run(clip, true, 0).seconds;
    const kartex::Figures plain = kartex::run(clip, true, frames);
    const kartex::Figures changes = kartex::run(clip, false, frames);
    const double plain_fps = frames / (plain.seconds - fixed), changes_fps = frames / (changes.seconds - fixed);
    std::printf("| %s | %.2f | %lld | %.2f | %lld | %.2fx |\n", clip.c_str(), plain_fps, plain.words_a_frame,
                changes_fps, changes.words_a_frame, changes_fps / plain_fps);
    std::fflush(stdout);
  }
  return 0;
}
