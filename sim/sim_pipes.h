#pragma once
// The in-process cable transport: a simulated cable, console and cartridge
// behind the Pipes seam.

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/clock_time.h"
#include "link/pipes.h"
#include "sim/console/bios_loader.h"
#include "sim/console/key_script.h"
#include "sim/console/link_console.h"
#include "sim/cable/link_fault.h"
#include "sim/save/save_fault.h"

namespace kartex {

struct SimOptions {
  std::string rom_file;   // rom=FILE: the ROM contents; empty: generated mask ROM, blank flash
  std::string state_dir;  // state=DIR: keep cable, console and cartridge between runs
  bool stats = false;     // stats: print words moved, instructions run and the hardware time at the end
  std::string chip;       // chip=KIND/CODE: a flash ROM cartridge; empty: mask ROM
  std::uint32_t size_mib = 0;  // size=N (MiB): 0 takes the chip's first size (mask ROM: 4)
  bool mapper = true;     // mapper=off: a flash cartridge without the mapper
  bool mapper_given = false;  // mapper= was typed (the CFI chips' boards have none)
  bool d0d1 = false;      // d0d1: the board swaps data lines D0 and D1 (CFI chips' boards)
  bool mirror = false;    // mirror: the ROM repeats through the window past its end
  std::vector<std::uint32_t> protect;  // protect=OFFSET: ROM offsets whose JEDEC sectors are protected
  std::optional<ClockTime> rtc;  // rtc=TIME: the cartridge's clock, set to TIME; nullopt: no clock
  bool rtc_power_lost = false;   // rtc=lost: a clock whose battery ran dry
  bool help = false;      // help: the caller prints sim_help_text() and stops
  std::string save = "none";  // save=PART: the save chip (checked by check_save_option)
  std::string save_image;     // save-image=FILE: its first contents; empty: erased
  std::vector<SaveFault> save_faults;  // save-fault=KIND@N[:TIMES]: FLASH save sectors that fail to program
  bool swap = false;          // swap: the cartridge above replaces the one kept in state_dir
  std::vector<LinkFault> faults;  // fault=KIND@N[:BIT], as often as wanted
  std::uint64_t link_hz = 2'000'000;   // link-clock=HZ: the cable's clock on the link port
  std::uint64_t usb_latency_us = 1000;  // usb-latency=US: the host's turn-around for a reply
  std::string screens_dir;  // screens=DIR: a numbered picture at each switch of the page shown
  KeyScript keys;           // keys=LIST: keys held by KEYINPUT read
  SimCore core = SimCore::Unicorn;  // core=unicorn|mgba: which console model runs the agent
  Loader loader = Loader::Bios;     // loader=bios|direct: how the console starts an upload
  bool chip_times_max = false;      // chip-times=max: every chip at its data sheet's longest times
  // video-clock=hardware: the video's playback follows the console's
  // hardware time (a HardwareTime handed to open_sim_cable); false: the
  // host's clock.
  bool video_clock_hardware = false;
};

// The console's hardware time in milliseconds as the simulated cable saw it
// after its last transfer. A transport opened again (after a failed pipe)
// counts on from it, so the clock a playback follows never goes back.
class HardwareTime {
 public:
  std::int64_t ms() const { return ms_.load(); }
  void set(std::int64_t ms) { ms_.store(ms); }

 private:
  std::atomic<std::int64_t> ms_{0};
};

// "key=value,key,..." as typed after --sim=; "" gives the defaults. Unknown
// key or bad value: throws Failure with one clear line.
SimOptions parse_sim_options(const std::string& text);

// What --sim=help prints: the keys, then the flash ROM chips.
std::string sim_help_text();

// A Pipes transport onto a fresh simulated cable+console+cartridge (or the
// one kept in state_dir). `report` receives the simulator's log lines and,
// when the transport is destroyed, the stats line. With state_dir the
// destructor saves the state and writes state_dir/screen.png. With
// screens_dir each switch of the page shown is kept as a picture there. A transfer
// that gets no answer fails after `timeout_ms` of wall-clock time (and
// after what a later set_timeout() gives), as a USB transfer does.
// With `time`, each transfer leaves the hardware time there.
std::unique_ptr<Pipes> open_sim_cable(const SimOptions& options, std::ostream& report, int timeout_ms,
                                      std::shared_ptr<HardwareTime> time = nullptr);

}  // namespace kartex
