// A build without a video player and grabber (the Windows build, until it
// has one on the system's own media framework): vts refuses the file with
// one line, after the banner, as for a file no player can open.
#include "vts/grabber.h"
#include "vts/playback.h"

namespace kartex {

namespace {

constexpr const char* NO_VIDEO = "this build of kartex has no video player";

}  // namespace

std::unique_ptr<Playback> open_mpv_playback(const std::string&, const MediaOutputs&, std::string& why) {
  why = NO_VIDEO;
  return nullptr;
}

std::unique_ptr<Grabber> open_ffmpeg_grabber(const std::string&, std::string& why) {
  why = NO_VIDEO;
  return nullptr;
}

}  // namespace kartex
