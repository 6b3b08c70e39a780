#pragma once
// The console as the cable sees it: a CPU that runs when the cable asks,
// a link port that waits for the cable's clock, and a boot loader that takes
// an uploaded image. The Unicorn console and the one on the emulator
// library both sit behind it, so the cable model is the same for either.

#include <cstdint>
#include <span>
#include <string>

#include "sim/clock/sim_clock.h"

namespace kartex {

// Which CPU and hardware model runs the console: our own on Unicorn, or
// the emulator library's GBA.
enum class SimCore { Unicorn, Mgba };

// The cable's side of the link port.
class LinkPeer {
 public:
  virtual ~LinkPeer() = default;
  // The console set SIOCNT's start bit and raised SO; called from inside
  // the CPU run.
  virtual void console_armed() = 0;
  // SO rose with the start bit clear: the cable clocks a word if it has
  // one, which the port does not take.
  virtual void console_raised_so_idle() {}
};

// Why a run returned: asked to stop, the budget spent without a link
// exchange, the console's clock reached the deadline, a fault, or no
// program runs.
enum class RunEnd { Stopped, Budget, Deadline, Fault, Idle };

class LinkConsole {
 public:
  virtual ~LinkConsole() = default;

  virtual void set_link_peer(LinkPeer* peer) = 0;
  // Starts `image` at 0x02000000 in ARM state, as a loader that skips the
  // BIOS does with an image received over the link, leaving its own
  // vertical-blank interrupt on (IME, IE, DISPSTAT).
  virtual void boot(std::span<const std::uint8_t> image) = 0;
  // Starts `image` as the BIOS's multiboot does once it took it (see
  // sim/console/bios_loader.h; the image already carries the BIOS's branch and
  // boot-mode bytes): the registers as RegisterRamReset 0xDE leaves them
  // (IME, IE, DISPSTAT and WAITCNT 0, the display in forced blank), system
  // mode with IRQs unmasked, entered at 0x020000C0.
  virtual void boot_multiboot(std::span<const std::uint8_t> image) = 0;
  // Back to the boot loader, waiting for an image; ends a hang too.
  virtual void power_on() = 0;
  virtual bool running() const = 0;
  // From now on the CPU runs nothing the cable can see, until power_on().
  virtual void hang() = 0;
  virtual bool hung() const = 0;

  // Runs until request_stop(), until `budget` instructions (the emulator
  // library's console: cycles) passed without a link exchange, until the
  // console's clock reaches `deadline`, or until a fault.
  virtual RunEnd run(std::uint64_t budget, SimTime deadline = ~SimTime{0}) = 0;
  virtual void request_stop() = 0;

  // The port waits for the cable's clock; the cable clocks one word, which
  // completes at `done`; returns the word the console sent.
  virtual bool link_armed() const = 0;
  virtual std::uint32_t link_exchange(std::uint32_t incoming, SimTime done) = 0;

  virtual const std::string& fault() const = 0;
  virtual std::uint32_t pc() = 0;
  // The console's time.
  virtual SimClock& clock() = 0;
  virtual const SimClock& clock() const = 0;
};

}  // namespace kartex
