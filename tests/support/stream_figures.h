#pragma once
// The three lines a video stream ends with: "\ntime:%ds\n", "%8.4f fps\n"
// and "%ld BPS\n", read back from a run's standard output.

#include <cstddef>
#include <optional>
#include <string>

namespace kartex::test {

struct StreamFigures {
  std::size_t at = 0;    // where "\ntime:" begins
  long seconds = -1;
  std::string fps;       // as printed, padding included
  std::string bps;
};

inline std::optional<StreamFigures> stream_figures(const std::string& text) {
  StreamFigures f;
  f.at = text.find("\ntime:");
  if (f.at == std::string::npos) return std::nullopt;
  const std::size_t time_end = text.find("s\n", f.at);
  const std::size_t fps_end = text.find(" fps\n", f.at);
  if (time_end == std::string::npos || fps_end == std::string::npos || fps_end < time_end) return std::nullopt;
  const std::size_t bps_from = fps_end + 5;
  const std::size_t bps_end = text.find(" BPS\n", bps_from);
  if (bps_end == std::string::npos) return std::nullopt;
  const std::string seconds = text.substr(f.at + 6, time_end - f.at - 6);
  f.fps = text.substr(time_end + 2, fps_end - time_end - 2);
  f.bps = text.substr(bps_from, bps_end - bps_from);
  if (seconds.empty() || seconds.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  if (f.bps.empty() || f.bps.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  if (f.fps.find('\n') != std::string::npos) return std::nullopt;
  f.seconds = std::stol(seconds);
  return f;
}

}  // namespace kartex::test
