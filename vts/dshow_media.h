#pragma once
// The Windows player and grabber on DirectShow. The file is opened twice:
// a playback graph that plays it in its own window with sound (its
// position is the stream's clock), and a grab graph without window or
// sound that stays paused and is only moved ahead of playback, so that it
// decodes just the picture at each new position. Windows only.

#include <memory>
#include <string>

#include "vts/grabber.h"
#include "vts/playback.h"

namespace kartex {

// Each nullptr on failure, with "file:line: step: the system's text" in
// `why`.
std::unique_ptr<Playback> open_dshow_playback(const std::string& file_name, std::string& why);
std::unique_ptr<Grabber> open_dshow_grabber(const std::string& file_name, std::string& why);

}  // namespace kartex
