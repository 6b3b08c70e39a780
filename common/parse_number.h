#pragma once

#include <cstdint>
#include <string>

namespace kartex {

// The only marker of an absent start offset or length.
constexpr std::int32_t NOT_GIVEN = -1;

// The largest start offset or length: they are signed 32-bit values.
constexpr std::int64_t NUMBER_MAX = 0x7FFFFFFF;

enum class Suffix { Ignored, Applied };

struct ParsedNumber {
  enum class Verdict { Ok, NotANumber, Negative, TooLarge } verdict = Verdict::NotANumber;
  std::int32_t value = 0;  // 0 to NUMBER_MAX when Ok
};

// Converts a start offset or a length from the command line. The whole text
// must be the number: hex digits after a leading "0x", else decimal digits
// (a leading 0 is no octal). With Suffix::Applied a single "k" or "m" (either
// case) may end it, multiplying by 1,024 or 1,048,576. A leading minus gives
// Negative; a value beyond NUMBER_MAX, TooLarge; anything else that is not
// wholly such a number, NotANumber.
ParsedNumber parse_number(const std::string& text, Suffix suffix);

}  // namespace kartex
