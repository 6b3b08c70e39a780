#pragma once
// Lower-case hex without separators, as the trace file and test dumps show bytes.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kartex {

std::string to_hex(std::span<const std::uint8_t> bytes);
// Returns false on odd length or a non-hex character.
bool from_hex(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace kartex
