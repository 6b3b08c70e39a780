#pragma once
// The cartridges the emulator library's console takes: a mask ROM (the
// library's ROM bus, open bus past its end) with one of the library's save
// chips. Flash ROM kinds, the mapper and the save chips only our models
// have stay on the Unicorn console; asking this one for them is refused
// with one line.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/console/mgba/mgba_machine.h"
#include "sim/sim_pipes.h"
#include "sim/state/state_file.h"

namespace kartex {

struct MgbaCart {
  std::vector<std::uint8_t> rom;
  KxSave save = KX_SAVE_NONE;
  // The save chip's contents in the order the tool's save files use (an
  // EEPROM's 8-byte blocks least significant byte first); empty: erased.
  std::vector<std::uint8_t> save_image;
  // mirror: the ROM repeats through the window; otherwise the library's
  // own ROM bus answers past its end.
  bool mirror = false;
  // rtc=: the library's GPIO clock, set to this time when the cartridge
  // goes into the slot (then clock_base holds it).
  std::optional<ClockTime> clock_set;
  bool clock = false;
  std::int64_t clock_base = 0;  // the clock's seconds since 1970 at simulated time 0
};

// The ROM as the library's bus is to show it: with mirror, repeated
// through the 32 MiB window; otherwise as it stands.
std::vector<std::uint8_t> mgba_bus_rom(const MgbaCart& cart);

// From the --sim keys rom=, size=, save=, save-image=; throws Failure with
// one line for what this console cannot hold (chip=, mapper=, other chips).
MgbaCart build_mgba_cart(const SimOptions& options);

// The bytes of a save chip of `save`.
std::uint32_t mgba_save_bytes(KxSave save);

// Between the tool's order of an EEPROM's bytes and the chip's own (the
// bit stream's first bit in the first byte's top bit): each 8-byte block
// reversed, which is its own inverse.
std::vector<std::uint8_t> swap_eeprom_blocks(std::vector<std::uint8_t> bytes);

// For --sim=help: what core=mgba runs.
std::string mgba_cart_help();

void save_mgba_cart(const MgbaCart& cart, StateWriter& out);
MgbaCart load_mgba_cart(StateReader& in);

}  // namespace kartex
