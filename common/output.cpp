#include "common/output.h"

#include <cstdio>
#include <vector>


namespace kartex {

static std::string vformat(const char* fmt, std::va_list args) {
  std::va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::vector<char> text(static_cast<std::size_t>(n) + 1);
  std::vsnprintf(text.data(), text.size(), fmt, args);
  return std::string(text.data(), static_cast<std::size_t>(n));
}

std::string strprintf(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string text = vformat(fmt, args);
  va_end(args);
  return text;
}

void Output::print(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string text = vformat(fmt, args);
  va_end(args);
  if (text.empty()) return;
  progress_hide();
  mid_line = text.back() != '\n';
  out << text << std::flush;
}

}  // namespace kartex
