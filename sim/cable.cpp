#include "sim/cable.h"

namespace kartex {

namespace {

constexpr std::uint32_t STATUS_WORD_READY_BIT = STATUS_NO_WORD;

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

Cable::Cable(Console& console, SimLog& log, CableTimes times)
    : console_(console), log_(log), times_(times) {
  console_.set_link_peer(this);
}

PipeResult Cable::refuse(std::string why, std::size_t moved) {
  log_.misuse("cable", why);
  return PipeResult::failed(std::move(why), moved);
}

PipeResult Cable::write(Pipe pipe, std::span<const std::uint8_t> bytes) {
  switch (pipe) {
    case Pipe::Command: return command(bytes);
    case Pipe::DataOut: return data_out(bytes);
    case Pipe::DataIn: break;
  }
  return refuse("write to the data-in pipe, which only sends to the host");
}

PipeResult Cable::read(Pipe pipe, std::span<std::uint8_t> bytes) {
  if (pipe != Pipe::DataIn) return refuse("read from a pipe that only takes data from the host");
  std::size_t n = 0;
  while (n < bytes.size() && !data_in_.empty()) {
    bytes[n++] = data_in_.front();
    data_in_.pop_front();
  }
  if (n < bytes.size())
    return PipeResult::failed("timeout: the cable had " + std::to_string(n) + " of " +
                                  std::to_string(bytes.size()) + " bytes to send",
                              n);
  return PipeResult::done(n);
}

PipeResult Cable::reset(Pipe pipe) {
  // A pipe reset drops what is in flight on that pipe only.
  if (pipe == Pipe::DataIn) data_in_.clear();
  if (pipe == Pipe::DataOut) {
    partial_.clear();
    data_words_expected_ = 0;
  }
  return PipeResult::done(0);
}

void Cable::answer(std::uint32_t word) {
  for (int i = 0; i < 4; ++i) data_in_.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
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
      PipeResult r = drive();
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
      PipeResult r = drive();
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
    // The host polls while time passes on the console: let it run a while.
    if (console_.run(times_.status_slice) == RunEnd::Fault) log_.note("cable", console_.fault());
  }
  std::uint32_t s = 0;
  if (phase_ >= Phase::AwaitLength) s |= STATUS_LINK_UP;
  if (!console_.link_armed()) s |= STATUS_WORD_READY_BIT;
  return s;
}

PipeResult Cable::register_access(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 2) return refuse("short register command");
  const unsigned index = bytes[1] & ~CMD_REG_WRITE_FLAG;
  if (!(bytes[1] & CMD_REG_WRITE_FLAG)) {
    if (bytes.size() != 2) return refuse("register read of " + std::to_string(bytes.size()) + " bytes");
    if (index == REG_STATUS && phase_ == Phase::Linked && !console_.fault().empty()) {
      // A console that faulted never arms again: a host polling for its
      // next word would wait forever. The poll after the fault reports it.
      return PipeResult::failed(console_.fault());
    }
    answer(index == REG_STATUS ? status() : regs_[index]);
    return PipeResult::done(bytes.size());
  }
  if (bytes.size() != 6) return refuse("register write of " + std::to_string(bytes.size()) + " bytes");
  const std::uint32_t value = le32(&bytes[2]);
  if (index == REG_STATUS) {
    log_.misuse("cable", "write of " + hex32(value) + " to the read-only status register");
    answer(status());
    return PipeResult::done(bytes.size());
  }
  regs_[index] = value;
  if (index == REG_BOOT) {
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
  answer(value);
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

  if (phase_ == Phase::Linked) {
    to_console_.insert(to_console_.end(), words.begin(), words.end());
    PipeResult r = drive();
    return r.ok ? PipeResult::done(bytes.size()) : r;
  }
  if (phase_ != Phase::AwaitLength && phase_ != Phase::AwaitImage)
    return refuse("data before the link handshake: no console to clock it to");
  for (std::uint32_t w : words) {
    PipeResult r = upload_word(w);
    if (!r.ok) return r;
  }
  return PipeResult::done(bytes.size());
}

PipeResult Cable::upload_word(std::uint32_t word) {
  if (phase_ == Phase::AwaitLength) {
    if (word == 0 || word > mem::EWRAM_BYTES)
      return refuse("upload length " + std::to_string(word) + " does not fit the console's " +
                    std::to_string(mem::EWRAM_BYTES) + " bytes of work RAM");
    image_length_ = word;
    image_.clear();
    phase_ = Phase::AwaitImage;
    return PipeResult::done(4);
  }
  if (phase_ != Phase::AwaitImage) return refuse("upload word after the image was complete");
  for (int i = 0; i < 4; ++i) image_.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  if (image_.size() >= image_length_) {
    image_.resize(image_length_);
    console_.boot(image_);
    image_.clear();
    image_.shrink_to_fit();
    phase_ = Phase::Linked;
  }
  return PipeResult::done(4);
}

std::uint32_t Cable::noise_on_word() {
  const std::uint64_t n = words_to_ + words_from_;
  std::uint32_t mask = 0;
  for (const LinkFault& f : faults_)
    if (f.kind == LinkFault::Kind::Flip && f.word == n) {
      mask ^= 1u << f.bit;
      log_.note("cable", "fault: bit " + std::to_string(f.bit) + " of link word " + std::to_string(n) +
                             " inverted");
    }
  return mask;
}

void Cable::move_word() {
  // A loose contact corrupts the word on the wire, whichever way it goes.
  const std::uint32_t noise = noise_on_word();
  if (!to_console_.empty()) {
    console_.link_exchange(to_console_.front() ^ noise);
    to_console_.pop_front();
    ++words_to_;
  } else if (reads_wanted_ > 0) {
    answer(console_.link_exchange(LINK_IDLE_WORD) ^ noise);
    --reads_wanted_;
    ++words_from_;
  }
}

void Cable::console_armed() {
  // Inside the console's SIOCNT write: complete the exchange now if there
  // is a word to move, otherwise have the CPU stop at its next block.
  if (has_work()) move_word();
  if (!has_work()) console_.request_stop();
}

PipeResult Cable::drive() {
  while (has_work()) {
    if (console_.link_armed()) {
      move_word();
      continue;
    }
    std::string why;
    switch (console_.run(times_.hang_instructions)) {
      case RunEnd::Stopped:
        continue;
      case RunEnd::Budget:
        why = "console hung: no link activity for " + std::to_string(times_.hang_instructions) +
              " instructions, PC=" + hex32(console_.pc());
        break;
      case RunEnd::Fault:
        why = console_.fault();
        break;
      case RunEnd::Idle:
        why = "no program runs on the console";
        break;
    }
    to_console_.clear();
    reads_wanted_ = 0;
    log_.note("cable", why);
    return PipeResult::failed(why);
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
  if (image_length_ > mem::EWRAM_BYTES || image_.size() > image_length_) in.corrupt("upload in progress is inconsistent");
  data_words_expected_ = in.u32();
  partial_ = in.blob();
  if (partial_.size() >= 4) in.corrupt("partial data word is too long");
  std::vector<std::uint8_t> pending = in.blob();
  data_in_.assign(pending.begin(), pending.end());
}

}  // namespace kartex
