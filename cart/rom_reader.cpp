#include "cart/rom_reader.h"

#include <algorithm>

#include "cart/agent_crc.h"
#include "cart/commands.h"
#include "common/digest.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "common/failure.h"

namespace kartex {

// The read takes the console address of the first byte, not its offset.
static_assert(wire::request_arg(REQ_ROM_READ, 1) == wire::Arg::ROM_ADDRESS);

void stream_rom(CableLink& link, std::int64_t offset, std::int64_t length, const PieceFn& piece) {
  // The agent streams ROM as halfwords: an odd start is read from the byte
  // before it, which is then dropped.
  const std::int64_t lead = offset & 1;
  std::int64_t from = offset - lead;
  const std::int64_t end = offset + length;
  std::vector<std::uint8_t> buffer(ROM_READ_CHUNK);
  std::size_t skip = static_cast<std::size_t>(lead);
  // The console sees 32 MiB of ROM at a time, through the mapper's page:
  // one request per page that the range touches.
  do {
    const std::int64_t page_end = (from / ROM_PAGE_SPAN + 1) * ROM_PAGE_SPAN;
    const std::int64_t to = std::min(end, page_end);
    link.agent_request(REQ_ROM_READ, ROM_BASE + static_cast<std::uint32_t>(from),
                       static_cast<std::uint32_t>(to - from), 0);
    std::int64_t left = to - from;
    do {
      const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, ROM_READ_CHUNK));
      link.read_words_long(std::span(buffer).first(words_for(static_cast<std::uint32_t>(n)) * 4));
      piece(std::span(buffer).subspan(skip, n - skip));
      skip = 0;
      left -= static_cast<std::int64_t>(n);
    } while (left > 0);
    from = to;
  } while (from < end);
}

std::vector<std::uint8_t> read_rom_checked(CableLink& link, std::uint32_t offset,
                                           std::uint32_t length,
                                           std::optional<std::uint32_t> known_crc,
                                           const PieceFn& piece, std::uint32_t* rereads) {
  std::vector<std::uint8_t> data;
  for (int attempt = 1;; ++attempt) {
    if (attempt > 1 && rereads) ++*rereads;
    const std::uint32_t want =
        known_crc && attempt == 1 ? *known_crc : rom_crcs(link, offset, length, length).at(0);
    data.clear();
    data.reserve(length);
    stream_rom(link, offset, length, [&](std::span<const std::uint8_t> bytes) {
      data.insert(data.end(), bytes.begin(), bytes.end());
    });
    if (crc32_of(data) == want) break;
    if (attempt == ROM_READ_TRIES)
      fail(strprintf("the ROM bytes at 0x%X (0x%X bytes) arrived corrupted %d times over the "
                     "link; giving up (check the cable and the cartridge's contacts)",
                     offset, length, ROM_READ_TRIES));
  }
  if (piece)
    for (std::size_t at = 0; at < data.size(); at += ROM_READ_CHUNK)
      piece(std::span(data).subspan(at, std::min<std::size_t>(ROM_READ_CHUNK, data.size() - at)));
  return data;
}

}  // namespace kartex
