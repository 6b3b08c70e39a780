#pragma once
// Text that a console program prints, made safe for the user's terminal: a
// program must not be able to move the cursor, retitle the window or send
// the terminal any other command. Newline, tab and UTF-8 characters pass;
// every other control byte (C0, DEL, the UTF-8 form of the C1 controls such
// as CSI) and every byte that is no part of a valid UTF-8 character is shown
// as \xNN.

#include <string>
#include <string_view>

namespace kartex {

class ShownText {
 public:
  // What to print for the next piece of text. A character cut between two
  // pieces is held back until the next piece completes it.
  std::string feed(std::string_view text);
  // The bytes still held back, shown as \xNN (the program's text ended in
  // the middle of a character).
  std::string finish();

 private:
  std::string held_;
};

// The whole of `text`, for one-off lines such as a path in a diagnostic.
std::string shown_text(std::string_view text);

}  // namespace kartex
