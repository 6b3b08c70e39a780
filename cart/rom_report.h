#pragma once
// What the tool prints after a dump: the cartridge header's identity and
// checksum, then the CRC-32 and SHA-1 of the dumped bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/output.h"

namespace kartex {

struct RomHeader {
  std::string title;       // printable ASCII only, trailing NULs/spaces dropped; other bytes shown as '?'
  std::string game_code;   // 4 chars, same rule
  std::string maker_code;  // 2 chars, same rule
  unsigned version = 0;
  std::uint8_t checksum = 0;  // stored at 0xBD
  std::uint8_t computed = 0;  // what the bytes 0xA0..0xBC give
  bool checksum_ok() const { return checksum == computed; }
};

// The header ends with its two reserved bytes after the checksum.
constexpr std::size_t ROM_HEADER_END = 0xC0;

// nullopt when fewer than ROM_HEADER_END bytes are given.
std::optional<RomHeader> parse_rom_header(std::span<const std::uint8_t> first_bytes);

// The lines printed after a dump: the header lines (when header is given),
// then the CRC-32 and SHA-1 lines.
void print_dump_report(Output& con, const RomHeader* header, std::uint32_t crc,
                       const std::string& sha1);

// After a save read: one CRC-32 line.
void print_save_report(Output& con, std::uint32_t crc);

}  // namespace kartex
