#pragma once

#include <ostream>

namespace kartex {

// What vts does and the keypad's keys while it streams: --help and the
// README say it in these words.
constexpr const char* VTS_HELP =
    "Video: kartex vts FILE, or kartex FILE, plays FILE in a window with sound\n"
    "and shows it on the console's screen, 240 x 160 in 216 colours. The\n"
    "console's keypad is the remote control: A full screen on or off, Start\n"
    "pause or play, Right and Left 5 s on or back, R and L 15 s on or back,\n"
    "B stop. With no display or sound device it plays without them.\n";

// The nine command lines, as printed after a command line the tool cannot use.
void print_usage(std::ostream& out);
// The usage followed by the global options, for --help.
void print_help(std::ostream& out);

}  // namespace kartex
