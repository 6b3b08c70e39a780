#pragma once

#include <cstdint>
#include <string>

namespace kartex {

// The only marker of an absent start offset or length.
constexpr std::int32_t NOT_GIVEN = -1;

enum class Suffix { Ignored, Applied };

// Converts a start offset or a length from the command line: base 16 after a
// leading "0x", else base 10; digits up to the first character that is not
// one; beyond 32 bits gives 0xFFFFFFFF; a minus sign negates modulo 2^32.
// With Suffix::Applied, a "k" or "m" right after the digits multiplies by
// 1,024 or 1,048,576 on 32 bits.
std::int32_t parse_number(const std::string& text, Suffix suffix);

}  // namespace kartex
