#pragma once
// The agent's CRC-32 requests: one CRC per block of a ROM or save range,
// computed on the console, so that a range can be compared with what the
// host holds without moving its bytes over the link.

#include <cstdint>
#include <vector>

namespace kartex {

class CableLink;

// CRC-32 (zlib polynomial) of each `block` bytes of [offset, offset + bytes)
// of the ROM; the last block may be shorter.
std::vector<std::uint32_t> rom_crcs(CableLink& link, std::uint32_t offset, std::uint32_t bytes,
                                    std::uint32_t block);
// The same over save memory, by save offset (memory-mapped saves only).
std::vector<std::uint32_t> save_crcs(CableLink& link, std::uint32_t offset, std::uint32_t bytes,
                                     std::uint32_t block);

}  // namespace kartex
