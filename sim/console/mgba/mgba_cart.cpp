#include "sim/console/mgba/mgba_cart.h"

#include <algorithm>
#include <cctype>

#include "common/failure.h"
#include "sim/cart/cart_bus.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cart_rom.h"
#include "sim/save/save_build.h"

namespace kartex {

namespace {

constexpr std::uint32_t MiB = 1024 * 1024;

struct SaveRow {
  const char* value;  // save= as typed (lower case)
  KxSave save;
  std::uint32_t bytes;
};

// The library's chips: its 64 KiB FLASH answers ID 32/1B and its 128 KiB
// FLASH 62/13, so only those IDs describe a cartridge it can be.
const SaveRow ROWS[] = {
    {"none", KX_SAVE_NONE, 0},
    {"sram32k", KX_SAVE_SRAM_32K, 32 * 1024},
    {"flash64k:321b", KX_SAVE_FLASH_64K, 64 * 1024},
    {"flash128k:6213", KX_SAVE_FLASH_128K, 128 * 1024},
    {"eeprom8k", KX_SAVE_EEPROM_8K, 8 * 1024},
};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

const SaveRow& find_save(const std::string& value) {
  const std::string v = lower(value);
  // The library's EEPROM takes an address of whatever width the request
  // brings and grows to 8 KiB when one points past 512 bytes: a program
  // cannot tell its 512-byte chip from the 8 KiB one, as it can on the
  // real parts.
  if (v == "eeprom512")
    fail("--sim: core=mgba has no 512-byte EEPROM that answers as one (its EEPROM takes 14-bit addresses "
         "too and grows to 8 KiB); use core=unicorn");
  for (const SaveRow& r : ROWS)
    if (v == r.value) return r;
  std::string known;
  for (const SaveRow& r : ROWS) known += std::string(known.empty() ? "" : ", ") + r.value;
  fail("--sim: core=mgba has no save=" + value + " (its save chips: " + known + "; the others need core=unicorn)");
}

}  // namespace

std::uint32_t mgba_save_bytes(KxSave save) {
  for (const SaveRow& r : ROWS)
    if (r.save == save) return r.bytes;
  return 0;
}

std::vector<std::uint8_t> swap_eeprom_blocks(std::vector<std::uint8_t> bytes) {
  for (std::size_t at = 0; at + 8 <= bytes.size(); at += 8)
    std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
  return bytes;
}

MgbaCart build_mgba_cart(const SimOptions& options) {
  if (!options.chip.empty())
    fail("--sim: core=mgba runs mask ROM cartridges only; chip=" + options.chip + " needs core=unicorn");
  if (!options.protect.empty()) fail("--sim: protect= takes a sector of a JEDEC flash ROM, which needs core=unicorn");
  if (!options.save_faults.empty())
    fail("--sim: core=mgba's save chips are the library's own; save-fault= needs core=unicorn");
  if (!options.mapper) fail("--sim: mapper= describes a flash ROM cartridge, which needs core=unicorn");
  if (options.d0d1) fail("--sim: d0d1 describes the board of a CFI flash chip, which needs core=unicorn");
  if (options.chip_times_max)
    fail("--sim: core=mgba's save chips keep the library's own times; chip-times=max needs core=unicorn");
  if (options.size_mib && !options.rom_file.empty()) fail("--sim: size= and rom= both give the mask ROM's size");
  if (options.size_mib > CART_ROM_WINDOW / MiB) fail("--sim: a mask ROM holds at most 32 MiB");
  MgbaCart cart;
  cart.rom = !options.rom_file.empty() ? read_rom_file(options.rom_file)
             : options.size_mib       ? make_default_rom(options.size_mib * MiB)
                                      : make_default_rom();
  if (cart.rom.empty()) fail("--sim: rom=" + options.rom_file + " is empty");
  cart.mirror = options.mirror;
  if (options.rtc_power_lost)
    fail("--sim: core=mgba's clock (the library's own) keeps no power-lost state; rtc=lost needs core=unicorn");
  cart.clock_set = options.rtc;
  if (cart.mirror && (cart.rom.size() & (cart.rom.size() - 1)) != 0)
    fail("--sim: mirror needs a ROM whose size is a power of two (" + std::to_string(cart.rom.size()) +
         " bytes is not): a board repeats its ROM at the address lines it leaves undecoded");
  const SaveRow& row = find_save(options.save);
  cart.save = row.save;
  if (!options.save_image.empty()) {
    if (row.save == KX_SAVE_NONE) fail("--sim: save-image= needs a save chip (save=...)");
    cart.save_image = read_save_image(options.save_image, row.value, row.bytes);
  }
  return cart;
}

std::vector<std::uint8_t> mgba_bus_rom(const MgbaCart& cart) {
  if (!cart.mirror) return cart.rom;
  std::vector<std::uint8_t> bus;
  bus.reserve(CART_ROM_WINDOW);
  while (bus.size() < CART_ROM_WINDOW) bus.insert(bus.end(), cart.rom.begin(), cart.rom.end());
  return bus;
}

std::string mgba_cart_help() {
  std::string text = "core=mgba cartridges: a mask ROM (rom=, size=) with save=";
  for (const SaveRow& r : ROWS) text += std::string(r.value) + (r.save == KX_SAVE_EEPROM_8K ? "" : "|");
  return text + ", rtc= (the library's own clock)\n  (flash ROM kinds, the mapper, eeprom512 and the other save chips run on core=unicorn only;"
                "\n  without mirror, past the ROM's end the library's own ROM bus answers: a 1 MiB ROM repeats"
                "\n  through the first 4 MiB, larger ones read as open bus)\n";
}

void save_mgba_cart(const MgbaCart& cart, StateWriter& out) {
  out.blob(cart.rom);
  out.u8(static_cast<std::uint8_t>(cart.save));
  out.blob(cart.save_image);
  out.u8(cart.mirror);
  // Only a cartridge with a clock has more: states of the others keep
  // their layout.
  if (cart.clock) {
    out.u8(1);
    out.u64(static_cast<std::uint64_t>(cart.clock_base));
  }
}

MgbaCart load_mgba_cart(StateReader& in) {
  MgbaCart cart;
  cart.rom = in.blob();
  if (cart.rom.empty() || cart.rom.size() > CART_ROM_WINDOW) in.corrupt("ROM size out of range");
  const std::uint8_t save = in.u8();
  if (save > KX_SAVE_EEPROM_8K) in.corrupt("unknown save chip");
  cart.save = static_cast<KxSave>(save);
  cart.save_image = in.blob();
  if (!cart.save_image.empty() && cart.save_image.size() != mgba_save_bytes(cart.save))
    in.corrupt("save contents do not match the chip");
  cart.mirror = in.u8() != 0;
  if (cart.mirror && (cart.rom.size() & (cart.rom.size() - 1)) != 0)
    in.corrupt("a mirroring board with a ROM that is no power of two");
  if (!in.done()) {
    if (in.u8() != 1) in.corrupt("unknown cartridge device");
    cart.clock = true;
    cart.clock_base = static_cast<std::int64_t>(in.u64());
  }
  return cart;
}

}  // namespace kartex
