#pragma once
// CRC-32 of the zlib polynomial computed bit by bit, as the tests' own
// reference for the agent's table-driven requests.

#include <cstdint>
#include <algorithm>
#include <span>
#include <vector>

namespace kartex::test {

inline std::uint32_t crc32_bitwise(std::span<const std::uint8_t> data) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// One CRC per block of `block` bytes of data[at, at + bytes), the last block
// shorter: what REQ_ROM_CRC32 and REQ_SAVE_CRC32 answer.
inline std::vector<std::uint32_t> crc32_blocks(std::span<const std::uint8_t> data, std::size_t at,
                                               std::size_t bytes, std::size_t block) {
  std::vector<std::uint32_t> words;
  for (std::size_t done = 0; block != 0 && done < bytes; done += block)
    words.push_back(crc32_bitwise(data.subspan(at + done, std::min(block, bytes - done))));
  return words;
}

}  // namespace kartex::test
