#pragma once
// The cable: its registers, the boot handshake, the upload, and the
// command forms that move link words to and from the console. The console
// runs only while the host waits for it (a transfer or a status poll).
//
// Choices where the cable's firmware is free:
// - A register write is answered with the register's value after the write.
// - While the cable clocks a word out of the console (CMD_READ) it shifts
//   LINK_IDLE_WORD (0x5555AAAA) in.
// - Completing the handshake (CABLE_REG_BOOT: BOOT_PATTERN, then 0) restarts the
//   console into its boot loader, which is ready for an upload at once:
//   CABLE_REG_STATUS bits 0 and 1 are set right away.
// - The uploaded image goes to the console's BIOS, which starts it at its
//   multiboot entry (sim/console/bios_loader.h) or refuses it and runs nothing;
//   with Loader::Direct it starts at 0x02000000. Either way in ARM state
//   and system mode, SP_sys 0x03007F00, SP_irq 0x03007FA0, SP_svc 0x03007FE0.
// - A CMD_READ is served when its command arrives: the words wait on the
//   data-in pipe in order behind any earlier answer.
// - A word count of 0 moves nothing.
// - A status poll of a console that has faulted fails with the fault, so
//   that a host waiting for the console's next word learns it never comes.
// - A transfer that gets no answer (the console hangs or runs no program, a
//   stalled pipe, a data-in read of bytes that never come) behaves as a USB
//   transfer with a timeout: the call returns after the transport's timeout
//   in wall-clock time with "timeout after S s".
// - An unplugged cable fails every later call as a vanished USB device
//   does, and has lost its registers, as a cable without power does.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/pipes.h"
#include "contract/wire.h"
#include "sim/console/bios_loader.h"
#include "sim/cable/cable_clock.h"
#include "sim/console/link_console.h"
#include "sim/cable/link_fault.h"
#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

struct CableTimes {
  // Instructions a console may run while the host waits on it without any
  // link exchange before the transfer is reported as hung: a bound on the
  // simulator's own work, far more than a program needs between words.
  std::uint64_t hang_instructions = 300'000'000;
  // The transport's timeout, the tool's --timeout: a transfer that gets no
  // answer fails after this long in wall-clock time, and a console that
  // does not arm the link port within this long of its own time while the
  // host waits would let the real transfer time out too.
  int timeout_ms = 1000;
  // Link clock and USB turn-around (see CableClock).
  HardwareTimes hardware = {};
  // How the cable has the console start an upload: through the BIOS's
  // multiboot, or straight from 0x02000000.
  Loader loader = Loader::Bios;
};

// What a pipe call of an unplugged cable returns, in the words a vanished
// USB device gives.
constexpr const char* CABLE_UNPLUGGED = "no such device: the cable was unplugged";

class Cable : private LinkPeer {
 public:
  Cable(LinkConsole& console, SimLog& log, CableTimes times = {});

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes);
  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes);
  PipeResult reset(Pipe pipe);

  std::uint32_t reg(unsigned index) const { return regs_[index % CABLE_REG_COUNT]; }
  std::uint64_t words_to_console() const { return words_to_; }
  const CableClock& clock() const { return clock_; }
  // A new run starts at the console's time (after loading a kept state).
  void restart_clock() { clock_.restart(); }
  std::uint64_t words_from_console() const { return words_from_; }
  void add_fault(const LinkFault& fault) { faults_.push_back(fault); }
  // How long a later transfer that gets no answer waits before it fails.
  void set_timeout(int ms) { times_.timeout_ms = ms; }
  bool unplugged() const { return unplugged_; }

  void save(StateWriter& out) const;
  void load(StateReader& in);

 private:
  enum class Phase : std::uint8_t { Off, Pattern, AwaitLength, AwaitImage, Linked };

  PipeResult command(std::span<const std::uint8_t> bytes);
  PipeResult register_access(std::span<const std::uint8_t> bytes);
  PipeResult data_out(std::span<const std::uint8_t> bytes);
  PipeResult upload_word(std::uint32_t word);
  std::uint32_t status();
  PipeResult drive(Pipe pipe);
  bool move_word();
  std::uint32_t noise_on_word(std::uint64_t n);
  PipeResult strike(Pipe pipe);
  void pull_plug();
  void drop_work();
  PipeResult silence(std::size_t moved = 0);
  void note_silence(const std::string& why);
  bool stalled(Pipe pipe) const { return stalled_[static_cast<int>(pipe)]; }
  bool has_work() const { return !to_console_.empty() || reads_wanted_ > 0; }
  void answer(std::uint32_t word, SimTime ready);
  PipeResult refuse(std::string why, std::size_t moved = 0);
  void console_armed() override;
  void console_raised_so_idle() override;
  // The cable clocks the next word into, or from, a port that is not
  // started: the word to the console is lost, the host gets all ones.
  void lose_word(const std::string& why);

  LinkConsole& console_;
  SimLog& log_;
  CableTimes times_;
  CableClock clock_;

  std::uint32_t regs_[CABLE_REG_COUNT] = {};
  Phase phase_ = Phase::Off;
  std::uint32_t image_length_ = 0;
  std::vector<std::uint8_t> image_;
  std::uint32_t data_words_expected_ = 0;  // announced by CMD_WRITE
  std::vector<std::uint8_t> partial_;       // data-out bytes short of a word
  std::deque<std::uint32_t> to_console_;
  std::uint32_t reads_wanted_ = 0;
  std::deque<std::uint8_t> data_in_;
  std::uint64_t words_to_ = 0, words_from_ = 0;
  std::vector<LinkFault> faults_;

  // Faults on purpose; none of this is kept with the state: a stall is the
  // host's pipe, which every open resets, and an unplugged cable is plugged
  // in again for the next run.
  std::optional<LinkFault> struck_;  // hit by move_word, handled by drive
  bool unplugged_ = false;
  bool stalled_[3] = {};             // by Pipe number
  std::chrono::steady_clock::time_point call_start_;
  std::string last_silence_;         // logged once until a word moves again
};

}  // namespace kartex
