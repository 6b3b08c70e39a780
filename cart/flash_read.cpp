#include <algorithm>
#include <vector>

#include "cart/commands.h"
#include "cart/ranges.h"
#include "cart/rom_dump.h"
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

// Marks and progress for bytes that reached the file: one "R" for each
// 4 KiB of the range begun, however the blocks cut it.
struct Marks {
  Output& con;
  std::uint64_t kept = 0;

  void add(std::size_t bytes) {
    const std::uint64_t before = (kept + ROM_READ_CHUNK - 1) / ROM_READ_CHUNK;
    kept += bytes;
    for (std::uint64_t n = (kept + ROM_READ_CHUNK - 1) / ROM_READ_CHUNK; n > before; --n) con.mark('R');
    con.progress_add(bytes);
  }
};

// A block that changed on the link, asked for again on its own; after
// ROM_READ_TRIES reads in all the dump fails with one line.
DumpedBlock read_again(CableLink& link, DumpedBlock block, std::uint32_t& rereads) {
  const auto bytes = static_cast<std::uint32_t>(block.bytes.size());
  for (int attempt = 2; !block.good; ++attempt) {
    if (attempt > ROM_READ_TRIES)
      fail(strprintf("the ROM bytes at 0x%X (0x%X bytes) arrived corrupted %d times over the "
                     "link; giving up (check the cable and the cartridge's contacts)",
                     block.offset, bytes, ROM_READ_TRIES));
    ++rereads;
    dump_rom(link, block.offset, bytes, [&](DumpedBlock&& again) { block = std::move(again); });
  }
  return block;
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
  const std::uint64_t end = std::uint64_t{from} + bytes;

  // The console sends whole words in blocks of DUMP_BLOCK, each with its
  // CRC, or names a block's one repeated value instead of sending it; the
  // bytes of the words around the range are dropped here.
  const auto began = con.now();
  Digests digests;
  DumpFacts facts;
  std::vector<std::uint8_t> header;
  Marks marks{con};
  std::size_t erased_blocks = 0, filled_blocks = 0;
  auto keep = [&](const DumpedBlock& b) {
    const std::uint64_t lo = std::max<std::uint64_t>(b.offset, from);
    const std::uint64_t hi = std::min<std::uint64_t>(b.offset + b.bytes.size(), end);
    if (lo >= hi) return;
    const auto data = std::span(b.bytes).subspan(static_cast<std::size_t>(lo - b.offset),
                                                 static_cast<std::size_t>(hi - lo));
    sink.write(data);
    digests.update(data);
    if (header.size() < ROM_HEADER_END)
      header.insert(header.end(), data.begin(),
                    data.begin() + static_cast<std::ptrdiff_t>(
                                       std::min(data.size(), ROM_HEADER_END - header.size())));
    if (b.filled) ++(b.value == 0xFFFF ? erased_blocks : filled_blocks);
    marks.add(data.size());
  };
  con.progress_start(bytes);
  // Blocks behind one that must be read again wait for it, in order.
  std::vector<DumpedBlock> held;
  if (bytes != 0) {
    const std::uint32_t first = from & ~3u;
    const auto last_end = static_cast<std::uint32_t>((end + 3) & ~std::uint64_t{3});
    dump_rom(link, first, last_end - first, [&](DumpedBlock&& b) {
      if (held.empty() && b.good) keep(b);
      else held.push_back(std::move(b));
    });
  }
  for (DumpedBlock& b : held) keep(read_again(link, std::move(b), facts.reread_blocks));
  con.progress_end();
  if (con.mid_line) con.print("\n");
  if (erased_blocks)
    con.print("%s of 0x%X bytes filled in without reading %s.\n",
              count_of(erased_blocks, "erased block").c_str(), DUMP_BLOCK,
              erased_blocks == 1 ? "it" : "them");
  if (filled_blocks)
    con.print("%s of 0x%X bytes holding one repeated value filled in without reading %s.\n",
              count_of(filled_blocks, "block").c_str(), DUMP_BLOCK, filled_blocks == 1 ? "it" : "them");
  facts.offset = from;
  facts.length = bytes;
  facts.whole = start == 0 && length == cart.rom_size;
  if (facts.whole) facts.header = parse_rom_header(header);
  facts.digests = digests.finish();
  facts.elapsed = con.now() - began;
  facts.blank_blocks = static_cast<std::uint32_t>(erased_blocks);
  facts.filled_blocks = static_cast<std::uint32_t>(filled_blocks);
  print_dump_report(con, facts);
  return facts;
}

}  // namespace kartex
