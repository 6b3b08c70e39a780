// The units that cartridge, save and transfer sizes are written in.
#pragma once

#include <cstdint>

namespace kartex::test {

inline constexpr std::uint32_t KiB = 1024;
inline constexpr std::uint32_t MiB = 1024 * KiB;

}  // namespace kartex::test
