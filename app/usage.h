#pragma once

#include <ostream>

namespace kartex {

constexpr const char* BANNER =
    "*********** TETHERBOX USB CONSOLE TOOL Ver 3.54 + RTC + VTS ************\n";

// The nine command lines, as printed after a command line the tool cannot use.
void print_usage(std::ostream& out);
// The usage followed by the global options, for --help.
void print_help(std::ostream& out);

}  // namespace kartex
