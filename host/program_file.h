#pragma once
// The program file of a program load, read whole before the cable is
// touched.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "contract/wire.h"

namespace kartex {

// The most one upload carries: the word count of a transfer is 16 bits.
constexpr std::uint32_t PROGRAM_MAX_BYTES = CMD_MAX_WORDS * 4u;

// The whole file, or nullopt when it cannot be opened or read (`reason`,
// when given, then holds the system's own words for why). Throws
// Failure for an empty file and for one that no upload can carry.
std::optional<std::vector<std::uint8_t>> read_program_file(const std::string& name,
                                                           std::string* reason = nullptr);

}  // namespace kartex
