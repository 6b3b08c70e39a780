#pragma once
// The frame source on the host's media libraries: playback in its own
// window with sound (the master clock), and a grabber that holds the
// picture at the playback position plus the lead.

#include <functional>
#include <memory>
#include <string>

#include "link/cable_link.h"
#include "vts/frame_source.h"
#include "vts/grabber.h"
#include "vts/playback.h"

namespace kartex {

struct Output;

// How the two halves are opened; tests put their own in place.
struct MediaOpeners {
  std::function<std::unique_ptr<Playback>(const std::string& file, std::string& why)> playback;
  std::function<std::unique_ptr<Grabber>(const std::string& file, std::string& why)> grabber;
};

// The platform's own: libmpv playback on `outputs` and FFmpeg grabs, or
// DirectShow graphs on Windows.
MediaOpeners media_openers(const MediaOutputs& outputs);

class DxPlay : public FrameSource {
 public:
  // Trace lines and reasons go to `con`; `sleep` makes the half-second
  // waits after keypad actions.
  DxPlay(MediaOpeners openers, Output& con, Sleeper sleep);
  ~DxPlay() override;

  int dx_open(const std::string& file_name) override;
  std::int32_t dx_image_size() override;
  void dx_grab_frame(std::span<std::uint8_t> buffer) override;
  void dx_seek(std::int64_t milliseconds) override;
  int dx_play_state(PlayMode mode) override;
  int dx_full_screen() override;
  void dx_close() override;

 private:
  void trace(int line);
  void cant_play(const std::string& file_name, const char* what, const std::string& why);

  MediaOpeners openers_;
  Output& con_;
  Sleeper sleep_;
  std::unique_ptr<Playback> playback_;
  std::unique_ptr<Grabber> grabber_;
};

}  // namespace kartex
