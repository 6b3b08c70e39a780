#pragma once
// The console as the simulator holds it: the link side the cable drives,
// and what reaches it from outside the link (RAM seen by the tests and the
// video checks, the keypad, the screen, its part of a kept state). The
// Unicorn console and the one on the emulator library both sit behind it.

#include <cstdint>
#include <span>

#include "sim/console/key_script.h"
#include "sim/console/link_console.h"
#include "sim/screen/screen.h"
#include "sim/state/state_file.h"

namespace kartex {

class SimConsole : public LinkConsole {
 public:
  // Host-side access to RAM (not I/O or cartridge); false if not RAM.
  virtual bool peek(std::uint32_t addr, std::span<std::uint8_t> out) = 0;
  virtual bool poke(std::uint32_t addr, std::span<const std::uint8_t> in) = 0;
  // KEYINPUT as set (bits clear = held), with the script's keys on top.
  virtual void set_keys(std::uint16_t keyinput) = 0;
  virtual void set_key_script(const KeyScript& script) = 0;
  // The display control register, which tells which page is shown.
  virtual std::uint16_t dispcnt() const = 0;
  virtual Screen screen() const = 0;
  // The console's own part of a kept state (the cartridge keeps its own).
  virtual void save(StateWriter& out) = 0;
  virtual void load(StateReader& in) = 0;
};

}  // namespace kartex
