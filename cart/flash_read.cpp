#include <algorithm>
#include <vector>

#include "app/console.h"
#include "cart/commands.h"
#include "link/cable_link.h"
#include "link/failure.h"

namespace kartex {

void flash_read(CableLink& link, const CartInfo& cart, Range range, ByteSink& sink,
                Console& con) {
  const std::int32_t length = range.length == NOT_GIVEN ? cart.rom_size : range.length;
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  if (length < 0)
    fail(strprintf("the cartridge reports a ROM size of 0x%X; give a length",
                   static_cast<unsigned>(length)));
  // A range past the ROM's end is read as asked: what comes back is the bus.
  con.print("0x%X bytes reading.\n", static_cast<unsigned>(length));
  link.agent_request(REQ_ROM_READ, ROM_BASE + static_cast<std::uint32_t>(start),
                     static_cast<std::uint32_t>(length), 0);
  std::vector<std::uint8_t> buffer(ROM_READ_CHUNK);
  std::int32_t left = length;
  // One pass even for a length of 0: the agent has announced an empty stream.
  do {
    const std::int32_t piece = std::min(left, ROM_READ_CHUNK);
    const std::uint32_t words = words_for(static_cast<std::uint32_t>(piece));
    link.read_words_long(std::span(buffer).first(words * 4));
    sink.write(std::span(buffer).first(static_cast<std::size_t>(piece)));
    con.mark('R');
    left -= piece;
  } while (left > 0);
}

}  // namespace kartex
