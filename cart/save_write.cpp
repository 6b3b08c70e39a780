#include <algorithm>
#include <vector>

#include "common/output.h"
#include "cart/commands.h"
#include "link/cable_link.h"
#include "link/failure.h"

namespace kartex {

void save_write(CableLink& link, const CartInfo& cart, Range range,
                std::span<const std::uint8_t> file, Output& con, EepromOrder order) {
  const std::int32_t start = range.start_offset == NOT_GIVEN ? 0 : range.start_offset;
  std::int32_t length =
      range.length == NOT_GIVEN ? static_cast<std::int32_t>(file.size()) : range.length;
  const SaveGeometry geometry = save_geometry(cart.save_type, cart.variant);
  if (start > cart.save_size)
    fail(strprintf("start offset 0x%X lies beyond the end of the 0x%X-byte save memory",
                   static_cast<unsigned>(start), static_cast<unsigned>(cart.save_size)));
  if (cart.save_size - start < length) {
    con.print("Write size is longer than device.\n");
    length = cart.save_size - start;
  }
  if (length > static_cast<std::int32_t>(file.size())) {
    con.print("Write size is larger than file size.\n");
    length = static_cast<std::int32_t>(file.size());
  }
  const std::int32_t mask = cart.save_block - 1;
  if ((length & mask) != 0 || (start & mask) != 0) fail_out(boundary_message(cart.save_block));
  con.print("0x%X bytes writeing.\n", static_cast<unsigned>(length));
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(cart.save_block));
  for (std::int32_t pos = 0; pos < length; pos += cart.save_block) {
    std::copy_n(file.begin() + pos, buffer.size(), buffer.begin());
    convert_eeprom_order(cart, order, buffer);
    // Types without a write request have no save memory, so length is 0 here.
    link.agent_request(geometry.write_request, static_cast<std::uint32_t>(start + pos),
                       static_cast<std::uint32_t>(cart.save_block), 0);
    con.mark('W');
    link.write_words(buffer);
    link.read_word();  // the block is in the chip before the next one goes
  }
}

}  // namespace kartex
