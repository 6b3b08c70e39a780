#include "sim/cart/cart_build.h"

#include "common/failure.h"
#include "contract/wire.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cart_rom.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "sim/save/save_build.h"

namespace kartex {

std::unique_ptr<CartBus> build_cartridge(const SimOptions& options, SimLog& log) {
  constexpr std::uint32_t MiB = 1024 * 1024;
  if (options.chip.empty()) {
    if (options.d0d1) fail("--sim: d0d1 describes the board of a CFI flash chip (chip=10/...), not a mask ROM");
    if (!options.protect.empty()) fail("--sim: protect= takes a sector of a flash ROM (chip=5/22da or 6/22c4)");
    if (options.size_mib && !options.rom_file.empty()) fail("--sim: size= and rom= both give the mask ROM's size");
    if (options.size_mib > CART_ROM_WINDOW / MiB) fail("--sim: a mask ROM holds at most 32 MiB");
    std::vector<std::uint8_t> rom = !options.rom_file.empty() ? read_rom_file(options.rom_file)
                                    : options.size_mib       ? make_default_rom(options.size_mib * MiB)
                                                             : make_default_rom();
    auto save = build_save_chip(options.save, options.save_image, {static_cast<std::uint32_t>(rom.size()), false, false},
                                log, options.chip_times_max, options.save_faults);
    auto cart = std::make_unique<Cartridge>(std::make_unique<MaskRomPart>(std::move(rom)), false, std::move(save),
                                            log, options.mirror);
    if (options.rtc) cart->set_clock(std::make_unique<CartClock>(log, *options.rtc, options.rtc_power_lost));
    return cart;
  }
  const RomOption* option = find_rom_option(options.chip);
  if (!option) fail("--sim: no flash ROM chip=" + options.chip + " (see --sim=help)");
  // The clock sits in the ROM chip of the games that have one; of the
  // flash boards only those of today's AMD-command CFI chips carry one.
  if (options.rtc && !carries_clock(*option))
    fail("--sim: rtc= puts the clock on a mask ROM or on the board of chip=" + clock_board_labels() + "; chip=" +
         options.chip + " has none");
  const std::uint32_t mib = options.size_mib ? options.size_mib : option->sizes_mib.front();
  // The boards of today's CFI chips decode no mapper; only they swap D0/D1.
  const bool cfi_board = option->kind == ROM_KIND_CFI;
  if (cfi_board && options.mapper_given && options.mapper)
    fail("--sim: chip=" + options.chip + " sits on a board without the mapper (mapper=on cannot be)");
  if (options.d0d1 && !cfi_board)
    fail("--sim: d0d1 describes the board of a CFI flash chip (chip=10/...), not chip=" + options.chip);
  const bool mapper = options.mapper && !cfi_board;
  std::vector<std::uint8_t> contents;
  if (!options.rom_file.empty()) contents = read_rom_file(options.rom_file, mib * MiB);
  auto rom = std::make_unique<FlashRom>(*option, mib, contents, log, options.chip_times_max, options.d0d1);
  for (std::uint32_t offset : options.protect) {
    if (offset >= rom->span())
      fail("--sim: protect=" + hex32(offset) + " lies past the " + std::to_string(mib) + " MiB flash ROM");
    // The status-register parts lock their blocks with commands instead.
    if (!rom->protect(offset))
      fail("--sim: chip=" + option->label() + " has no sector protection (protect= takes chip=5/22da or 6/22c4)");
  }
  auto save = build_save_chip(options.save, options.save_image, {rom->span(), true, mapper}, log,
                              options.chip_times_max, options.save_faults);
  // Past the 32 MiB window only the mapper's pages reach the ROM.
  if (!mapper && rom->span() > CART_ROM_WINDOW)
    fail("--sim: a " + std::to_string(mib) + " MiB flash cartridge needs the mapper to reach past 32 MiB");
  auto cart = std::make_unique<Cartridge>(std::move(rom), mapper, std::move(save), log, options.mirror);
  if (options.rtc) cart->set_clock(std::make_unique<CartClock>(log, *options.rtc, options.rtc_power_lost));
  return cart;
}

}  // namespace kartex
