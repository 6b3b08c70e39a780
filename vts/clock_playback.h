#pragma once
// Playback without a window or sound whose position follows a clock it is
// given instead of the host's: on the simulator, the console's hardware
// time, so that a run shows the same pictures at the same simulated
// moments whatever the host's speed, and plain and encoded streams of the
// same clip and keys can be compared page by page.

#include <cstdint>
#include <functional>
#include <memory>

#include "vts/dxplay.h"
#include "vts/playback.h"

namespace kartex {

// Milliseconds of the clock that drives playback; it never goes back.
using PlaybackClock = std::function<std::int64_t()>;

// Starts at position 0, playing. A seek moves the position by its amount,
// never before the start and never past `duration_ms`, where playback
// stands still as at a file's end.
std::unique_ptr<Playback> open_clock_playback(PlaybackClock clock, std::int64_t duration_ms);

// `openers` with the playback replaced by one on `clock` that ends where
// the file does, as the grabber of `openers` reads its length.
MediaOpeners following_clock(MediaOpeners openers, PlaybackClock clock);

}  // namespace kartex
