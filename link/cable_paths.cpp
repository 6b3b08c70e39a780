#include "link/cable_paths.h"

#include <algorithm>
#include <cstdio>

namespace kartex {

std::string pipe_path(std::string_view device_path, Pipe pipe) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "\\if%03dpipe%03d", CABLE_PIPE_INTERFACE,
                static_cast<int>(pipe));
  std::string path(device_path);
  path += suffix;
  return path;
}

std::optional<std::string> device_path_from_detail(std::span<const std::uint8_t> record) {
  if (record.size() <= DETAIL_PATH_OFFSET) return std::nullopt;
  const auto text = record.subspan(DETAIL_PATH_OFFSET);
  const auto end = std::find(text.begin(), text.end(), std::uint8_t{0});
  if (end == text.end() || end == text.begin()) return std::nullopt;
  return std::string(text.begin(), end);
}

}  // namespace kartex
