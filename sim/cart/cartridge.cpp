#include "sim/cart/cartridge.h"

#include "common/failure.h"
#include "sim/cart/flash_commands.h"
#include "sim/cart/flash_rom.h"
#include "sim/save/save_commands.h"
#include "sim/save/save_sram.h"

namespace kartex {

namespace {

// Layout of the cartridge payload; bump when it changes. 2: the board's
// mirroring after the format, the flash chips' sector protection after
// them. 3: as 2, the clock after the save chip; written only for a
// cartridge with a clock, so the others keep format 2. Format 1 (neither)
// is still read.
constexpr std::uint32_t CARTRIDGE_FORMAT_CLOCK = 3;
constexpr std::uint32_t CARTRIDGE_FORMAT = 2;
constexpr std::uint32_t CARTRIDGE_FORMAT_OPEN_BUS = 1;

bool power_of_two(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

Cartridge::Cartridge(std::unique_ptr<RomPart> rom, bool mapper, std::unique_ptr<SaveChip> save, SimLog& log,
                     bool mirror)
    : rom_(std::move(rom)),
      mapper_(mapper ? std::make_unique<Mapper>(log) : nullptr),
      save_(save ? std::move(save) : std::make_unique<NoSaveChip>()),
      mirror_(mirror) {
  // A board that leaves address lines undecoded repeats its ROM at the
  // ROM's size, which is then a whole number of address lines.
  if (mirror_ && !power_of_two(rom_->span()))
    fail("--sim: mirror needs a ROM whose size is a power of two (" + std::to_string(rom_->span()) +
         " bytes is not): a board repeats its ROM at the address lines it leaves undecoded");
}

std::uint32_t Cartridge::rom_offset(std::uint32_t addr) const {
  const std::uint32_t in_window = addr & (CART_ROM_WINDOW - 1) & ~1u;
  const std::uint32_t offset = (mapper_ ? mapper_->rom_base() : 0) + in_window;
  return mirror_ ? offset & (rom_->span() - 1) : offset;
}

bool Cartridge::in_save_region(std::uint32_t offset) const {
  return offset >= save_->rom_region_begin() && offset < save_->rom_region_end();
}

void Cartridge::set_save_wait(unsigned cycles) {
  save_wait_ = cycles;
  save_->set_save_wait(cycles);
}

void Cartridge::set_save_chip(std::unique_ptr<SaveChip> save) {
  save_ = std::move(save);
  save_->set_save_wait(save_wait_);
}

std::uint16_t Cartridge::read16(std::uint32_t addr) {
  // The clock's port answers in the ROM chip's place once it is readable.
  const std::uint32_t in_window = addr & (CART_ROM_WINDOW - 1);
  if (clock_ && CartClock::decodes(in_window) && clock_->readable()) return clock_->read16(in_window);
  // The EEPROM decodes address lines only, as the cartridge sees them: the
  // console's three ROM windows are the same addresses to it.
  if (save_->answers_rom(addr)) return save_->read16(addr);
  const std::uint32_t offset = rom_offset(addr);
  if (in_save_region(offset)) return save_->rom_read16(offset);
  if (offset < rom_->span()) return rom_->read16(offset);
  return rom_open_bus(addr);
}

void Cartridge::write16(std::uint32_t addr, std::uint16_t value) {
  if (save_->answers_rom(addr)) {
    // The ROM is deselected there, but the mapper on the same bus still
    // sees the cycle.
    save_->write16(addr, value);
    if (mapper_) mapper_->write16(addr & (CART_ROM_WINDOW - 1) & ~1u, value);
    return;
  }
  if (mapper_ && mapper_->write16(addr & (CART_ROM_WINDOW - 1) & ~1u, value)) return;
  if (const std::uint32_t in_window = addr & (CART_ROM_WINDOW - 1); clock_ && CartClock::decodes(in_window))
    clock_->write16(in_window, value);
  const std::uint32_t offset = rom_offset(addr);
  if (in_save_region(offset)) return save_->rom_write16(offset, value);
  if (offset < rom_->span()) rom_->write16(offset, value);
  if (value == flash::CMD_READ_ARRAY) save_->rom_read_array();
}

std::uint8_t Cartridge::read8(std::uint32_t addr) { return save_->read8(addr, sram_bank()); }

void Cartridge::write8(std::uint32_t addr, std::uint8_t value) { save_->write8(addr, value, sram_bank()); }

void Cartridge::save(StateWriter& out) const {
  out.u32(clock_ ? CARTRIDGE_FORMAT_CLOCK : CARTRIDGE_FORMAT);
  out.u8(mirror_);
  out.str(rom_->kind());
  rom_->save(out);
  out.u8(mapper_ != nullptr);
  if (mapper_) mapper_->save(out);
  out.str(save_->kind());
  save_->save(out);
  if (clock_) clock_->save(out);
}

std::unique_ptr<CartBus> load_cartridge(StateReader& in, SimLog& log) {
  const std::uint32_t format = in.u32();
  if (format != CARTRIDGE_FORMAT && format != CARTRIDGE_FORMAT_OPEN_BUS && format != CARTRIDGE_FORMAT_CLOCK)
    in.corrupt("cartridge format " + std::to_string(format) + ", this build reads " +
               std::to_string(CARTRIDGE_FORMAT_OPEN_BUS) + " to " + std::to_string(CARTRIDGE_FORMAT_CLOCK));
  const bool since_mirror = format != CARTRIDGE_FORMAT_OPEN_BUS;
  const bool mirror = since_mirror && in.u8() != 0;
  std::unique_ptr<RomPart> rom = load_rom_part(in, log, since_mirror);
  const bool flash_rom = rom->kind() == "flash-rom";
  const std::uint32_t rom_bytes = rom->span();
  const bool has_mapper = in.u8() != 0;
  // Only boards that exist: the mapper sits on flash cartridges only.
  if (has_mapper && !flash_rom) in.corrupt("a mask ROM with the mapper");
  if (mirror && !power_of_two(rom_bytes)) in.corrupt("a mirroring board with a ROM that is no power of two");
  auto cart = std::make_unique<Cartridge>(std::move(rom), has_mapper, nullptr, log, mirror);
  if (has_mapper) cart->mapper()->load(in);
  std::unique_ptr<SaveChip> save = load_save_chip(in, log);
  if (save->kind() == "rom-save" && (!flash_rom || rom_bytes < save::ROM_SAVE_OFFSET + save::ROM_SAVE_BYTES))
    in.corrupt("a save inside a ROM that does not reach it");
  if (const auto* sram = dynamic_cast<const SramChip*>(save.get());
      sram && sram->cells().size() > save::WINDOW_BYTES && !has_mapper)
    in.corrupt("banked SRAM without the mapper that selects its banks");
  cart->set_save_chip(std::move(save));
  if (format == CARTRIDGE_FORMAT_CLOCK) {
    // The clock sits in the ROM chip of the games that have one, or on the
    // board of an AMD-command CFI chip.
    if (const auto* flash = dynamic_cast<const FlashRom*>(&cart->rom()); flash && !carries_clock(flash->option()))
      in.corrupt("a clock on the board of flash ROM chip=" + flash->option().label());
    cart->set_clock(CartClock::load(in, log));
  }
  return cart;
}

}  // namespace kartex
