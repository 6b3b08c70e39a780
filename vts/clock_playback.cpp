#include "vts/clock_playback.h"

#include <algorithm>
#include <limits>

namespace kartex {

namespace {

class ClockPlayback : public Playback {
 public:
  ClockPlayback(PlaybackClock clock, std::int64_t duration_ms)
      : clock_(std::move(clock)), duration_ms_(duration_ms), anchor_clock_(clock_()) {}

  std::int64_t position_ms() override {
    const std::int64_t moved = paused_ ? 0 : clock_() - anchor_clock_;
    return std::clamp<std::int64_t>(anchor_position_ + moved, 0, duration_ms_);
  }
  void seek_relative(std::int64_t milliseconds) override { restart_at(position_ms() + milliseconds); }
  bool is_paused(bool& paused) override {
    paused = paused_;
    return true;
  }
  bool set_paused(bool paused) override {
    const std::int64_t here = position_ms();
    paused_ = paused;
    restart_at(here);
    return true;
  }
  bool is_full_screen(bool& full) override {
    full = full_;
    return true;
  }
  bool set_full_screen(bool full) override {
    full_ = full;
    return true;
  }

 private:
  // The position counts on from `position` as of now.
  void restart_at(std::int64_t position) {
    anchor_position_ = std::clamp<std::int64_t>(position, 0, duration_ms_);
    anchor_clock_ = clock_();
  }

  PlaybackClock clock_;
  std::int64_t duration_ms_;
  std::int64_t anchor_clock_;
  std::int64_t anchor_position_ = 0;
  bool paused_ = false;
  bool full_ = false;
};

// A file whose container gives no length plays on without an end; the
// grabber then holds its last picture.
constexpr std::int64_t NO_END_MS = std::numeric_limits<std::int64_t>::max() / 4;

}  // namespace

std::unique_ptr<Playback> open_clock_playback(PlaybackClock clock, std::int64_t duration_ms) {
  return std::make_unique<ClockPlayback>(std::move(clock), duration_ms);
}

MediaOpeners following_clock(MediaOpeners openers, PlaybackClock clock) {
  auto grabber = openers.grabber;
  openers.playback = [grabber, clock](const std::string& file, std::string& why) -> std::unique_ptr<Playback> {
    const std::unique_ptr<Grabber> probe = grabber(file, why);
    if (!probe) return nullptr;
    const std::int64_t duration = probe->duration_ms();
    return open_clock_playback(clock, duration < 0 ? NO_END_MS : duration);
  };
  return openers;
}

}  // namespace kartex
