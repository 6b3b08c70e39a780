#include "sim/cart/rom_part.h"

#include "common/failure.h"
#include "contract/wire.h"
#include "sim/cart/cart_bus.h"
#include "sim/cart/flash_rom.h"

namespace kartex {

MaskRomPart::MaskRomPart(std::vector<std::uint8_t> contents) : rom_(std::move(contents)) {
  if (rom_.size() > CART_ROM_WINDOW) fail("a mask ROM holds at most 32 MiB");
  if (rom_.size() % 2) rom_.push_back(0xFF);  // the bus is 16 bits wide
}

std::unique_ptr<RomPart> load_rom_part(StateReader& in, SimLog& log, bool protection) {
  const std::string kind = in.str();
  if (kind == "mask-rom") {
    std::vector<std::uint8_t> rom = in.blob();
    if (rom.size() > CART_ROM_WINDOW || rom.size() % 2) in.corrupt("the mask ROM has a bad size");
    return std::make_unique<MaskRomPart>(std::move(rom));
  }
  if (kind == "flash-rom") {
    const std::string label = in.str();
    const RomOption* option = find_rom_option(label);
    if (!option) in.corrupt("unknown flash ROM '" + label + "'");
    const std::uint32_t mib = in.u32();
    // Every chip's array follows: a file too short for them is refused
    // before room for them is taken.
    if (mib > 128 || in.remaining() < std::size_t{mib} * 1024 * 1024)
      in.corrupt("a " + std::to_string(mib) + " MiB flash ROM in " + std::to_string(in.remaining()) + " bytes");
    std::unique_ptr<FlashRom> rom;
    try {
      rom = std::make_unique<FlashRom>(*option, mib, std::span<const std::uint8_t>(), log);
    } catch (const Failure& e) {
      in.corrupt(e.what());
    }
    rom->load_chips(in, protection);
    if (option->kind == ROM_KIND_CFI) {
      const std::uint8_t d0d1 = in.u8();
      if (d0d1 > 1) in.corrupt("chip=" + label + ": unknown board wiring");
      rom->set_d0d1(d0d1 != 0);
    }
    return rom;
  }
  in.corrupt("unknown ROM part '" + kind + "'");
}

}  // namespace kartex
