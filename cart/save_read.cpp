#include <algorithm>
#include <vector>

#include "cart/agent_crc.h"
#include "cart/commands.h"
#include "cart/ranges.h"
#include "cart/rom_report.h"
#include "common/digest.h"
#include "common/digests.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "common/failure.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

// Reads of one save block before a block that keeps arriving corrupted is
// given up.
constexpr int SAVE_READ_TRIES = 3;

using Bytes = std::vector<std::uint8_t>;

void read_block(CableLink& link, const SaveGeometry& geometry, std::uint32_t offset,
                std::span<std::uint8_t> buffer) {
  link.agent_request(geometry.read_request, geometry.read_base + offset,
                     static_cast<std::uint32_t>(buffer.size()), 0);
  link.read_words(buffer);
}

// Whether a block read arrived as the save memory holds it: against the
// console's CRC where the save is memory-mapped, against a second read of
// an EEPROM.
bool arrived_whole(CableLink& link, const CartInfo& cart, const SaveGeometry& geometry,
                   std::uint32_t offset, std::span<const std::uint8_t> got) {
  const auto size = static_cast<std::uint32_t>(got.size());
  if (save_is_mapped(cart.save_type)) return save_crcs(link, offset, size, size).at(0) == crc32_of(got);
  if (save_is_eeprom(cart.save_type)) {
    Bytes again(got.size());
    read_block(link, geometry, offset, again);
    return std::equal(again.begin(), again.end(), got.begin());
  }
  return true;
}

}  // namespace

void convert_eeprom_order(const CartInfo& cart, EepromOrder order, std::span<std::uint8_t> data) {
  constexpr std::size_t EEPROM_BLOCK = 8;
  if (order == EepromOrder::Tool || !save_is_eeprom(cart.save_type)) return;
  for (std::size_t at = 0; at + EEPROM_BLOCK <= data.size(); at += EEPROM_BLOCK)
    std::reverse(data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + EEPROM_BLOCK));
}

std::string boundary_message(std::int32_t save_block) {
  return strprintf(LINE_SAVE_BOUNDARY,
                   static_cast<unsigned>(save_block));
}

DumpFacts save_read(CableLink& link, const CartInfo& cart, Range range, ByteSink& sink,
                    Output& con, EepromOrder order) {
  const std::int32_t length = range.length == NOT_GIVEN ? cart.save_size : range.length;
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  const SaveGeometry geometry = save_geometry(cart.save_type, cart.variant);
  require_cartridge(cart);
  require_save_memory(cart, "read");
  require_inside("save memory", cart.save_size, start, length);
  con.print(LINE_BYTES_READING, static_cast<unsigned>(length));
  // Whole blocks from the block the range starts in (banked SRAM is read a
  // bank at a time, an EEPROM in whole 8-byte blocks); the file keeps only
  // the bytes asked for.
  const std::int64_t block = cart.save_block;
  const std::int64_t first = start / block * block;
  const std::int64_t end = std::int64_t{start} + length;
  Bytes buffer(static_cast<std::size_t>(block));
  const auto began = con.now();
  Digests digests;
  DumpFacts facts;
  con.progress_start(static_cast<std::uint64_t>(length));
  for (std::int64_t pos = first; pos < end; pos += block) {
    const auto offset = static_cast<std::uint32_t>(pos);
    for (int attempt = 1;; ++attempt) {
      read_block(link, geometry, offset, buffer);
      if (attempt == 1) con.mark('R');
      else ++facts.reread_blocks;
      if (arrived_whole(link, cart, geometry, offset, buffer)) break;
      if (attempt == SAVE_READ_TRIES)
        fail(strprintf("the save block at 0x%X arrived corrupted %d times over the link; giving "
                       "up (check the cable and the cartridge's contacts)",
                       offset, SAVE_READ_TRIES));
    }
    convert_eeprom_order(cart, order, buffer);
    const std::int64_t from = std::max<std::int64_t>(start, pos) - pos;
    const std::int64_t to = std::min<std::int64_t>(end, pos + block) - pos;
    const auto asked = std::span(buffer).subspan(static_cast<std::size_t>(from),
                                                 static_cast<std::size_t>(to - from));
    sink.write(asked);
    digests.update(asked);
    con.progress_add(asked.size());
  }
  con.progress_end();
  facts.offset = static_cast<std::uint32_t>(start);
  facts.length = static_cast<std::uint32_t>(length);
  facts.whole = start == 0 && length == cart.save_size;
  facts.digests = digests.finish();
  facts.elapsed = con.now() - began;
  print_save_report(con, facts);
  return facts;
}

}  // namespace kartex
