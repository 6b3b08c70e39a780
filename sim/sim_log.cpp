#include "sim/sim_log.h"

#include <cstdio>

namespace kartex {

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string hex_short(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

void SimLog::add(std::string line) {
  ++line_count_;
  if (echo_ && line_count_ <= ECHOED_LINES) *echo_ << "sim: " << line << '\n';
  if (echo_ && line_count_ == ECHOED_LINES + 1) *echo_ << "sim: further log lines are not shown\n";
  if (lines_.size() < KEPT_LINES) lines_.push_back(std::move(line));
}

void SimLog::misuse(std::string_view part, std::string_view what) {
  std::string line = std::string(part) + ": " + std::string(what);
  ++misuse_count_;
  if (misuses_.size() < KEPT_LINES) misuses_.push_back(line);
  add(std::move(line));
}

void SimLog::note(std::string_view part, std::string_view what) {
  add(std::string(part) + ": " + std::string(what));
}

}  // namespace kartex
