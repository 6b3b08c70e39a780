#pragma once
// A count or index in a --sim key's value: decimal digits only (no sign,
// no spaces, no hex), at most `max_digits` of them so that the value fits.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

namespace kartex {

inline std::optional<std::uint64_t> decimal_text(const std::string& s, std::size_t max_digits) {
  if (s.empty() || s.size() > max_digits ||
      !std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
    return std::nullopt;
  return std::stoull(s);
}

}  // namespace kartex
