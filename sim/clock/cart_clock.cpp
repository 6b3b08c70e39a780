#include "sim/clock/cart_clock.h"

#include <memory>

namespace kartex {

namespace {

constexpr std::uint8_t STATUS_WRITABLE = CLOCK_STATUS_WRITABLE;
constexpr std::uint8_t OPEN_REGISTER = 0xFF;    // the alarm and free registers the port leaves unwired
constexpr std::uint32_t CLOCK_FORMAT = 1;

std::uint8_t bcd(int n) { return static_cast<std::uint8_t>((n / 10) << 4 | (n % 10)); }

}  // namespace

CartClock::CartClock(SimLog& log, const ClockTime& time, bool power_lost) : log_(log) {
  if (power_lost) {
    status_ = CLOCK_STATUS_AFTER_POWER_LOSS;
    set_seconds(0);
  } else {
    set_seconds(clock_seconds(time));
  }
}

std::int64_t CartClock::seconds_now() const {
  const SimTime now = log_.clock().now();
  const SimTime passed = now > base_ ? now - base_ : 0;
  return seconds_at_base_ + static_cast<std::int64_t>(passed / simtime::PER_SECOND);
}

void CartClock::set_seconds(std::int64_t seconds) {
  seconds_at_base_ = seconds % CLOCK_SECONDS_SPAN;
  base_ = log_.clock().now();
}

ClockTime CartClock::now() const { return clock_time_at(seconds_now()); }

std::uint16_t CartClock::read16(std::uint32_t offset) {
  switch (offset & ~1u) {
    case gpio::DATA: {
      // Output pins read back what the console wrote; SIO as an input reads
      // what the chip drives.
      // The chip holds its last bit until the next falling edge.
      std::uint16_t in = 0;
      if (sio_out_) in |= gpio::PIN_SIO;
      return static_cast<std::uint16_t>((pins_ & direction_) | (in & ~direction_ & gpio::PINS));
    }
    case gpio::DIRECTION: return direction_;
    case gpio::CONTROL: return control_;
    default: return 0;  // the port's other bytes read as zero
  }
}

void CartClock::write16(std::uint32_t offset, std::uint16_t value) {
  // The chip sees a pin the console does not drive as low.
  const auto driven = [this] { return static_cast<std::uint16_t>(pins_ & direction_); };
  const std::uint16_t before = driven();
  switch (offset & ~1u) {
    case gpio::DATA: pins_ = value & gpio::PINS; break;
    case gpio::DIRECTION: direction_ = value & gpio::PINS; break;
    case gpio::CONTROL: control_ = value & gpio::CONTROL_READABLE; return;
    default: return;
  }
  pins_changed(before, driven());
}

void CartClock::pins_changed(std::uint16_t before, std::uint16_t after) {
  const bool cs_was = before & gpio::PIN_CS, cs = after & gpio::PIN_CS;
  if (!cs) {
    sio_out_ = false;
    if (cs_was && phase_ == Phase::Receive && (bits_ || byte_at_))
      log_.misuse("clock", "transfer ended before the register's last byte; nothing written");
    phase_ = Phase::Idle;
    return;
  }
  if (!cs_was) {
    phase_ = Phase::Command;
    shift_ = 0;
    bits_ = 0;
    return;
  }
  const bool sck_was = before & gpio::PIN_SCK, sck = after & gpio::PIN_SCK;
  if (!sck_was && sck) rising_sck();
  if (sck_was && !sck) falling_sck();
}

void CartClock::rising_sck() {
  const unsigned sio = (pins_ & direction_ & gpio::PIN_SIO) ? 1 : 0;
  switch (phase_) {
    case Phase::Command:
      shift_ = static_cast<std::uint8_t>(shift_ << 1 | sio);
      if (++bits_ == 8) command_done();
      break;
    case Phase::Receive:
      shift_ = static_cast<std::uint8_t>(shift_ | sio << bits_);
      if (++bits_ == 8) byte_received();
      break;
    case Phase::Send:
      // The console took the bit the chip put out at the falling edge.
      if (++bits_ == 8) {
        bits_ = 0;
        if (++byte_at_ == byte_count_) phase_ = Phase::Ignore;
      }
      break;
    case Phase::Idle:
    case Phase::Ignore: break;
  }
}

void CartClock::falling_sck() {
  // Past the register's last byte the chip lets go of SIO.
  sio_out_ = phase_ == Phase::Send && ((bytes_[byte_at_ % 7] >> bits_) & 1);
}

void CartClock::command_done() {
  const std::uint8_t command = shift_;
  bits_ = 0;
  shift_ = 0;
  byte_at_ = 0;
  if ((command & CLOCK_CMD_CODE_MASK) != CLOCK_CMD_CODE) {
    log_.misuse("clock", "command byte " + hex_short(command) + " lacks the fixed code 0110");
    phase_ = Phase::Ignore;
    return;
  }
  const bool read = command & 1;
  const unsigned reg = (command >> 1) & 7;
  byte_count_ = reg == REG_STATUS ? 1 : reg == REG_DATETIME ? 7 : reg == REG_TIME ? 3 : 0;
  reg_ = static_cast<Register>(reg < 4 ? reg : 0u);
  if (reg == REG_RESET) {
    // The reset command clears the status and sets 2000-01-01 00:00:00.
    status_ = 0;
    set_seconds(0);
    phase_ = Phase::Ignore;
    return;
  }
  if (byte_count_ == 0) {
    // The interrupt and alarm registers drive a line no console pin reads.
    if (read) {
      for (std::uint8_t& b : bytes_) b = OPEN_REGISTER;
      byte_count_ = 7;
      phase_ = Phase::Send;
      sio_out_ = true;
    } else {
      phase_ = Phase::Ignore;
    }
    return;
  }
  if (!read) {
    phase_ = Phase::Receive;
    return;
  }
  // A read latches the registers at its command.
  if (reg == REG_STATUS) {
    bytes_[0] = status_;
    status_ = static_cast<std::uint8_t>(status_ & ~CLOCK_STATUS_POWER_LOST);
  } else {
    const ClockTime t = now();
    ClockRegisters r = clock_registers(t);
    if (!(status_ & CLOCK_STATUS_24H))
      r[4] = static_cast<std::uint8_t>(bcd(t.hour % 12) | (t.hour >= 12 ? CLOCK_HOUR_PM : 0));
    if (reg == REG_TIME)
      for (unsigned i = 0; i < 3; ++i) bytes_[i] = r[4 + i];
    else
      for (unsigned i = 0; i < 7; ++i) bytes_[i] = r[i];
  }
  phase_ = Phase::Send;
  sio_out_ = bytes_[0] & 1;
}

void CartClock::byte_received() {
  bytes_[byte_at_++] = shift_;
  shift_ = 0;
  bits_ = 0;
  if (byte_at_ < byte_count_) return;
  phase_ = Phase::Ignore;
  if (reg_ == REG_STATUS) {
    status_ = static_cast<std::uint8_t>((status_ & ~STATUS_WRITABLE) | (bytes_[0] & STATUS_WRITABLE));
    return;
  }
  ClockRegisters r{};
  const ClockTime today = now();
  if (reg_ == REG_TIME) {
    r = clock_registers(today);
    for (unsigned i = 0; i < 3; ++i) r[4 + i] = bytes_[i];
  } else {
    for (unsigned i = 0; i < 7; ++i) r[i] = bytes_[i];
  }
  const std::optional<ClockTime> t = clock_from_registers(r, status_);
  if (!t) {
    log_.misuse("clock", "date and time written are no valid BCD time; the chip keeps counting its own");
    return;
  }
  set_seconds(clock_seconds(*t));
}

void CartClock::save(StateWriter& out) const {
  out.u32(CLOCK_FORMAT);
  out.u8(status_);
  out.u64(static_cast<std::uint64_t>(seconds_now() % CLOCK_SECONDS_SPAN));
  // The fraction of the running second, so that a kept clock ticks on time.
  out.u64((log_.clock().now() > base_ ? log_.clock().now() - base_ : 0) % simtime::PER_SECOND);
  out.u16(pins_);
  out.u16(direction_);
  out.u16(control_);
}

std::unique_ptr<CartClock> CartClock::load(StateReader& in, SimLog& log) {
  if (in.u32() != CLOCK_FORMAT) in.corrupt("unknown clock format");
  auto clock = std::make_unique<CartClock>(log, ClockTime{});
  clock->status_ = in.u8();
  const std::uint64_t seconds = in.u64();
  const std::uint64_t fraction = in.u64();
  if (seconds >= static_cast<std::uint64_t>(CLOCK_SECONDS_SPAN) || fraction >= simtime::PER_SECOND)
    in.corrupt("clock time out of range");
  clock->seconds_at_base_ = static_cast<std::int64_t>(seconds);
  const SimTime now = log.clock().now();
  clock->base_ = now >= fraction ? now - fraction : 0;
  clock->pins_ = in.u16() & gpio::PINS;
  clock->direction_ = in.u16() & gpio::PINS;
  clock->control_ = in.u16() & gpio::CONTROL_READABLE;
  return clock;
}

}  // namespace kartex
