#include "link/hex.h"

namespace kartex {

std::string to_hex(std::span<const std::uint8_t> bytes) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text.push_back(DIGITS[b >> 4]);
    text.push_back(DIGITS[b & 0xF]);
  }
  return text;
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool from_hex(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.size() % 2 != 0) return false;
  out.clear();
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int hi = hex_digit(text[i]);
    int lo = hex_digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return true;
}

}  // namespace kartex
