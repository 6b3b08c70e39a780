#pragma once
// The video stream's 16-bit operations, built as the encoder writes them.

#include <cstdint>

#include "contract/wire.h"

namespace kartex::test {

inline std::uint16_t op(std::uint32_t kind, std::uint32_t n) {
  return static_cast<std::uint16_t>(kind << VIDEO_OP_SHIFT | n);
}
inline std::uint16_t copy_other(std::uint32_t n) {
  return static_cast<std::uint16_t>(op(VIDEO_OP_COPY, n) | VIDEO_COPY_OTHER);
}

}  // namespace kartex::test
