#include "sim/cable/cable.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "contract/hw/memory.h"

namespace kartex {

namespace {

constexpr std::uint32_t STATUS_WORD_READY_BIT = STATUS_NO_WORD;

// The cable's own names of its pipes, for the log.
const char* pipe_label(Pipe pipe) {
  switch (pipe) {
    case Pipe::Command: return "command pipe";
    case Pipe::DataIn: return "data-in pipe";
    case Pipe::DataOut: return "data-out pipe";
  }
  return "pipe";
}

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

Cable::Cable(LinkConsole& console, SimLog& log, CableTimes times)
    : console_(console), log_(log), times_(times), clock_(console.clock(), times.hardware) {
  console_.set_link_peer(this);
  clock_.restart();
}

PipeResult Cable::refuse(std::string why, std::size_t moved) {
  log_.misuse("cable", why);
  return PipeResult::failed(std::move(why), moved);
}

PipeResult Cable::write(Pipe pipe, std::span<const std::uint8_t> bytes) {
  call_start_ = std::chrono::steady_clock::now();
  if (unplugged_) return PipeResult::failed(CABLE_UNPLUGGED);
  clock_.host_posts();
  if (stalled(pipe)) return silence();
  switch (pipe) {
    case Pipe::Command: return command(bytes);
    case Pipe::DataOut: return data_out(bytes);
    case Pipe::DataIn: break;
  }
  return refuse("write to the data-in pipe, which only sends to the host");
}

PipeResult Cable::read(Pipe pipe, std::span<std::uint8_t> bytes) {
  call_start_ = std::chrono::steady_clock::now();
  if (unplugged_) return PipeResult::failed(CABLE_UNPLUGGED);
  if (pipe != Pipe::DataIn) return refuse("read from a pipe that only takes data from the host");
  std::size_t n = 0;
  while (n < bytes.size() && !data_in_.empty()) {
    bytes[n++] = data_in_.front();
    data_in_.pop_front();
  }
  clock_.host_reads(n);
  if (n < bytes.size()) {
    // A stalled pipe says nothing more; otherwise the host asked for bytes
    // nobody is sending, which the log names (once while nothing moves).
    if (!stalled(pipe))
      note_silence("no answer: read of " + std::to_string(bytes.size()) + " bytes while the cable had " +
                   std::to_string(n) + " to send");
    return silence(n);
  }
  return PipeResult::done(n);
}

PipeResult Cable::reset(Pipe pipe) {
  if (unplugged_) return PipeResult::failed(CABLE_UNPLUGGED);
  // A pipe reset drops what is in flight on that pipe only, and clears a
  // stall: the pipe works again.
  stalled_[static_cast<int>(pipe)] = false;
  clock_.host_posts();
  if (pipe == Pipe::DataIn) {
    data_in_.clear();
    clock_.drop_answers();
  }
  if (pipe == Pipe::DataOut) {
    partial_.clear();
    data_words_expected_ = 0;
  }
  return PipeResult::done(0);
}

void Cable::answer(std::uint32_t word, SimTime ready) {
  if (stalled(Pipe::DataIn)) return;  // nothing gets through a stalled pipe
  for (int i = 0; i < 4; ++i) data_in_.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  clock_.answered(4, ready);
}

PipeResult Cable::command(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return refuse("empty command");
  if (data_words_expected_ > 0) {
    log_.misuse("cable", "new command while " + std::to_string(data_words_expected_) +
                             " announced data words never came; they are dropped");
    data_words_expected_ = 0;
    partial_.clear();
  }
  switch (bytes[0]) {
    case CMD_REQUEST: {
      if (bytes.size() < 2 || bytes.size() != 2 + 4u * bytes[1])
        return refuse("request record of " + std::to_string(bytes.size()) +
                      " bytes does not match its word count");
      if (phase_ != Phase::Linked) return refuse("request while no program runs on the console");
      for (std::size_t i = 2; i < bytes.size(); i += 4) to_console_.push_back(le32(&bytes[i]));
      PipeResult r = drive(Pipe::Command);
      return r.ok ? PipeResult::done(bytes.size()) : r;
    }
    case CMD_READ: {
      if (bytes.size() < 3) return refuse("short read command");
      // Bytes 3 and up of the long form carry nothing the cable needs.
      const std::uint32_t words = bytes[1] | bytes[2] << 8;
      if (words == 0) return PipeResult::done(bytes.size());
      if (phase_ != Phase::Linked)
        return refuse("read of " + std::to_string(words) + " words while no program runs on the console");
      reads_wanted_ = words;
      PipeResult r = drive(Pipe::Command);
      return r.ok ? PipeResult::done(bytes.size()) : r;
    }
    case CMD_WRITE:
      if (bytes.size() != 3) return refuse("write command of " + std::to_string(bytes.size()) + " bytes");
      data_words_expected_ = bytes[1] | bytes[2] << 8;
      return PipeResult::done(bytes.size());
    case CMD_REG:
      return register_access(bytes);
    default:
      return refuse("unknown command byte " + hex32(bytes[0]));
  }
}

std::uint32_t Cable::status() {
  if (phase_ == Phase::Linked && !console_.link_armed() && console_.running()) {
    // The console has run until the host's poll reached the cable.
    if (console_.run(times_.hang_instructions, clock_.host()) == RunEnd::Fault) log_.note("cable", console_.fault());
  }
  std::uint32_t s = 0;
  if (phase_ >= Phase::AwaitLength) s |= STATUS_LINK_UP;
  // A console that ran ahead of the host arms later than the poll is there.
  if (!console_.link_armed() || console_.clock().now() > clock_.host()) s |= STATUS_WORD_READY_BIT;
  return s;
}

PipeResult Cable::register_access(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2) return refuse("short register command");
  const unsigned index = bytes[1] & ~CMD_REG_WRITE_FLAG;
  if (!(bytes[1] & CMD_REG_WRITE_FLAG)) {
    if (bytes.size() != 2) return refuse("register read of " + std::to_string(bytes.size()) + " bytes");
    if (index == CABLE_REG_STATUS && phase_ == Phase::Linked && !console_.fault().empty()) {
      // A console that faulted never arms again: a host polling for its
      // next word would wait forever. The poll after the fault reports it.
      return PipeResult::failed(console_.fault());
    }
    answer(index == CABLE_REG_STATUS ? status() : regs_[index], clock_.host());
    return PipeResult::done(bytes.size());
  }
  if (bytes.size() != 6) return refuse("register write of " + std::to_string(bytes.size()) + " bytes");
  const std::uint32_t value = le32(&bytes[2]);
  if (index == CABLE_REG_STATUS) {
    log_.misuse("cable", "write of " + hex32(value) + " to the read-only status register");
    answer(status(), clock_.host());
    return PipeResult::done(bytes.size());
  }
  regs_[index] = value;
  if (index == CABLE_REG_BOOT) {
    if (value == BOOT_PATTERN) {
      phase_ = Phase::Pattern;
    } else if (value == 0 && phase_ == Phase::Pattern) {
      // The console restarts and waits for a program over the link.
      console_.power_on();
      to_console_.clear();
      reads_wanted_ = 0;
      phase_ = Phase::AwaitLength;
    }
  }
  answer(value, clock_.host());
  return PipeResult::done(bytes.size());
}

PipeResult Cable::data_out(std::span<const std::uint8_t> bytes) {
  partial_.insert(partial_.end(), bytes.begin(), bytes.end());
  if (partial_.size() / 4 > data_words_expected_) {
    const std::size_t extra = partial_.size() - 4u * data_words_expected_;
    partial_.clear();
    data_words_expected_ = 0;
    return refuse(std::to_string(extra) + " data bytes beyond the announced count");
  }
  const std::size_t whole = partial_.size() / 4;
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i < whole; ++i) words.push_back(le32(&partial_[4 * i]));
  partial_.erase(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(4 * whole));
  data_words_expected_ -= static_cast<std::uint32_t>(whole);

  clock_.begin_transfer();
  if (phase_ == Phase::Linked) {
    to_console_.insert(to_console_.end(), words.begin(), words.end());
    PipeResult r = drive(Pipe::DataOut);
    clock_.end_transfer();
    return r.ok ? PipeResult::done(bytes.size()) : r;
  }
  if (phase_ != Phase::AwaitLength && phase_ != Phase::AwaitImage)
    return refuse("data before the link handshake: no console to clock it to");
  for (std::uint32_t w : words) {
    PipeResult r = upload_word(w);
    if (!r.ok) return r;
  }
  clock_.end_transfer();
  return PipeResult::done(bytes.size());
}

PipeResult Cable::upload_word(std::uint32_t word) {
  if (phase_ == Phase::AwaitLength) {
    if (word == 0 || word > EWRAM_SIZE)
      return refuse("upload length " + std::to_string(word) + " does not fit the console's " +
                    std::to_string(EWRAM_SIZE) + " bytes of work RAM");
    image_length_ = word;
    image_.clear();
    phase_ = Phase::AwaitImage;
    clock_.upload_exchange();
    return PipeResult::done(4);
  }
  if (phase_ != Phase::AwaitImage) return refuse("upload word after the image was complete");
  for (int i = 0; i < 4; ++i) image_.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  const SimTime moved = clock_.upload_exchange();
  if (image_.size() >= image_length_) {
    image_.resize(image_length_);
    if (times_.loader == Loader::Direct) {
      console_.boot(image_);
    } else if (const std::string why = multiboot_refusal(image_); !why.empty()) {
      log_.note("cable", "the console's BIOS refuses the upload: " + why + "; no program runs");
      console_.power_on();
    } else {
      multiboot_patch(image_);
      console_.boot_multiboot(image_);
    }
    console_.clock().reach(moved);
    image_.clear();
    image_.shrink_to_fit();
    phase_ = Phase::Linked;
  }
  return PipeResult::done(4);
}

std::uint32_t Cable::noise_on_word(std::uint64_t n) {
  std::uint32_t mask = 0;
  for (const LinkFault& f : faults_)
    if (f.kind == LinkFault::Kind::Flip && f.word == n) {
      mask ^= 1u << f.bit;
      log_.note("cable", "fault " + link_fault_text(f) + ": bit " + std::to_string(f.bit) + " of link word " +
                             std::to_string(n) + " inverted");
    }
  return mask;
}

bool Cable::move_word() {
  const std::uint64_t n = words_to_ + words_from_;
  for (auto it = faults_.begin(); it != faults_.end(); ++it)
    if (it->word == n && it->kind == LinkFault::Kind::Lose) {
      log_.note("cable", "fault " + link_fault_text(*it) + ": link word " + std::to_string(n) +
                             " is clocked before the console's port is started");
      faults_.erase(it);
      lose_word("");
      return true;
    }
  // A fault that stops the word fires once: the word keeps its number.
  for (auto it = faults_.begin(); it != faults_.end(); ++it)
    if (it->word == n && it->kind != LinkFault::Kind::Flip) {
      struck_ = *it;
      faults_.erase(it);
      return false;
    }
  // A loose contact corrupts the word on the wire, whichever way it goes.
  const std::uint32_t noise = noise_on_word(n);
  const SimTime done = clock_.exchange();
  if (!to_console_.empty()) {
    console_.link_exchange(to_console_.front() ^ noise, done);
    to_console_.pop_front();
    ++words_to_;
  } else if (reads_wanted_ > 0) {
    answer(console_.link_exchange(LINK_IDLE_WORD, done) ^ noise, done);
    --reads_wanted_;
    ++words_from_;
  }
  last_silence_.clear();
  return true;
}

void Cable::console_raised_so_idle() {
  // The firmware clocks at SO's rise; a port without its start bit shifts
  // nothing: the word to the console is gone, the one from it is SO's
  // level, all ones.
  if (!has_work()) return;
  lose_word("SO rose with SIOCNT's start bit clear");
  // Inside the console's SIOCNT write, as an arming is: the host's transfer
  // has moved, the CPU stops at its next block.
  if (!has_work()) console_.request_stop();
}

void Cable::lose_word(const std::string& why) {
  // `why` empty: the fault said it already.
  const auto tell = [&](const std::string& what) {
    if (!why.empty()) log_.misuse("cable", why + ": " + what);
  };
  const std::uint64_t n = words_to_ + words_from_;
  const SimTime done = clock_.exchange();
  if (!to_console_.empty()) {
    tell("link word " + std::to_string(n) + " (" + hex32(to_console_.front()) +
         ") was clocked into a port that was not started; lost");
    to_console_.pop_front();
    ++words_to_;
  } else {
    tell("link word " + std::to_string(n) + " was clocked from a port that was not started; the host gets SO's level");
    answer(0xFFFFFFFF, done);
    --reads_wanted_;
    ++words_from_;
  }
}

void Cable::console_armed() {
  // Inside the console's SIOCNT write: complete the exchange now if there
  // is a word to move, otherwise have the CPU stop at its next block.
  if (has_work() && !move_word()) {
    console_.request_stop();  // a fault: drive() takes it from here
    return;
  }
  if (!has_work()) console_.request_stop();
}

void Cable::drop_work() {
  to_console_.clear();
  reads_wanted_ = 0;
}

PipeResult Cable::silence(std::size_t moved) {
  clock_.host_waits(simtime::milliseconds(static_cast<std::uint64_t>(std::max(times_.timeout_ms, 0))));
  std::this_thread::sleep_until(call_start_ + std::chrono::milliseconds(times_.timeout_ms));
  char text[48];
  std::snprintf(text, sizeof text, "timeout after %g s", times_.timeout_ms / 1000.0);
  return PipeResult::failed(text, moved);
}

void Cable::note_silence(const std::string& why) {
  // A host that retries a dead console gets one line, not one per try.
  if (why == last_silence_) return;
  last_silence_ = why;
  log_.note("cable", why);
}

void Cable::pull_plug() {
  // Without USB power the cable's registers and its link state are gone; the
  // console and the cartridge keep theirs.
  unplugged_ = true;
  for (std::uint32_t& r : regs_) r = 0;
  phase_ = Phase::Off;
  image_length_ = 0;
  image_.clear();
  data_words_expected_ = 0;
  partial_.clear();
  drop_work();
  data_in_.clear();
  for (bool& s : stalled_) s = false;
}

PipeResult Cable::strike(Pipe pipe) {
  const LinkFault f = *struck_;
  struck_.reset();
  const std::string at = "fault " + link_fault_text(f) + ": ";
  const bool to_console = !to_console_.empty();
  drop_work();
  switch (f.kind) {
    case LinkFault::Kind::Unplug:
      log_.note("cable", at + "the cable is unplugged");
      pull_plug();
      return PipeResult::failed(CABLE_UNPLUGGED);
    case LinkFault::Kind::Hang:
      log_.note("cable", at + "the console hangs and never arms the link port again");
      console_.hang();
      last_silence_ = "no answer: the console hangs";
      return silence();
    case LinkFault::Kind::Power:
      log_.note("cable", at + "the console is switched off and on; it waits for an upload");
      console_.power_on();
      last_silence_ = "no answer: no program runs on the console";
      return silence();
    case LinkFault::Kind::Stall:
      if (to_console) {
        log_.note("cable", at + "the transfer on the " + pipe_label(pipe) + " never completes");
        stalled_[static_cast<int>(pipe)] = true;
        return silence();
      }
      // The read command went out; the words it asked for never come.
      log_.note("cable", at + "the transfer on the " + pipe_label(Pipe::DataIn) + " never completes");
      stalled_[static_cast<int>(Pipe::DataIn)] = true;
      return PipeResult::done(0);
    case LinkFault::Kind::Flip:
    case LinkFault::Kind::Lose:
      break;
  }
  return PipeResult::done(0);
}

PipeResult Cable::drive(Pipe pipe) {
  while (has_work()) {
    if (console_.link_armed()) {
      if (!move_word()) return strike(pipe);
      continue;
    }
    // A console that has not armed within the host's timeout of its own
    // time would see the transfer time out on the real cable too.
    const SimTime waiting_from = std::max(console_.clock().now(), clock_.now());
    const std::uint64_t budget = times_.hang_instructions;
    const RunEnd end = console_.run(budget, waiting_from + simtime::milliseconds(std::max(times_.timeout_ms, 1)));
    if (struck_) return strike(pipe);
    std::string why;
    switch (end) {
      case RunEnd::Stopped:
        continue;
      case RunEnd::Fault:
        drop_work();
        log_.note("cable", console_.fault());
        return PipeResult::failed(console_.fault());
      case RunEnd::Budget:
        why = console_.hung() ? "no answer: the console hangs"
                              : "no answer: console hung: no link activity for " + std::to_string(budget) +
                                    " instructions, PC=" +
                                    hex32(console_.pc());
        break;
      case RunEnd::Deadline: {
        char text[128];
        std::snprintf(text, sizeof text, "no answer: the console did not arm the link port within %g s, PC=",
                      times_.timeout_ms / 1000.0);
        why = text + hex32(console_.pc());
        break;
      }
      case RunEnd::Idle:
        why = "no answer: no program runs on the console";
        break;
    }
    drop_work();
    note_silence(why);
    return silence();
  }
  return PipeResult::done(0);
}

void Cable::save(StateWriter& out) const {
  for (std::uint32_t r : regs_) out.u32(r);
  out.u8(static_cast<std::uint8_t>(phase_));
  out.u32(image_length_);
  out.blob(image_);
  out.u32(data_words_expected_);
  out.blob(partial_);
  out.blob(std::vector<std::uint8_t>(data_in_.begin(), data_in_.end()));
}

void Cable::load(StateReader& in) {
  for (std::uint32_t& r : regs_) r = in.u32();
  const std::uint8_t phase = in.u8();
  if (phase > static_cast<std::uint8_t>(Phase::Linked)) in.corrupt("unknown cable phase");
  phase_ = static_cast<Phase>(phase);
  image_length_ = in.u32();
  image_ = in.blob();
  if (image_length_ > EWRAM_SIZE || image_.size() > image_length_) in.corrupt("upload in progress is inconsistent");
  data_words_expected_ = in.u32();
  if (data_words_expected_ > 0xFFFF) in.corrupt("more announced data words than a write command can announce");
  partial_ = in.blob();
  if (partial_.size() >= 4) in.corrupt("partial data word is too long");
  std::vector<std::uint8_t> pending = in.blob();
  data_in_.assign(pending.begin(), pending.end());
}

}  // namespace kartex
