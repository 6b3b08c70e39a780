#pragma once
// The cartridge clock: a 4-bit GPIO port in the ROM chip at ROM offsets
// 0xC4 (data), 0xC6 (direction, 1 = out) and 0xC8 (control: 1 makes the
// three registers readable; 0, after power-on, leaves the ROM's own bytes
// on reads), and behind it a 3-wire serial real-time clock (pin 0 SCK,
// pin 1 SIO, pin 2 CS). As GBATEK and the clock chip's data sheet describe
// it: CS rising starts a transfer, the chip takes SIO at each rising SCK
// edge; a command byte comes most significant bit first, fixed code 0110,
// three register bits and the read flag last; parameter bytes go least
// significant bit first. Registers: reset (no bytes), status (1), date and
// time (7: year, month, day, day of week, hour, minute, second in BCD), time
// (3). Status bit 6: 24-hour mode; bit 7: the supply was lost (cleared when
// read). The seconds run on the simulated hardware clock.

#include <cstdint>
#include <memory>
#include <optional>

#include "common/clock_time.h"
#include "contract/hw/cart_clock.h"
#include "contract/wire.h"
#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

// The port's registers as ROM offsets, and its pins.
namespace gpio {
constexpr std::uint32_t DATA = REG_GPIO_DATA - ROM_BASE;
constexpr std::uint32_t DIRECTION = REG_GPIO_DIRECTION - ROM_BASE;
constexpr std::uint32_t CONTROL = REG_GPIO_CONTROL - ROM_BASE;
constexpr std::uint32_t END = GPIO_PORT_OFFSET + GPIO_PORT_BYTES;
constexpr std::uint16_t PIN_SCK = GPIO_PIN_SCK, PIN_SIO = GPIO_PIN_SIO, PIN_CS = GPIO_PIN_CS;
constexpr std::uint16_t PINS = GPIO_PINS;
constexpr std::uint16_t CONTROL_READABLE = GPIO_CONTROL_READABLE;
}  // namespace gpio

class CartClock {
 public:
  // A chip set to `time` in 24-hour mode at the clock's present moment; or,
  // with `power_lost`, one whose battery ran dry: reset values, status 0x82.
  CartClock(SimLog& log, const ClockTime& time, bool power_lost = false);

  // Whether offset (in the ROM window) is one of the port's registers.
  static bool decodes(std::uint32_t offset) { return offset >= gpio::DATA && offset < gpio::END; }
  // Whether a read of the port's registers returns them (control bit 0).
  bool readable() const { return (control_ & gpio::CONTROL_READABLE) != 0; }
  std::uint16_t read16(std::uint32_t offset);
  void write16(std::uint32_t offset, std::uint16_t value);

  // The time the chip counts now, and its status register, for tests.
  ClockTime now() const;
  std::uint8_t status() const { return status_; }

  void save(StateWriter& out) const;
  static std::unique_ptr<CartClock> load(StateReader& in, SimLog& log);

 private:
  enum class Phase : std::uint8_t { Idle, Command, Receive, Send, Ignore };
  // A register the command bits select, and its bytes.
  enum Register : std::uint8_t { REG_RESET = 0, REG_STATUS = 1, REG_DATETIME = 2, REG_TIME = 3 };

  void pins_changed(std::uint16_t before, std::uint16_t after);
  void rising_sck();
  void falling_sck();
  void command_done();
  void byte_received();
  void set_seconds(std::int64_t seconds);
  std::int64_t seconds_now() const;

  SimLog& log_;
  std::uint16_t pins_ = 0;       // what the console last wrote to its output pins
  std::uint16_t direction_ = 0;
  std::uint16_t control_ = 0;
  bool sio_out_ = false;          // what the chip drives on SIO while it sends

  std::uint8_t status_ = CLOCK_STATUS_24H;
  std::int64_t seconds_at_base_ = 0;  // the count at base_
  SimTime base_ = 0;

  Phase phase_ = Phase::Idle;
  Register reg_ = REG_RESET;
  std::uint8_t shift_ = 0;
  unsigned bits_ = 0;
  std::uint8_t bytes_[7] = {};
  unsigned byte_count_ = 0;  // bytes the register has
  unsigned byte_at_ = 0;     // the byte in flight
};

}  // namespace kartex
