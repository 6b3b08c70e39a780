#pragma once
// The cable: its registers, the boot handshake, the upload, and the
// command forms that move link words to and from the console. The console
// runs only while the host waits for it (a transfer or a status poll).
//
// Choices where the cable's firmware is free:
// - A register write is answered with the register's value after the write.
// - While the cable clocks a word out of the console (CMD_READ) it shifts
//   LINK_IDLE_WORD (0x5555AAAA) in.
// - Completing the handshake (REG_BOOT: BOOT_PATTERN, then 0) restarts the
//   console into its boot loader, which is ready for an upload at once:
//   REG_STATUS bits 0 and 1 are set right away.
// - The uploaded image starts at 0x02000000 in ARM state and system mode,
//   SP_sys 0x03007F00, SP_irq 0x03007FA0, SP_svc 0x03007FE0.
// - A CMD_READ is served when its command arrives: the words wait on the
//   data-in pipe in order behind any earlier answer.
// - A word count of 0 moves nothing.
// - A status poll of a console that has faulted fails with the fault, so
//   that a host waiting for the console's next word learns it never comes.

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "link/pipes.h"
#include "link/protocol.h"
#include "sim/console.h"
#include "sim/link_fault.h"
#include "sim/sim_log.h"
#include "sim/state_file.h"

namespace kartex {

struct CableTimes {
  // Instructions a console may run while the host waits on it without any
  // link exchange before the transfer is reported as hung.
  std::uint64_t hang_instructions = 300'000'000;
  // Instructions the console runs for one REG_STATUS poll (about 100 ms of
  // console time) when it has not armed an exchange yet.
  std::uint64_t status_slice = 1'000'000;
};

class Cable : private LinkPeer {
 public:
  Cable(Console& console, SimLog& log, CableTimes times = {});

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes);
  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes);
  PipeResult reset(Pipe pipe);

  std::uint32_t reg(unsigned index) const { return regs_[index % REG_COUNT]; }
  std::uint64_t words_to_console() const { return words_to_; }
  std::uint64_t words_from_console() const { return words_from_; }
  void add_fault(const LinkFault& fault) { faults_.push_back(fault); }

  void save(StateWriter& out) const;
  void load(StateReader& in);

 private:
  enum class Phase : std::uint8_t { Off, Pattern, AwaitLength, AwaitImage, Linked };

  PipeResult command(std::span<const std::uint8_t> bytes);
  PipeResult register_access(std::span<const std::uint8_t> bytes);
  PipeResult data_out(std::span<const std::uint8_t> bytes);
  PipeResult upload_word(std::uint32_t word);
  std::uint32_t status();
  PipeResult drive();
  void move_word();
  std::uint32_t noise_on_word();
  bool has_work() const { return !to_console_.empty() || reads_wanted_ > 0; }
  void answer(std::uint32_t word);
  PipeResult refuse(std::string why, std::size_t moved = 0);
  void console_armed() override;

  Console& console_;
  SimLog& log_;
  CableTimes times_;

  std::uint32_t regs_[REG_COUNT] = {};
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
};

}  // namespace kartex
