#pragma once
// The bodies of the cartridge commands. Each runs after session bring-up
// has filled CartInfo and throws Failure when it refuses or the link fails.

#include <cstdint>
#include <span>
#include <string>

#include "common/parse_number.h"
#include "cart/byte_sink.h"
#include "cart/cart_info.h"
#include "cart/rom_report.h"

namespace kartex {

class CableLink;
struct Output;

// How a save file holds each 8-byte EEPROM block. The tool's own order keeps
// the block's 64-bit bit-stream value least significant byte first; common
// emulators keep the first bit on the wire in the top bit of the first byte,
// which is the same 8 bytes reversed.
enum class EepromOrder { Tool, Emulator };

struct Range {
  std::int32_t start_offset = NOT_GIVEN;
  std::int32_t length = NOT_GIVEN;
};

constexpr std::int32_t ROM_READ_CHUNK = 4096;
constexpr std::int64_t ROM_PAGE_SPAN = 0x2000000;  // ROM the console's window shows at once
constexpr std::int32_t ROM_WRITE_CHUNK = 16384;
// A dump moves ROM in blocks this large, each checked by the CRC the
// console sums as it sends; a block of one repeated value is filled in on
// the host without crossing the link.
constexpr std::uint32_t DUMP_BLOCK = DUMP_BLOCK_BYTES;

// What a write does besides writing.
struct WriteOptions {
  bool verify = true;       // compare the console's CRCs of the result with the file's
  bool all_blocks = false;  // write every erase block, even those that hold the data already
};

// The message of a save range off the block boundary.
std::string boundary_message(std::int32_t save_block);

DumpFacts flash_read(CableLink& link, const CartInfo& cart, Range range, ByteSink& sink, Output& con);
void flash_write(CableLink& link, const CartInfo& cart, Range range,
                 std::span<const std::uint8_t> file, Output& con, WriteOptions options = {});
void flash_append(CableLink& link, const CartInfo& cart, Range range,
                  std::span<const std::uint8_t> file, Output& con, WriteOptions options = {});
void flash_erase(CableLink& link, const CartInfo& cart, Output& con);
DumpFacts save_read(CableLink& link, const CartInfo& cart, Range range, ByteSink& sink,
                    Output& con, EepromOrder order = EepromOrder::Tool);
void save_write(CableLink& link, const CartInfo& cart, Range range,
                std::span<const std::uint8_t> file, Output& con,
                EepromOrder order = EepromOrder::Tool, WriteOptions options = {});
// Turns EEPROM blocks between the tool's order and the emulators' order (the
// same operation both ways); other save types are left as they are.
void convert_eeprom_order(const CartInfo& cart, EepromOrder order, std::span<std::uint8_t> data);

}  // namespace kartex
