#pragma once
// The video stream: the host plays a file, and each picture grabbed just
// ahead of its playback position goes to the console's screen in mode 4,
// while the console's keypad works as the remote control.

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "link/cable_link.h"
#include "vts/frame_source.h"

namespace kartex {

struct Output;

struct VtsEnv {
  // The half-second and one-second waits at the end of a stream.
  Sleeper sleep = sleep_ms;
  // Whole seconds of the wall clock, for the figures at the end.
  std::function<std::time_t()> clock = [] { return std::time(nullptr); };
  // Every frame whole, as the console memory writes of the original
  // stream, instead of as changes to the page it overwrites.
  bool plain_video = false;
  // The console's hardware time in milliseconds, when playback follows it:
  // the figures at the end then count its seconds instead of the wall
  // clock's. Empty: the wall clock.
  std::function<std::int64_t()> hardware_ms = nullptr;
};

// What the keypad asks of the stream.
constexpr int KEYS_GO = 0, KEYS_STOP = -1;

// Reads the keypad once and acts on the one key held: A full screen,
// Start pause or run, Right and Left seek 5 s, R and L 15 s; B alone
// stops (KEYS_STOP). No key, Select, Up, Down and any two keys together do
// nothing. `seeked`, when given, is set when the key moved playback.
int poll_keys(CableLink& link, FrameSource& source, bool* seeked = nullptr);

// Sets the console up, streams `file_name` until B is pressed (or the
// output's stop, the user's Ctrl-C, asks at a frame's end), prints the
// figures and clears the screen. 0 after a stream the user ended, -1 when
// set-up failed (its line printed). A failed transfer closes the source and
// throws the link's Failure.
int vts_play(CableLink& link, const std::string& file_name, FrameSource& source, Output& con,
             const VtsEnv& env = {});

}  // namespace kartex
