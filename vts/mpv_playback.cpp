// Playback with libmpv: its own window and sound, its position the stream's
// master clock.

#include <mpv/client.h>

#include <chrono>
#include <cstdio>

#include "vts/playback.h"

namespace kartex {

namespace {

// Loading a file and the first picture; a seek of a paused player.
constexpr double LOAD_WAIT_S = 10.0;
constexpr double SEEK_WAIT_S = 2.0;

class MpvPlayback : public Playback {
 public:
  explicit MpvPlayback(mpv_handle* mpv) : mpv_(mpv) {}
  ~MpvPlayback() override { mpv_terminate_destroy(mpv_); }
  MpvPlayback(const MpvPlayback&) = delete;
  MpvPlayback& operator=(const MpvPlayback&) = delete;

  // Loads the file and waits until its first picture is out, so that the
  // position means something from the first grab on.
  bool load(const std::string& file_name, std::string& why) {
    const char* cmd[] = {"loadfile", file_name.c_str(), nullptr};
    if (int e = mpv_command(mpv_, cmd); e < 0) {
      why = mpv_error_string(e);
      return false;
    }
    bool loaded = false;
    const auto until = clock::now() + std::chrono::duration<double>(LOAD_WAIT_S);
    while (clock::now() < until) {
      mpv_event* ev = mpv_wait_event(mpv_, 0.1);
      if (ev->event_id == MPV_EVENT_FILE_LOADED) loaded = true;
      if (ev->event_id == MPV_EVENT_PLAYBACK_RESTART && loaded) return true;
      if (ev->event_id == MPV_EVENT_END_FILE) {
        const auto* end = static_cast<mpv_event_end_file*>(ev->data);
        why = end->reason == MPV_END_FILE_REASON_ERROR ? mpv_error_string(end->error)
                                                        : "the file has nothing to play";
        return false;
      }
    }
    // A file that plays but shows no picture yet: the position still runs.
    if (loaded) return true;
    why = "loading timed out";
    return false;
  }

  std::int64_t position_ms() override {
    drain();
    double seconds = 0;
    if (mpv_get_property(mpv_, "time-pos", MPV_FORMAT_DOUBLE, &seconds) < 0) return 0;
    // Before the first picture the position can read slightly negative.
    return seconds > 0 ? static_cast<std::int64_t>(seconds * 1000.0 + 0.5) : 0;
  }

  void seek_relative(std::int64_t milliseconds) override {
    drain();
    char amount[32];
    std::snprintf(amount, sizeof amount, "%.3f", static_cast<double>(milliseconds) / 1000.0);
    const char* cmd[] = {"seek", amount, "relative+keyframes", nullptr};
    if (mpv_command(mpv_, cmd) < 0) return;
    // The seek runs on the player's own thread: wait until it has landed,
    // so that the next position read is the new one.
    const auto until = clock::now() + std::chrono::duration<double>(SEEK_WAIT_S);
    while (clock::now() < until) {
      mpv_event* ev = mpv_wait_event(mpv_, 0.05);
      if (ev->event_id == MPV_EVENT_PLAYBACK_RESTART || ev->event_id == MPV_EVENT_END_FILE) return;
      if (ev->event_id == MPV_EVENT_NONE && !seeking()) return;
    }
  }

  bool is_paused(bool& paused) override { return get_flag("pause", paused); }
  bool set_paused(bool paused) override { return set_flag("pause", paused); }
  bool is_full_screen(bool& full) override { return get_flag("fullscreen", full); }
  bool set_full_screen(bool full) override { return set_flag("fullscreen", full); }

 private:
  using clock = std::chrono::steady_clock;

  // Events nobody waits for would fill the player's queue.
  void drain() {
    while (mpv_wait_event(mpv_, 0)->event_id != MPV_EVENT_NONE) {
    }
  }

  bool seeking() {
    int flag = 0;
    return mpv_get_property(mpv_, "seeking", MPV_FORMAT_FLAG, &flag) >= 0 && flag;
  }

  bool get_flag(const char* name, bool& value) {
    int flag = 0;
    if (mpv_get_property(mpv_, name, MPV_FORMAT_FLAG, &flag) < 0) return false;
    value = flag != 0;
    return true;
  }

  bool set_flag(const char* name, bool value) {
    int flag = value ? 1 : 0;
    return mpv_set_property(mpv_, name, MPV_FORMAT_FLAG, &flag) >= 0;
  }

  mpv_handle* mpv_;
};

}  // namespace

std::unique_ptr<Playback> open_mpv_playback(const std::string& file_name, const MediaOutputs& outputs,
                                            std::string& why) {
  mpv_handle* mpv = mpv_create();
  if (!mpv) {
    why = "the player cannot be created";
    return nullptr;
  }
  auto playback = std::make_unique<MpvPlayback>(mpv);
  // No user configuration, no terminal output of its own: the tool's
  // standard output carries its own lines. At the end of the file the last
  // picture stays, as the stream goes on until the user stops it.
  const std::pair<const char*, std::string> options[] = {
      {"config", "no"},
      {"terminal", "no"},
      {"keep-open", "yes"},
      {"idle", "yes"},
      {"vo", outputs.video},
      {"audio-fallback-to-null", "yes"},
      {"ao", outputs.audio},
  };
  for (const auto& [name, value] : options) {
    if (value.empty()) continue;
    if (int e = mpv_set_option_string(mpv, name, value.c_str()); e < 0) {
      why = std::string("player option ") + name + "=" + value + ": " + mpv_error_string(e);
      return nullptr;
    }
  }
  if (int e = mpv_initialize(mpv); e < 0) {
    why = mpv_error_string(e);
    return nullptr;
  }
  if (!playback->load(file_name, why)) return nullptr;
  return playback;
}

}  // namespace kartex
