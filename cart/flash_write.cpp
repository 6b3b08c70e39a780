#include <algorithm>

#include "cart/commands.h"
#include "cart/ranges.h"
#include "cart/rom_write.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "common/failure.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

constexpr std::uint32_t FREE_GRANULE_MASK = 0x7FFF;  // free space counts in 32 KiB
constexpr std::uint32_t BANK_SIZE = 0x400000;
constexpr std::uint32_t BANK_HEADER = 0x8000;
// A start that is a bank's first byte or its header's end needs no rounding.
constexpr std::uint32_t BANK_START_MASK = 0xFFC08000;

// The length asked for, or the whole file; a write of nothing is refused.
std::int32_t asked_length(Range range, std::span<const std::uint8_t> file) {
  if (file.empty()) fail("nothing to write: the file is empty");
  const std::int32_t length =
      range.length == NOT_GIVEN ? static_cast<std::int32_t>(file.size()) : range.length;
  if (length < 0 || range.start_offset < NOT_GIVEN) fail("a start offset or length cannot be negative");
  if (length == 0) fail("nothing to write: the length is 0 (give at least one byte)");
  return length;
}

// Asks for more than the file holds: nothing is written.
void require_in_file(std::int32_t length, std::span<const std::uint8_t> file, Output& con) {
  if (length <= static_cast<std::int32_t>(file.size())) return;
  con.print("%s", LINE_WRITE_LARGER_THAN_FILE);
  fail(strprintf("the file holds 0x%zX bytes, fewer than the 0x%X asked: give a length of at most 0x%zX",
                 file.size(), static_cast<unsigned>(length), file.size()));
}

}  // namespace

void flash_write(CableLink& link, const CartInfo& cart, Range range,
                 std::span<const std::uint8_t> file, Output& con, WriteOptions options) {
  require_cartridge(cart);
  require_flash_rom(cart, "written");
  const std::int32_t length = asked_length(range, file);
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  // Only the whole range, or nothing: the user gives the range that fits.
  if (std::int64_t{cart.rom_size} - start < length) {
    if (start < cart.rom_size) con.print(LINE_WRITE_TOO_BIG, static_cast<unsigned>(length));
    refuse_past_end("ROM", cart.rom_size, start, length);
  }
  require_in_file(length, file, con);
  con.print(LINE_BYTES_WRITING, static_cast<unsigned>(length));
  write_rom_range(link, cart, static_cast<std::uint32_t>(start),
                  file.first(static_cast<std::size_t>(length)), con, options);
}

void flash_append(CableLink& link, const CartInfo& cart, Range range,
                  std::span<const std::uint8_t> file, Output& con, WriteOptions options) {
  require_cartridge(cart);
  require_flash_rom(cart, "written");
  const std::int32_t length = asked_length(range, file);
  std::uint32_t free_reply[1] = {};
  link.agent_request(REQ_FLASH_FREE, 0, 0, 0, free_reply);
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
  const std::int64_t room = std::int64_t{cart.rom_size} - start;
  if (room < length) {
    con.print(LINE_WRITE_TOO_BIG, static_cast<unsigned>(length));
    if (room <= 0)
      fail(strprintf("no room left on the 0x%X-byte ROM: an appended program would start at 0x%X",
                     static_cast<unsigned>(cart.rom_size), start));
    fail(strprintf("0x%X bytes do not fit the room left behind what the ROM holds: 0x%llX bytes from 0x%X",
                   static_cast<unsigned>(length), static_cast<unsigned long long>(room), start));
  }
  require_in_file(length, file, con);
  con.print(LINE_START_BYTES_WRITING, start, static_cast<unsigned>(length));
  write_rom_range(link, cart, start, file.first(static_cast<std::size_t>(length)), con, options);
}

}  // namespace kartex
