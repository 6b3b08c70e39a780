#include "common/parse_number.h"

#include <cctype>

namespace kartex {

std::int32_t parse_number(const std::string& text, Suffix suffix) {
  const bool hex = text.rfind("0x", 0) == 0;
  const unsigned base = hex ? 16 : 10;
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  auto digit = [&](std::size_t at) -> int {
    if (at >= text.size()) return -1;
    int c = std::tolower(static_cast<unsigned char>(text[at]));
    int d = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
  };
  // In base 16 a "0x" prefix is skipped when a hex digit follows it.
  if (base == 16 && i + 1 < text.size() && text[i] == '0' &&
      (text[i + 1] == 'x' || text[i + 1] == 'X') && digit(i + 2) >= 0)
    i += 2;

  std::uint64_t value = 0;
  bool overflow = false;
  for (int d; (d = digit(i)) >= 0; ++i) {
    value = value * base + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFu) {
      overflow = true;
      value = 0xFFFFFFFFu;
    }
  }
  auto result = static_cast<std::uint32_t>(value);
  if (overflow) {
    result = 0xFFFFFFFFu;
  } else if (negative) {
    result = 0u - result;
  }

  if (suffix == Suffix::Applied && i < text.size()) {
    int c = std::toupper(static_cast<unsigned char>(text[i]));
    if (c == 'K') result <<= 10;
    else if (c == 'M') result <<= 20;
  }
  return static_cast<std::int32_t>(result);
}

}  // namespace kartex
