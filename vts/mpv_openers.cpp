// The player and grabber where libmpv and FFmpeg are the host's media
// libraries.
#include "vts/dxplay.h"

namespace kartex {

MediaOpeners media_openers(const MediaOutputs& outputs) {
  return MediaOpeners{
      [outputs](const std::string& file, std::string& why) { return open_mpv_playback(file, outputs, why); },
      [](const std::string& file, std::string& why) { return open_ffmpeg_grabber(file, why); },
  };
}

}  // namespace kartex
