#pragma once
// One simulated set-up: cable, console and cartridge, wired together. Tests
// construct it directly; the --sim transport wraps it.

#include <cstdint>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "link/pipes.h"
#include "sim/cable/cable.h"
#include "sim/cart/cart_bus.h"
#include "sim/console/unicorn/console.h"
#include "sim/console/mgba/mgba_console.h"
#include "sim/screen/screen.h"
#include "sim/sim_log.h"

namespace kartex {

struct SimStats {
  std::uint64_t words_to_console = 0;
  std::uint64_t words_from_console = 0;
  std::uint64_t instructions = 0;  // the Unicorn console
  std::uint64_t cpu_cycles = 0;    // the emulator library's console
  std::uint64_t turnaround_cycles = 0;  // of them, from each word's end to the next arming
  SimTime hardware_time = 0;  // since the run began, in the hardware's time
  SimTime link_busy = 0;      // of it, the link moving words
};

class Simulator {
 public:
  // `log_echo` receives every log line as it happens (nullptr: keep quiet).
  explicit Simulator(std::unique_ptr<CartBus> cart, CableTimes times = {},
                     std::ostream* log_echo = nullptr, SimCore core = SimCore::Unicorn);
  // With a generated default ROM.
  explicit Simulator(CableTimes times = {}, std::ostream* log_echo = nullptr);

  Pipes& pipes() { return pipes_; }
  // A transport that forwards to pipes(), for a CableLink that owns its
  // transport while the simulator stays with the caller.
  std::unique_ptr<Pipes> borrow_pipes();
  SimCore core() const { return mgba_ ? SimCore::Mgba : SimCore::Unicorn; }
  // The Unicorn console; throws Failure on the emulator library's.
  Console& console();
  // The emulator library's console, or nullptr.
  MgbaConsole* mgba() { return mgba_; }
  LinkConsole& link_console() { return *console_; }
  Cable& cable() { return cable_; }
  CartBus& cart() { return *cart_; }
  SimLog& log() { return log_; }
  // On the Unicorn console.
  void set_cart(std::unique_ptr<CartBus> cart);
  // On the emulator library's console.
  void set_cart(MgbaCart cart);

  // Host-side access to console RAM; throws Failure outside RAM.
  std::vector<std::uint8_t> peek(std::uint32_t addr, std::size_t n);
  void poke(std::uint32_t addr, std::span<const std::uint8_t> bytes);
  void set_keys(std::uint16_t keyinput) { console_->set_keys(keyinput); }
  void set_key_script(const KeyScript& script) { console_->set_key_script(script); }
  // The display control register, which tells which page is shown.
  std::uint16_t dispcnt() { return console_->dispcnt(); }
  Screen screen() const;
  SimStats stats() const;

  // One file per part in `dir` (created if missing).
  void save_state(const std::string& dir);
  // Loads the parts present in `dir`; returns whether a cartridge was there.
  bool load_state(const std::string& dir);

 private:
  class CablePipes : public Pipes {
   public:
    explicit CablePipes(Cable& cable) : cable_(cable) {}
    PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) override { return cable_.write(pipe, bytes); }
    PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) override { return cable_.read(pipe, bytes); }
    PipeResult reset(Pipe pipe) override { return cable_.reset(pipe); }
    void set_timeout(int ms) override { cable_.set_timeout(ms); }

   private:
    Cable& cable_;
  };

  SimLog log_;
  std::unique_ptr<CartBus> cart_;
  std::unique_ptr<SimConsole> console_;
  // The same console as its own core, for what only that core has (the
  // Unicorn CPU's registers, the library's cartridge); the other is null.
  Console* unicorn_;
  MgbaConsole* mgba_;
  Cable cable_;
  CablePipes pipes_;
  std::uint64_t instructions_at_start_ = 0;
  std::uint64_t cycles_at_start_ = 0;
  std::uint64_t turnaround_at_start_ = 0;
};

}  // namespace kartex
