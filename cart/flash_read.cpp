#include <algorithm>
#include <vector>

#include "cart/agent_crc.h"
#include "cart/commands.h"
#include "cart/ranges.h"
#include "cart/rom_reader.h"
#include "cart/rom_report.h"
#include "common/digest.h"
#include "common/digests.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "common/failure.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

// Marks and progress for bytes that reached the file, one "R" per read
// piece of up to 4 KiB.
void show_pieces(Output& con, std::size_t bytes) {
  for (std::size_t at = 0; at < bytes; at += ROM_READ_CHUNK) con.mark('R');
  con.progress_add(bytes);
}

}  // namespace

DumpFacts flash_read(CableLink& link, const CartInfo& cart, Range range, ByteSink& sink,
                     Output& con) {
  const std::int32_t length = range.length == NOT_GIVEN ? cart.rom_size : range.length;
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  require_cartridge(cart);
  if (cart.rom_size <= 0)
    fail(strprintf("the cartridge reports a ROM size of 0x%X", static_cast<unsigned>(cart.rom_size)));
  // Past the ROM's end the console reads the bus, not the cartridge.
  require_inside("ROM", cart.rom_size, start, length);
  con.print(LINE_BYTES_READING, static_cast<unsigned>(length));
  const auto from = static_cast<std::uint32_t>(start);
  const auto bytes = static_cast<std::uint32_t>(length);

  // The console's CRC of every block first: erased blocks never cross the
  // link, and every block that does is checked against its CRC.
  const auto began = con.now();
  const std::vector<std::uint32_t> crcs = rom_crcs(link, from, bytes, DUMP_BLOCK);
  Digests digests;
  DumpFacts facts;
  std::vector<std::uint8_t> header;
  auto keep = [&](std::span<const std::uint8_t> data) {
    sink.write(data);
    digests.update(data);
    if (header.size() < ROM_HEADER_END)
      header.insert(header.end(), data.begin(),
                    data.begin() + static_cast<std::ptrdiff_t>(
                                       std::min(data.size(), ROM_HEADER_END - header.size())));
  };
  con.progress_start(bytes);
  std::size_t blank_blocks = 0;
  for (std::size_t i = 0; i < crcs.size(); ++i) {
    const std::uint32_t offset = from + static_cast<std::uint32_t>(i) * DUMP_BLOCK;
    const std::uint32_t n = std::min<std::uint32_t>(DUMP_BLOCK, from + bytes - offset);
    if (crcs[i] == crc32_blank(n)) {
      keep(std::vector<std::uint8_t>(n, 0xFF));
      show_pieces(con, n);
      ++blank_blocks;
      continue;
    }
    read_rom_checked(
        link, offset, n, crcs[i],
        [&](std::span<const std::uint8_t> piece) {
          keep(piece);
          show_pieces(con, piece.size());
        },
        &facts.reread_blocks);
  }
  con.progress_end();
  if (con.mid_line) con.print("\n");
  if (blank_blocks)
    con.print("%s of 0x%X bytes filled in without reading %s.\n",
              count_of(blank_blocks, "erased block").c_str(), DUMP_BLOCK,
              blank_blocks == 1 ? "it" : "them");
  facts.offset = from;
  facts.length = bytes;
  facts.whole = start == 0 && length == cart.rom_size;
  if (facts.whole) facts.header = parse_rom_header(header);
  facts.digests = digests.finish();
  facts.elapsed = con.now() - began;
  facts.blank_blocks = static_cast<std::uint32_t>(blank_blocks);
  print_dump_report(con, facts);
  return facts;
}

}  // namespace kartex
