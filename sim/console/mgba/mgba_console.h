#pragma once
// The console on the emulator library (libmgba): the library runs the CPU,
// memory, wait states, DMA, display, keypad and the cartridge with its save
// chip; the link port waits for our cable's clock. The console's time is
// the library's CPU cycle count.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/console/key_script.h"
#include "sim/console/sim_console.h"
#include "sim/console/mgba/mgba_cart.h"
#include "sim/console/mgba/mgba_machine.h"
#include "sim/screen/screen.h"
#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

class MgbaConsole : public SimConsole {
 public:
  explicit MgbaConsole(SimLog& log);
  ~MgbaConsole() override;
  MgbaConsole(const MgbaConsole&) = delete;
  MgbaConsole& operator=(const MgbaConsole&) = delete;

  // A cartridge in the slot; the console is switched on again.
  void insert(MgbaCart cart);
  // The cartridge with its save chip's contents as they are now.
  MgbaCart cart() const;

  void set_link_peer(LinkPeer* peer) override { peer_ = peer; }
  void boot(std::span<const std::uint8_t> image) override;
  void boot_multiboot(std::span<const std::uint8_t> image) override;
  void power_on() override;
  bool running() const override { return running_; }
  void hang() override { hung_ = true; }
  bool hung() const override { return hung_; }
  RunEnd run(std::uint64_t budget, SimTime deadline = ~SimTime{0}) override;
  void request_stop() override;
  bool link_armed() const override;
  std::uint32_t link_exchange(std::uint32_t incoming, SimTime done) override;
  const std::string& fault() const override { return fault_; }
  std::uint32_t pc() override { return kx_machine_pc(m_); }
  SimClock& clock() override { return clock_; }
  const SimClock& clock() const override { return clock_; }

  // CPU cycles the library has run since this console was made.
  std::uint64_t cycles() const { return kx_machine_cycles(m_); }
  // Of them, from the end of each link word to the next arming, summed.
  std::uint64_t turnaround_cycles() const { return kx_serial_turnaround(m_); }
  std::uint16_t io(std::uint32_t offset) const { return kx_machine_io(m_, offset); }
  Screen screen() const override;
  bool peek(std::uint32_t addr, std::span<std::uint8_t> out) override;
  bool poke(std::uint32_t addr, std::span<const std::uint8_t> in) override;
  void set_keys(std::uint16_t keyinput) override { keys_ = keyinput; }
  void set_key_script(const KeyScript& script) override { key_script_ = script; }
  std::uint16_t dispcnt() const override;

  void save(StateWriter& out) override;
  void load(StateReader& in) override;

 private:
  static void on_armed(void* self);
  static void on_so_idle(void* self);
  static std::uint16_t on_keys(void* self);
  static std::int64_t on_clock(void* self);
  static void on_log(void* self, KxLogKind kind, const char* part, const char* text);
  // The console's clock from the library's cycles.
  void sync_clock();

  SimLog& log_;
  SimClock& clock_;
  KxMachine* m_ = nullptr;
  MgbaCart cart_;
  LinkPeer* peer_ = nullptr;
  // The console's time at the library's cycle 0: time the console spent
  // waiting outside a run (for an upload) moves it on.
  SimTime origin_ = 0;
  std::uint16_t keys_ = 0x03FF;
  KeyScript key_script_;
  std::uint64_t key_reads_ = 0;
  bool running_ = false;
  bool hung_ = false;
  bool stop_requested_ = false;
  std::string fault_;
};

}  // namespace kartex
