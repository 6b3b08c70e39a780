#pragma once
// What the tool prints after a dump: the cartridge header's identity and
// checksum, the dumped bytes' CRC-32, MD5, SHA-1 and SHA-256, the time the
// dump took and the blocks read again.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/digests.h"
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

// What a dump (fr) or a save read (sr) brought back, for the report's
// lines, the catalogue check and the report file.
struct DumpFacts {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  bool whole = false;                // the whole ROM or save memory
  std::optional<RomHeader> header;   // after a whole ROM
  DigestSet digests;
  std::chrono::nanoseconds elapsed{0};
  std::uint32_t reread_blocks = 0;   // blocks that arrived corrupted and were read again
  std::uint32_t blank_blocks = 0;    // erased blocks filled in without reading them
  std::uint32_t filled_blocks = 0;   // blocks of one other repeated value filled in without reading them
};

// The lines printed after a dump: the header lines (when there is a
// header), the checksum lines, the time and mean speed, the re-read blocks.
void print_dump_report(Output& con, const DumpFacts& facts);

// Title, game code, maker code, version and the header's check.
void print_header_lines(Output& con, const RomHeader& header);

// After a save read: the checksum lines, the time and the re-read blocks.
void print_save_report(Output& con, const DumpFacts& facts);

}  // namespace kartex
