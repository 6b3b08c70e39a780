#include "cart/rom_report.h"

#include "contract/hw/cart_header.h"

namespace kartex {

namespace {

// A header text field as it can be shown on any terminal: the padding at
// its end dropped, anything not printable ASCII as '?'.
std::string header_text(std::span<const std::uint8_t> field) {
  std::size_t n = field.size();
  while (n > 0 && (field[n - 1] == 0x00 || field[n - 1] == ' ')) --n;
  std::string text;
  for (std::size_t i = 0; i < n; ++i)
    text += (field[i] >= 0x20 && field[i] <= 0x7E) ? static_cast<char>(field[i]) : '?';
  return text;
}

void start_line(Output& con) {
  if (con.mid_line) con.print("\n");
}

void print_checksums(Output& con, const DumpFacts& facts) {
  con.print("CRC32: %08X\n", facts.digests.crc32);
  con.print("MD5: %s\n", facts.digests.md5.c_str());
  con.print("SHA-1: %s\n", facts.digests.sha1.c_str());
  con.print("SHA-256: %s\n", facts.digests.sha256.c_str());
  con.print("Time: %s\n", progress_summary(facts.length, facts.length, facts.elapsed).c_str());
  con.print("Re-read blocks: %u\n", facts.reread_blocks);
}

}  // namespace

std::optional<RomHeader> parse_rom_header(std::span<const std::uint8_t> first_bytes) {
  if (first_bytes.size() < ROM_HEADER_END) return std::nullopt;
  RomHeader h;
  h.title = header_text(first_bytes.subspan(HDR_TITLE, HDR_TITLE_SIZE));
  h.game_code = header_text(first_bytes.subspan(HDR_GAME_CODE, HDR_GAME_CODE_SIZE));
  h.maker_code = header_text(first_bytes.subspan(HDR_MAKER, HDR_MAKER_SIZE));
  h.version = first_bytes[HDR_VERSION];
  h.checksum = first_bytes[HDR_COMPLEMENT];
  h.computed = header_complement(first_bytes);
  return h;
}

void print_dump_report(Output& con, const DumpFacts& facts) {
  // The report must not run into a bar still drawn under the marks.
  con.progress_end();
  start_line(con);
  if (facts.header) print_header_lines(con, *facts.header);
  print_checksums(con, facts);
}

void print_header_lines(Output& con, const RomHeader& header) {
  con.print("Title: %s\n", header.title.c_str());
  con.print("Game code: %s\n", header.game_code.c_str());
  con.print("Maker code: %s\n", header.maker_code.c_str());
  con.print("Version: %u\n", header.version);
  if (header.checksum_ok())
    con.print("Header checksum: 0x%02X (good)\n", header.checksum);
  else
    con.print("Header checksum: 0x%02X (bad: the header bytes give 0x%02X)\n", header.checksum,
              header.computed);
}

void print_save_report(Output& con, const DumpFacts& facts) {
  con.progress_end();
  start_line(con);
  print_checksums(con, facts);
}

}  // namespace kartex
