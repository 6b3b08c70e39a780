// Printed text on the user's terminal: a program's text shows its control
// bytes as \xNN instead of sending the terminal commands, and keeps UTF-8.

#include <gtest/gtest.h>

#include <vector>

#include "host/shown_text.h"

namespace kartex::test {
namespace {

TEST(ShownText, ControlBytesAreShownEscapedAndCharactersKept) {
  struct Case {
    const char* name;
    std::string text, shown;
  };
  const Case cases[] = {
      {"plain text, newline and tab", "line 1\n\tline 2 ~!", "line 1\n\tline 2 ~!"},
      {"clear screen", "\x1b[2J", "\\x1B[2J"},
      {"window title", "\x1b]0;owned\x07", "\\x1B]0;owned\\x07"},
      {"carriage return, backspace, NUL-less bytes", "a\rb\bc\x01", "a\\x0Db\\x08c\\x01"},
      {"DEL", "\x7f", "\\x7F"},
      {"UTF-8 characters", "caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80 \xc2\xa9", "caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80 \xc2\xa9"},
      {"CSI in its UTF-8 form", "\xc2\x9b" "31m", "\\xC2\\x9B31m"},
      {"a lone CSI byte", "\x9b" "31m", "\\x9B31m"},
      {"overlong slash", "\xc0\xaf", "\\xC0\\xAF"},
      {"surrogate", "\xed\xa0\x80", "\\xED\\xA0\\x80"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
      {"a character cut at the end", "ab\xe2\x82", "ab\\xE2\\x82"},
      {"a lead byte before ASCII", "\xc3x", "\\xC3x"},
  };
  for (const Case& tc : cases) EXPECT_EQ(shown_text(tc.text), tc.shown) << tc.name;
}

TEST(ShownText, ACharacterCutBetweenTwoPrintsStaysWhole) {
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    std::string shown;  // all pieces, then finish()
  };
  const Case cases[] = {
      {"two-byte character", {"caf\xc3", "\xa9!"}, "caf\xc3\xa9!"},
      {"four-byte character over three pieces", {"\xf0\x9f", "\x98", "\x80."}, "\xf0\x9f\x98\x80."},
      {"CSI cut after its lead byte", {"\xc2", "\x9b" "2J"}, "\\xC2\\x9B2J"},
      {"a cut character that never ends", {"ok \xe2\x82", "x"}, "ok \\xE2\\x82x"},
      {"text that ends inside a character", {"end \xf0\x9f"}, "end \\xF0\\x9F"},
  };
  for (const Case& tc : cases) {
    ShownText shown;
    std::string out;
    for (const std::string& piece : tc.pieces) out += shown.feed(piece);
    out += shown.finish();
    EXPECT_EQ(out, tc.shown) << tc.name;
  }
}

}  // namespace
}  // namespace kartex::test
