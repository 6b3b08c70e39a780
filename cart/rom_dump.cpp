#include "cart/rom_dump.h"

#include <algorithm>

#include "cart/agent_crc.h"
#include "common/digest.h"
#include "common/failure.h"
#include "common/output.h"
#include "link/cable_link.h"

namespace kartex {

namespace {

static_assert(wire::request_arg(REQ_ROM_DUMP, 1) == wire::Arg::ROM_OFFSET);
static_assert(wire::request_arg(REQ_ROM_DUMP, 3) == wire::Arg::CHECK_WORD);

enum class Shape { Sent, Filled, Refused, Unknown };

Shape shape_of(std::uint32_t header) {
  if (header == DUMP_SENT) return Shape::Sent;
  if (header == DUMP_REFUSED) return Shape::Refused;
  if ((header & DUMP_TAG_MASK) == DUMP_FILL) return Shape::Filled;
  return Shape::Unknown;
}

struct Header {
  Shape shape = Shape::Unknown;
  std::uint16_t value = 0;
  bool sure = false;  // the header and its complement agreed
};

// A bit flipped on the link changes one of the two words: the other still
// tells the shape, though a filled block's value is then in doubt.
Header parse(std::uint32_t header, std::uint32_t complement) {
  if (complement == ~header) {
    return {shape_of(header), static_cast<std::uint16_t>(header), shape_of(header) != Shape::Unknown};
  }
  const Shape a = shape_of(header), b = shape_of(~complement);
  if (b == Shape::Unknown || a == b) return {a, static_cast<std::uint16_t>(header), false};
  if (a == Shape::Unknown) return {b, static_cast<std::uint16_t>(~complement), false};
  return {};
}

// libusb moves a bulk transfer in pieces of 16 KiB, and a cable pulled
// during one of several pieces shows as an I/O error, not as the device
// gone: no read is larger. The pieces are of even size, so that none is so
// short that its turn-around stands out beside the link time of its words.
constexpr std::size_t MAX_READ_BYTES = 16384;

void read_all(CableLink& link, std::span<std::uint8_t> bytes) {
  if (bytes.empty()) return;
  const std::size_t words = bytes.size() / 4;
  const std::size_t pieces = (bytes.size() + MAX_READ_BYTES - 1) / MAX_READ_BYTES;
  for (std::size_t k = 0, at = 0; k < pieces; ++k) {
    const std::size_t to = words * (k + 1) / pieces * 4;
    link.read_words(bytes.subspan(at, to - at));
    at = to;
  }
}

}  // namespace

void dump_rom(CableLink& link, std::uint32_t offset, std::uint32_t bytes, const DumpedFn& each) {
  if (bytes == 0) return;
  constexpr std::uint32_t block = DUMP_BLOCK_BYTES;
  const std::uint64_t end = std::uint64_t{offset} + bytes;
  // Each read takes a block's words and the header pair of the block after
  // it, so the link never waits for a read of two words alone.
  std::vector<std::uint8_t> raw(DUMP_HEADER_WORDS * 4);
  std::uint32_t header = 0, complement = 0;
  for (int attempt = 1;; ++attempt) {
    link.agent_request(REQ_ROM_DUMP, offset, bytes, write_check({}, offset, bytes));
    read_all(link, raw);
    header = get_le32(&raw[0]);
    complement = get_le32(&raw[4]);
    if (parse(header, complement).shape != Shape::Refused) break;
    if (attempt == WRITE_TRIES)
      fail(strprintf("the console refused the dump of the ROM at 0x%X %d times: its request arrived changed "
                     "over the link (check the cable and the cartridge's contacts)",
                     offset, WRITE_TRIES));
  }
  for (std::uint64_t at = offset; at < end;) {
    const std::uint64_t to = std::min<std::uint64_t>(end, (at / block + 1) * block);
    const auto n = static_cast<std::size_t>(to - at);
    const std::size_t next = to < end ? DUMP_HEADER_WORDS * 4 : 0;
    const Header h = parse(header, complement);
    DumpedBlock b;
    b.offset = static_cast<std::uint32_t>(at);
    switch (h.shape) {
      case Shape::Sent:
        raw.resize(n + 4 + next);
        read_all(link, raw);
        b.bytes.assign(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(n));
        b.good = crc32_of(b.bytes) == get_le32(&raw[n]);
        break;
      case Shape::Filled:
        raw.resize(next);
        read_all(link, raw);
        b.filled = true;
        b.value = h.value;
        b.bytes.resize(n);
        for (std::size_t i = 0; i < n; ++i) b.bytes[i] = static_cast<std::uint8_t>(i & 1 ? h.value >> 8 : h.value);
        b.good = h.sure;
        break;
      case Shape::Refused:  // only ever the first header
      case Shape::Unknown:
        fail(strprintf("the console's dump of the ROM at 0x%X arrived garbled (block header %08X %08X): "
                       "check the cable and the cartridge's contacts",
                       b.offset, header, complement));
    }
    if (next) {
      header = get_le32(&raw[raw.size() - 8]);
      complement = get_le32(&raw[raw.size() - 4]);
    }
    each(std::move(b));
    at = to;
  }
}

}  // namespace kartex
