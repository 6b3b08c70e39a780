#pragma once
// The host's playback of the file: its own window and sound, a position
// that advances in real time and answers seeks, pause and run.

#include <cstdint>
#include <memory>
#include <string>

namespace kartex {

class Playback {
 public:
  virtual ~Playback() = default;
  // Where playback stands, in milliseconds from the file's start (never
  // negative).
  virtual std::int64_t position_ms() = 0;
  // Moves by `milliseconds` to a key frame; returns once playback stands
  // at the new place.
  virtual void seek_relative(std::int64_t milliseconds) = 0;
  // False when the state cannot be read.
  virtual bool is_paused(bool& paused) = 0;
  virtual bool set_paused(bool paused) = 0;
  virtual bool is_full_screen(bool& full) = 0;
  virtual bool set_full_screen(bool full) = 0;
};

// Which outputs the playback may use, in the order tried; a list that ends
// in "null" plays on without a display or a sound device.
struct MediaOutputs {
  std::string video = "gpu,x11,null";
  std::string audio;  // empty: the player's own choice, falling back to none
};

// Starts playing `file_name`. nullptr on failure, with the reason in `why`.
std::unique_ptr<Playback> open_mpv_playback(const std::string& file_name, const MediaOutputs& outputs,
                                            std::string& why);

}  // namespace kartex
