#include <algorithm>
#include <vector>

#include "common/output.h"
#include "cart/commands.h"
#include "link/cable_link.h"
#include "link/failure.h"

namespace kartex {

void convert_eeprom_order(const CartInfo& cart, EepromOrder order, std::span<std::uint8_t> data) {
  constexpr std::size_t EEPROM_BLOCK = 8;
  if (order == EepromOrder::Tool || (cart.save_type != EEP4K && cart.save_type != EEP64K)) return;
  for (std::size_t at = 0; at + EEPROM_BLOCK <= data.size(); at += EEPROM_BLOCK)
    std::reverse(data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + EEPROM_BLOCK));
}

std::string boundary_message(std::int32_t save_block) {
  return strprintf("SAVE read size and offset must be 0x%X boundary.\n",
                   static_cast<unsigned>(save_block));
}

void save_read(CableLink& link, const CartInfo& cart, Range range, ByteSink& sink, Output& con,
               EepromOrder order) {
  const std::int32_t length = range.length == NOT_GIVEN ? cart.save_size : range.length;
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  const SaveGeometry geometry = save_geometry(cart.save_type, cart.variant);
  // Banked SRAM is read one 64 KiB bank at a time: a block that starts off
  // its boundary would cross into the next bank and come from the wrong one.
  if (cart.save_type == SRAM2M && start % cart.save_block != 0)
    fail_out(boundary_message(cart.save_block));
  con.print("0x%X bytes reading.\n", static_cast<unsigned>(length));
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(cart.save_block));
  // Whole blocks: a length short of a block boundary is read up to it.
  for (std::int64_t pos = 0; pos < length; pos += cart.save_block) {
    link.agent_request(geometry.read_request,
                       geometry.read_base + static_cast<std::uint32_t>(start + pos),
                       static_cast<std::uint32_t>(cart.save_block), 0);
    con.mark('R');
    link.read_words(buffer);
    convert_eeprom_order(cart, order, buffer);
    sink.write(buffer);
  }
}

}  // namespace kartex
