#include "common/parse_number.h"

#include <cctype>

namespace kartex {

namespace {

int digit_value(char ch, unsigned base) {
  const int c = std::tolower(static_cast<unsigned char>(ch));
  const int d = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
  return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
}

}  // namespace

ParsedNumber parse_number(const std::string& text, Suffix suffix) {
  using V = ParsedNumber::Verdict;
  std::string digits = text;
  unsigned shift = 0;
  if (suffix == Suffix::Applied && !digits.empty()) {
    const int c = std::toupper(static_cast<unsigned char>(digits.back()));
    if (c == 'K' || c == 'M') {
      shift = c == 'K' ? 10 : 20;
      digits.pop_back();
    }
  }
  bool negative = false;
  if (!digits.empty() && digits[0] == '-') {
    negative = true;
    digits.erase(0, 1);
  }
  unsigned base = 10;
  if (digits.rfind("0x", 0) == 0) {
    base = 16;
    digits.erase(0, 2);
  }
  if (digits.empty()) return {};
  std::uint64_t value = 0;
  bool too_large = false;
  for (char ch : digits) {
    const int d = digit_value(ch, base);
    if (d < 0) return {};
    value = value * base + static_cast<unsigned>(d);
    if (value > static_cast<std::uint64_t>(NUMBER_MAX)) {
      too_large = true;
      value = static_cast<std::uint64_t>(NUMBER_MAX) + 1;  // keeps the sum from overflowing
    }
  }
  // A minus is refused whatever follows it: -0 is no number a user means.
  if (negative) return {V::Negative, 0};
  value <<= shift;
  if (too_large || value > static_cast<std::uint64_t>(NUMBER_MAX)) return {V::TooLarge, 0};
  return {V::Ok, static_cast<std::int32_t>(value)};
}

}  // namespace kartex
