#pragma once
// The agent's CRC-32 requests: one CRC per block of a ROM or save range,
// computed on the console, so that a range can be compared with what the
// host holds without moving its bytes over the link.

#include <cstdint>
#include <span>
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

// The check word of a block write of ours (REQ_FLASH_UPDATE,
// REQ_SAVE_WRITE_CHECKED): the CRC-32 of the block's bytes, then of the
// request's offset and byte count words, so that the agent writes nothing
// from data or arguments that a flipped bit on the link changed.
std::uint32_t write_check(std::span<const std::uint8_t> data, std::uint32_t offset,
                          std::uint32_t bytes_word);

// The check word of one piece of a streamed block (REQ_FLASH_STREAM): the
// same form over the piece, its ROM offset and STREAM_PIECE_BYTES.
std::uint32_t piece_check(std::span<const std::uint8_t> piece, std::uint32_t offset);

// Sends of one block tried before a link that keeps corrupting it is given
// up; nothing of a refused block reaches the chip.
constexpr int WRITE_TRIES = 3;

// Rounds of verify: a block that does not hold what was written is written
// again from the tool's own copy, up to this many verifies in all.
constexpr int VERIFY_ROUNDS = 3;

}  // namespace kartex
