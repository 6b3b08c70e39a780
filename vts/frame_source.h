#pragma once
// What the video stream needs of the host's player: playback of the file
// in real time with picture and sound, whose position is the stream's
// master clock, and pictures grabbed a little ahead of that position. One
// implementation per platform's media framework.

#include <cstdint>
#include <span>
#include <string>

namespace kartex {

// How far ahead of the playback position each picture is taken: the
// console shows a frame about this much after it was chosen.
constexpr std::int64_t GRAB_LEAD_MS = 750;

// The wait after a play-state or full-screen change: it holds the stream,
// so that one press of a key does not act twice.
constexpr int KEY_ACTION_WAIT_MS = 500;

enum class PlayMode { Pause, Toggle };

class FrameSource {
 public:
  virtual ~FrameSource() = default;

  // Opens the file and starts playing it. 1 on success, 0 on failure (the
  // failing step has printed its trace line).
  virtual int dx_open(const std::string& file_name) = 0;
  // Bytes of one grabbed picture, header included; 0 on failure.
  virtual std::int32_t dx_image_size() = 0;
  // Copies the picture chosen by the previous grab (or by the opening, or
  // a seek) into `buffer`, then chooses the next one at the playback
  // position plus the lead. A failed copy leaves `buffer` as it was.
  virtual void dx_grab_frame(std::span<std::uint8_t> buffer) = 0;
  // Moves playback by `milliseconds` from where it stands.
  virtual void dx_seek(std::int64_t milliseconds) = 0;
  // 1 when the state was changed, 0 on failure.
  virtual int dx_play_state(PlayMode mode) = 0;
  // Switches the playback window between full screen and windowed; 1 on
  // success.
  virtual int dx_full_screen() = 0;
  // Stops and releases everything; closing twice does nothing.
  virtual void dx_close() = 0;
};

}  // namespace kartex
