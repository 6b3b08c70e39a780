#include "host/shown_text.h"

#include <cstdint>

#include "common/output.h"

namespace kartex {

namespace {

void escape(std::string& out, unsigned char byte) { out += strprintf("\\x%02X", byte); }

// Length of the UTF-8 character that `lead` starts (0: no lead byte), and
// the range its second byte must lie in so that the character is neither
// overlong nor a surrogate nor beyond U+10FFFF.
struct Lead {
  std::size_t length;
  unsigned char low, high;
};

Lead lead_of(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b >= 0xE1 && b <= 0xEC) return {3, 0x80, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xEE && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

bool is_continuation(unsigned char b) { return b >= 0x80 && b <= 0xBF; }

// How many bytes of a valid character start at `at`: 0 when the bytes there
// are no valid character, SIZE_MAX when they could still become one.
std::size_t valid_at(std::string_view s, std::size_t at) {
  const auto b = static_cast<unsigned char>(s[at]);
  const Lead lead = lead_of(b);
  if (lead.length == 0) return 0;
  for (std::size_t i = 1; i < lead.length; ++i) {
    if (at + i >= s.size()) return SIZE_MAX;
    const auto c = static_cast<unsigned char>(s[at + i]);
    if (i == 1 ? (c < lead.low || c > lead.high) : !is_continuation(c)) return 0;
  }
  // U+0080 to U+009F are the C1 controls; CSI among them starts escape
  // sequences on many terminals.
  if (b == 0xC2 && static_cast<unsigned char>(s[at + 1]) <= 0x9F) return 0;
  return lead.length;
}

}  // namespace

std::string ShownText::feed(std::string_view piece) {
  std::string text = held_;
  text.append(piece);
  held_.clear();
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b == '\n' || b == '\t' || (b >= 0x20 && b < 0x7F)) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    if (b < 0x80) {
      escape(out, b);
      ++i;
      continue;
    }
    const std::size_t n = valid_at(text, i);
    if (n == SIZE_MAX) {
      held_ = text.substr(i);
      break;
    }
    if (n == 0) {
      escape(out, b);
      ++i;
      continue;
    }
    out.append(text, i, n);
    i += n;
  }
  return out;
}

std::string ShownText::finish() {
  std::string out;
  for (char c : held_) escape(out, static_cast<unsigned char>(c));
  held_.clear();
  return out;
}

std::string shown_text(std::string_view text) {
  ShownText shown;
  std::string out = shown.feed(text);
  return out + shown.finish();
}

}  // namespace kartex
