#pragma once
// The figures printed when a stream ends: its whole seconds, frames per
// second and link bits per second of page data.

#include <cstdint>
#include <string>

namespace kartex {

// Bits in one mode-4 page: 240 x 160 x 8.
constexpr std::int64_t PAGE_BITS = 307200;

// "\ntime:%ds\n", "%8.4f fps\n", "%ld BPS\n". A stream that ended within the
// second it started in has no rate: both figures read 0.
std::string stream_stats(std::int64_t frames, std::int64_t elapsed_seconds);

// "%lld link words a frame\n": the mean, key reads included, rounded; no
// line for a stream without frames.
std::string link_words_line(std::int64_t frames, std::int64_t link_words);

}  // namespace kartex
