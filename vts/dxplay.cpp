#include "vts/dxplay.h"

#include <thread>

#include "common/output.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

// Playback and grabs run on the libraries' own threads: give them the processor now.
void yield_now() { std::this_thread::yield(); }

}  // namespace

DxPlay::DxPlay(MediaOpeners openers, Output& con, Sleeper sleep)
    : openers_(std::move(openers)), con_(con), sleep_(std::move(sleep)) {}

DxPlay::~DxPlay() { dx_close(); }

// The source file and line of the step that failed or was passed.
void DxPlay::trace(int line) { con_.print(LINE_FRAME_SOURCE_TRACE, __FILE_NAME__, line); }

void DxPlay::cant_play(const std::string& file_name, const char* what, const std::string& why) {
  con_.err << "kartex: " << file_name << ": " << what << ": " << why << "\n" << std::flush;
}

int DxPlay::dx_open(const std::string& file_name) {
  dx_close();
  std::string why;
  // The grabber first: a file it cannot read is refused before a window
  // opens.
  grabber_ = openers_.grabber(file_name, why);
  if (!grabber_) {
    trace(__LINE__);
    cant_play(file_name, "no pictures to grab", why);
    return 0;
  }
  trace(__LINE__);
  // The first grab hands over the picture the grabber was cued at.
  if (grabber_->image_size() == 0) {
    trace(__LINE__);
    cant_play(file_name, "no pictures to grab", "the picture has no size");
    grabber_.reset();
    return 0;
  }
  trace(__LINE__);
  playback_ = openers_.playback(file_name, why);
  if (!playback_) {
    trace(__LINE__);
    cant_play(file_name, "playback", why);
    return 0;
  }
  trace(__LINE__);
  bool paused = false;
  if (!playback_->is_paused(paused) || (paused && !playback_->set_paused(false))) {
    trace(__LINE__);
    cant_play(file_name, "playback", "the player did not start");
    playback_.reset();
    grabber_.reset();
    return 0;
  }
  trace(__LINE__);
  // Playing: from here on its position is the stream's clock.
  trace(__LINE__);
  return 1;
}

std::int32_t DxPlay::dx_image_size() {
  const std::size_t size = grabber_ ? grabber_->image_size() : 0;
  if (size == 0 || size > INT32_MAX) {
    trace(__LINE__);
    return 0;
  }
  return static_cast<std::int32_t>(size);
}

void DxPlay::dx_grab_frame(std::span<std::uint8_t> buffer) {
  if (!grabber_ || !playback_) {
    trace(__LINE__);
    return;
  }
  const bool copied = grabber_->copy_to(buffer);
  yield_now();
  grabber_->position_at(playback_->position_ms() + GRAB_LEAD_MS);
  yield_now();
  if (!copied) trace(__LINE__);
}

void DxPlay::dx_seek(std::int64_t milliseconds) {
  if (!grabber_ || !playback_) return;
  playback_->seek_relative(milliseconds);
  // Where playback landed, which is never before the file's start: the
  // next grab is ahead of that.
  grabber_->position_at(playback_->position_ms() + GRAB_LEAD_MS);
}

int DxPlay::dx_play_state(PlayMode mode) {
  bool paused = false;
  if (!playback_ || !playback_->is_paused(paused)) {
    trace(__LINE__);
    return 0;
  }
  const bool pause = mode == PlayMode::Pause || !paused;
  if (!playback_->set_paused(pause)) {
    trace(__LINE__);
    return 0;
  }
  sleep_(KEY_ACTION_WAIT_MS);
  return 1;
}

int DxPlay::dx_full_screen() {
  bool full = false;
  if (!playback_ || !playback_->is_full_screen(full)) {
    trace(__LINE__);
    return 0;
  }
  if (!playback_->set_full_screen(!full)) {
    trace(__LINE__);
    return 0;
  }
  sleep_(KEY_ACTION_WAIT_MS);
  return 1;
}

void DxPlay::dx_close() {
  // The window goes with the player.
  playback_.reset();
  grabber_.reset();
}

}  // namespace kartex
