#include "sim/cart/cart_rom.h"

#include <fstream>
#include <iterator>

#include "common/failure.h"
#include "sim/input_file.h"
#include "sim/cart/cartridge.h"

namespace kartex {

MaskRom::MaskRom(std::vector<std::uint8_t> contents) : rom_(std::move(contents)) {
  if (rom_.size() > CART_ROM_WINDOW) fail("a cartridge ROM holds at most 32 MiB");
  if (rom_.size() % 2) rom_.push_back(0xFF);  // the bus is 16 bits wide
}

std::uint16_t MaskRom::read16(std::uint32_t addr) {
  const std::uint32_t offset = addr & (CART_ROM_WINDOW - 1) & ~1u;
  if (offset + 1 >= rom_.size()) return rom_open_bus(addr);
  return static_cast<std::uint16_t>(rom_[offset] | rom_[offset + 1] << 8);
}

// A mask ROM has no command set: identification probes write flash
// commands to every cartridge, and the part simply ignores them.
void MaskRom::write16(std::uint32_t, std::uint16_t) {}

std::uint8_t MaskRom::read8(std::uint32_t) { return CART_SAVE_OPEN_BUS; }

// No save chip answers in the save window; save-type probes write there on
// every cartridge and the writes go nowhere.
void MaskRom::write8(std::uint32_t, std::uint8_t) {}

void MaskRom::save(StateWriter& out) const { out.blob(rom_); }

std::unique_ptr<CartBus> load_cart(StateReader& in, SimLog& log) {
  const std::string kind = in.str();
  if (kind == "empty") return std::make_unique<EmptySlot>();
  if (kind == "mask-rom") {
    std::vector<std::uint8_t> rom = in.blob();
    if (rom.size() > CART_ROM_WINDOW) in.corrupt("the ROM is larger than 32 MiB");
    return std::make_unique<MaskRom>(std::move(rom));
  }
  if (kind == "cartridge") return load_cartridge(in, log);
  in.corrupt("unknown cartridge kind '" + kind + "'");
}

void save_cart(const CartBus& cart, StateWriter& out) {
  out.str(cart.kind());
  cart.save(out);
}

std::vector<std::uint8_t> read_rom_file(const std::string& path, std::uint32_t max_bytes) {
  // The size is checked before anything is read: a huge file or one that
  // never ends is refused, not read into memory.
  InputFile in(path, "ROM file " + path);
  if (in.size() == 0) fail("ROM file " + path + " is empty");
  if (in.size() > max_bytes)
    fail("ROM file " + path + " is larger than the " + std::to_string(max_bytes >> 20) +
         (max_bytes == CART_ROM_WINDOW ? " MiB cartridge window" : " MiB flash ROM"));
  return in.read_all();
}

}  // namespace kartex
