#include "cart/cart_describe.h"

#include <string>

#include "cart/ranges.h"
#include "cart/rom_reader.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "contract/wire.h"

namespace kartex {

namespace {

std::string device_list(const std::vector<std::uint16_t>& devices) {
  std::string text;
  for (std::size_t i = 0; i < devices.size(); ++i)
    text += (i == 0 ? "" : i + 1 == devices.size() ? " or " : ", ") + strprintf("0x%04X", devices[i]);
  return text;
}

void print_chip(Output& con, const CartInfo& cart, const std::optional<FlashChip>& chip) {
  if (cart.rom_kind == ROM_KIND_MASK) {
    con.print("Flash chip: none (mask ROM)\n");
    return;
  }
  if (!chip) {
    if (cart.rom_kind != ROM_KIND_NONE)
      con.print("Flash chip: kind %d, not one this build knows\n", static_cast<int>(cart.rom_kind));
    return;
  }
  if (chip->cfi) {
    const CfiDetails& c = *chip->cfi;
    std::string device = device_list(chip->devices);
    if (!chip->devices.empty() && chip->devices.front() == 0x227E)
      device += strprintf(" 0x%04X 0x%04X", c.device_2, c.device_3);
    con.print("Flash chip: maker 0x%02X, device %s (CFI, command set 0x%04X: %s)%s\n", chip->maker, device.c_str(),
              c.command_set, cfi_command_set_name(c.command_set), c.d0d1 ? ", board swaps D0/D1" : "");
    std::string regions;
    for (const CfiDetails::Region& r : c.regions)
      regions += strprintf("%s%u x 0x%X", regions.empty() ? "" : " + ", r.blocks, r.bytes);
    con.print("Erase blocks: %s (erased in steps of 0x%X), ", regions.c_str(), chip->erase_block);
    if (chip->buffer)
      con.print("write buffer: %u bytes\n", chip->buffer);
    else
      con.print("no write buffer (one halfword at a time)\n");
    con.print("Longest times (CFI): word %u us, buffer %u us, block erase %u ms\n", c.word_max_us,
              c.buffer_max_us, c.erase_max_ms);
    return;
  }
  const std::string devices = chip->devices.empty() ? "unknown" : device_list(chip->devices);
  con.print("Flash chip%s: maker 0x%02X, device %s (%s commands)\n", chip->pair ? "s (a pair)" : "",
            chip->maker, devices.c_str(), chip->command_set);
  if (chip->buffer)
    con.print("Erase block: 0x%X, write buffer: %u bytes\n", chip->erase_block, chip->buffer);
  else
    con.print("Erase block: 0x%X, no write buffer (one halfword at a time)\n", chip->erase_block);
}

void print_save(Output& con, const CartInfo& cart) {
  const SaveGeometry g = save_geometry(cart.save_type, cart.variant);
  if (cart.save_type == SAVE_NONE || g.size == 0) {
    con.print("Save memory: none found\n");
    return;
  }
  con.print("Save memory: %s, 0x%X bytes in blocks of 0x%X\n", g.name, static_cast<unsigned>(g.size),
            static_cast<unsigned>(g.block));
}

}  // namespace

CartDescription describe_cartridge(CableLink& link, const CartInfo& cart, Output& con) {
  CartDescription d;
  d.cart = cart;
  require_cartridge(cart);
  if (cart.rom_size >= static_cast<std::int32_t>(ROM_HEADER_END)) {
    const std::vector<std::uint8_t> first =
        read_rom_checked(link, 0, static_cast<std::uint32_t>(ROM_HEADER_END), std::nullopt);
    d.header = parse_rom_header(first);
  }
  if (d.header) print_header_lines(con, *d.header);
  d.chip = known_flash_chip(cart);
  if (d.chip && d.chip->cfi) {
    std::uint32_t words[CFI_INFO_WORDS] = {};
    link.agent_request(REQ_CFI_INFO, 0, 0, 0, words);
    apply_cfi_info(*d.chip, words);
  }
  print_chip(con, cart, d.chip);
  print_save(con, cart);
  d.clock = read_cart_clock(link);
  con.print("%s", clock_line(d.clock).c_str());
  return d;
}

}  // namespace kartex
