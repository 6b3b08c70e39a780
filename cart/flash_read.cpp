#include <algorithm>
#include <vector>

#include "common/output.h"
#include "cart/commands.h"
#include "link/cable_link.h"
#include "link/failure.h"

namespace kartex {

void flash_read(CableLink& link, const CartInfo& cart, Range range, ByteSink& sink,
                Output& con) {
  const std::int32_t length = range.length == NOT_GIVEN ? cart.rom_size : range.length;
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  if (length < 0)
    fail(strprintf("the cartridge reports a ROM size of 0x%X; give a length",
                   static_cast<unsigned>(length)));
  // A range past the ROM's end is read as asked: what comes back is the bus.
  con.print("0x%X bytes reading.\n", static_cast<unsigned>(length));
  // The agent streams ROM as halfwords: an odd start is read from the byte
  // before it, which is then dropped.
  const std::int32_t lead = start & 1;
  std::int64_t from = start - lead;
  const std::int64_t end = std::int64_t{start} + length;
  std::vector<std::uint8_t> buffer(ROM_READ_CHUNK);
  std::size_t skip = static_cast<std::size_t>(lead);
  // The console sees 32 MiB of ROM at a time, through the mapper's page:
  // one request per page that the range touches. One pass even for a
  // length of 0: the agent has announced an empty stream.
  do {
    const std::int64_t page_end = (from / ROM_PAGE_SPAN + 1) * ROM_PAGE_SPAN;
    const std::int64_t to = std::min(end, page_end);
    link.agent_request(REQ_ROM_READ, ROM_BASE + static_cast<std::uint32_t>(from),
                       static_cast<std::uint32_t>(to - from), 0);
    std::int64_t left = to - from;
    do {
      const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(left, ROM_READ_CHUNK));
      const std::uint32_t words = words_for(static_cast<std::uint32_t>(piece));
      link.read_words_long(std::span(buffer).first(words * 4));
      sink.write(std::span(buffer).subspan(skip, piece - skip));
      skip = 0;
      con.mark('R');
      left -= static_cast<std::int64_t>(piece);
    } while (left > 0);
    from = to;
  } while (from < end);
}

}  // namespace kartex
