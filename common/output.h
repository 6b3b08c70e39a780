#pragma once
// The tool's text output: its own lines and progress marks on standard
// output, diagnostics on standard error.

#include <cstdarg>
#include <ostream>
#include <string>

namespace kartex {

std::string strprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

struct Output {
  std::ostream& out;
  std::ostream& err;

  // Formatted text on standard output, shown at once.
  void print(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // One progress letter ("R", "W", "E") without a line end.
  void mark(char letter) {
    out << letter << std::flush;
    mid_line = true;
  }

  // True while progress marks stand on an unfinished line.
  bool mid_line = false;
};

}  // namespace kartex
