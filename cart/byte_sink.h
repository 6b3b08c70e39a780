#pragma once

#include <cstdint>
#include <span>

namespace kartex {

// Where a read command puts the bytes it brings back from the cartridge.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace kartex
