#pragma once
// Reading ROM over the link: the raw stream of the agent's ROM read, and a
// read whose bytes are checked against the console's own CRC of the range.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace kartex {

class CableLink;

// Called with each piece (at most 4 KiB) as it arrives.
using PieceFn = std::function<void(std::span<const std::uint8_t>)>;

// The bytes [offset, offset + length) of the ROM, one read request per
// 32 MiB page the range touches. A length of 0 still announces one empty
// stream.
void stream_rom(CableLink& link, std::int64_t offset, std::int64_t length, const PieceFn& piece);

// Reads tried before a range that keeps arriving corrupted is given up.
constexpr int ROM_READ_TRIES = 3;

// The range, checked against the console's CRC-32 of it (`known_crc` when
// the caller already has it, else asked first). A range whose bytes arrive
// corrupted is read again, with a fresh CRC; after ROM_READ_TRIES the read
// fails with one line. `piece` sees the pieces of the read that was kept;
// `rereads`, when given, counts the reads made again.
std::vector<std::uint8_t> read_rom_checked(CableLink& link, std::uint32_t offset,
                                           std::uint32_t length,
                                           std::optional<std::uint32_t> known_crc,
                                           const PieceFn& piece = nullptr,
                                           std::uint32_t* rereads = nullptr);

}  // namespace kartex
