#include <algorithm>
#include <vector>

#include "common/output.h"
#include "cart/commands.h"
#include "link/cable_link.h"
#include "link/failure.h"

namespace kartex {

namespace {

constexpr std::uint32_t FREE_GRANULE_MASK = 0x7FFF;  // free space counts in 32 KiB
constexpr std::uint32_t BANK_SIZE = 0x400000;
constexpr std::uint32_t BANK_HEADER = 0x8000;
// A start that is a bank's first byte or its header's end needs no rounding.
constexpr std::uint32_t BANK_START_MASK = 0xFFC08000;

// Bytes a flash ROM kind programs at once, aligned to their own size.
std::int32_t program_unit(std::int32_t rom_kind) {
  constexpr std::int32_t PAIR_BUFFER = 64;  // 32 halfwords, 16 to each chip of a pair
  constexpr std::int32_t PAIR_PAGE = 512;   // 256 halfwords, 128 to each chip of a pair
  switch (rom_kind) {
    case 3: return PAIR_BUFFER;
    case 9: return PAIR_PAGE;
    default: return 2;
  }
}

void clip_to_rom(std::int32_t& length, std::int32_t room, Output& con) {
  if (room < length) {
    con.print("Write size(0x%X) is too big.\n", static_cast<unsigned>(length));
    length = room;
  }
}

void clip_to_file(std::int32_t& length, std::span<const std::uint8_t> file, Output& con) {
  if (length > static_cast<std::int32_t>(file.size())) {
    con.print("Write size is larger than file size.\n");
    length = static_cast<std::int32_t>(file.size());
  }
}

// The data of an announced flash write, in pieces of 16 KiB, paced by the
// blocking writes; the agent programs while the next piece arrives.
void send_rom_stream(CableLink& link, std::span<const std::uint8_t> data, Output& con) {
  std::vector<std::uint8_t> buffer(ROM_WRITE_CHUNK);
  std::size_t pos = 0;
  do {
    const std::size_t piece = std::min(data.size() - pos, std::size_t{ROM_WRITE_CHUNK});
    const std::uint32_t words = words_for(static_cast<std::uint32_t>(piece));
    // Bytes past the end of the data fill the last word with 0xFF, which
    // programs nothing into flash.
    std::fill(buffer.begin(), buffer.begin() + words * 4, 0xFF);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), piece, buffer.begin());
    link.write_words(std::span(buffer).first(words * 4));
    con.mark('W');
    pos += piece;
  } while (pos < data.size());
}

}  // namespace

void flash_write(CableLink& link, const CartInfo& cart, Range range,
                 std::span<const std::uint8_t> file, Output& con) {
  std::int32_t length =
      range.length == NOT_GIVEN ? static_cast<std::int32_t>(file.size()) : range.length;
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  if (start > cart.rom_size)
    fail(strprintf("start offset 0x%X lies beyond the end of the 0x%X-byte ROM",
                   static_cast<unsigned>(start), static_cast<unsigned>(cart.rom_size)));
  // Flash ROM programs whole halfwords: an odd start would put every byte
  // one place off.
  if (start & 1)
    fail(strprintf("start offset 0x%X is odd; flash ROM is written from an even offset",
                   static_cast<unsigned>(start)));
  // Pairs with write buffers and page programming take whole units only; a
  // unit that starts off its boundary would be refused by the chips.
  if (const std::int32_t unit = program_unit(cart.rom_kind); start % unit != 0)
    fail(strprintf("start offset 0x%X is not a multiple of 0x%X, the programming unit of this "
                   "flash ROM",
                   static_cast<unsigned>(start), static_cast<unsigned>(unit)));
  clip_to_rom(length, cart.rom_size - start, con);
  clip_to_file(length, file, con);
  con.print("0x%X bytes writeing.\n", static_cast<unsigned>(length));
  link.agent_request(REQ_FLASH_WRITE, static_cast<std::uint32_t>(start),
                     static_cast<std::uint32_t>(length), 0);
  send_rom_stream(link, file.first(static_cast<std::size_t>(length)), con);
}

void flash_append(CableLink& link, const CartInfo& cart, Range range,
                  std::span<const std::uint8_t> file, Output& con) {
  std::uint32_t free_reply[1] = {};
  link.agent_request(REQ_FLASH_FREE, 0, 0, 0, free_reply);
  std::int32_t length =
      range.length == NOT_GIVEN ? static_cast<std::int32_t>(file.size()) : range.length;
  const std::uint32_t free_bytes = free_reply[0] & ~FREE_GRANULE_MASK;
  if (free_bytes > static_cast<std::uint32_t>(cart.rom_size))
    fail(strprintf("the cartridge reports 0x%X free bytes in a ROM of 0x%X bytes",
                   static_cast<unsigned>(free_reply[0]), static_cast<unsigned>(cart.rom_size)));
  auto start = static_cast<std::uint32_t>(cart.rom_size) - free_bytes;
  // Variant 0 cartridges boot each 4 MiB bank as its own game: an appended
  // program goes behind a bank's header area, in a bank of its own.
  if (start != 0 && cart.variant == 0) {
    if (start & ~BANK_START_MASK) start = (start + BANK_SIZE - 1) & ~(BANK_SIZE - 1);
    start |= BANK_HEADER;
  }
  const auto signed_start = static_cast<std::int32_t>(start);
  clip_to_rom(length, cart.rom_size - signed_start, con);
  clip_to_file(length, file, con);
  con.print("Start=0x%X  0x%X bytes writeing.\n", start, static_cast<unsigned>(length));
  if (length <= 0) return;
  link.agent_request(REQ_FLASH_WRITE, start, static_cast<std::uint32_t>(length), 0);
  send_rom_stream(link, file.first(static_cast<std::size_t>(length)), con);
}

}  // namespace kartex
