// The cartridge clock's calendar, its record after a save, and the
// simulator's clock chip driven pin by pin through the GPIO port as a
// game drives it.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "cart/cart_clock.h"
#include "common/clock_time.h"
#include "common/failure.h"
#include "sim/cart/cart_build.h"
#include "sim/cart/cartridge.h"
#include "sim/sim_pipes.h"
#include "sim/cart/rom_part.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t ROM = 0x08000000;
constexpr std::int64_t HOUR = 3600;

// -------- the calendar --------

TEST(ClockTime, TextIsParsedOnlyWhenItIsATimeTheChipHolds) {
  struct Case {
    const char* text;
    std::optional<ClockTime> time;
  };
  const Case cases[] = {
      {"2026-12-08T16:27:48", ClockTime{2026, 12, 8, 16, 27, 48}},
      {"2000-01-01T00:00:00", ClockTime{2000, 1, 1, 0, 0, 0}},
      {"2099-12-31T23:59:59", ClockTime{2099, 12, 31, 23, 59, 59}},
      {"2024-02-29T12:00:00", ClockTime{2024, 2, 29, 12, 0, 0}},
      {"2023-02-29T12:00:00", std::nullopt},  // no leap year
      {"2100-02-28T12:00:00", std::nullopt},  // past the two year digits
      {"1999-12-31T23:59:59", std::nullopt},
      {"2026-13-01T00:00:00", std::nullopt},
      {"2026-04-31T00:00:00", std::nullopt},
      {"2026-12-08T24:00:00", std::nullopt},
      {"2026-12-08T16:60:00", std::nullopt},
      {"2026-12-08 16:27:48", std::nullopt},
      {"2026-12-08T16:27", std::nullopt},
      {"2026-12-08T16:27:4x", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_clock_time(c.text), c.time) << c.text;
}

TEST(ClockTime, SecondsWeekdaysAndRegistersAgree) {
  struct Case {
    ClockTime t;
    std::int64_t seconds;
    int weekday;  // 0 = Sunday
    ClockRegisters registers;
  };
  const Case cases[] = {
      {{2000, 1, 1, 0, 0, 0}, 0, 6, {0x00, 0x01, 0x01, 6, 0x00, 0x00, 0x00}},
      {{2000, 3, 1, 11, 59, 59}, 60 * 86400 + 11 * 3600 + 59 * 60 + 59, 3, {0x00, 0x03, 0x01, 3, 0x11, 0x59, 0x59}},
      {{2026, 12, 8, 16, 27, 48}, 9838 * 86400LL + 16 * 3600 + 27 * 60 + 48, 2, {0x26, 0x12, 0x08, 2, 0x96, 0x27, 0x48}},
      {{2099, 12, 31, 23, 59, 59}, CLOCK_SECONDS_SPAN - 1, 4, {0x99, 0x12, 0x31, 4, 0xA3, 0x59, 0x59}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(format_clock_time(c.t));
    EXPECT_EQ(clock_seconds(c.t), c.seconds);
    EXPECT_EQ(clock_time_at(c.seconds), c.t);
    EXPECT_EQ(clock_weekday(c.t), c.weekday);
    EXPECT_EQ(clock_registers(c.t), c.registers);
    EXPECT_EQ(clock_from_registers(c.registers, CLOCK_STATUS_24H), c.t);
  }
  // The two year digits run over to 2000.
  EXPECT_EQ(clock_time_at(CLOCK_SECONDS_SPAN), (ClockTime{2000, 1, 1, 0, 0, 0}));
}

TEST(ClockTime, TwelveHourRegistersAndBadBcd) {
  struct Case {
    ClockRegisters r;
    std::uint8_t status;
    std::optional<ClockTime> time;
  };
  const Case cases[] = {
      {{0x26, 0x12, 0x08, 2, 0x84, 0x27, 0x48}, 0x00, ClockTime{2026, 12, 8, 16, 27, 48}},  // 4 PM
      {{0x26, 0x12, 0x08, 2, 0x00, 0x00, 0x00}, 0x00, ClockTime{2026, 12, 8, 0, 0, 0}},     // midnight
      {{0x26, 0x12, 0x08, 2, 0x13, 0x00, 0x00}, 0x00, std::nullopt},  // 13 in 12-hour mode
      {{0x26, 0x12, 0x08, 2, 0x16, 0x27, 0x48}, CLOCK_STATUS_24H, ClockTime{2026, 12, 8, 16, 27, 48}},
      {{0x2A, 0x12, 0x08, 2, 0x16, 0x27, 0x48}, CLOCK_STATUS_24H, std::nullopt},  // no BCD digit
      {{0x26, 0x00, 0x08, 2, 0x16, 0x27, 0x48}, CLOCK_STATUS_24H, std::nullopt},  // month 0
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFF, std::nullopt},          // a floating line
  };
  for (const Case& c : cases) EXPECT_EQ(clock_from_registers(c.r, c.status), c.time);
}

// -------- the record after the save --------

TEST(ClockRecord, KeepsTheTimeAndRunsItOnByTheTimePassed) {
  ClockReading reading;
  reading.status = CLOCK_STATUS_24H;
  reading.time = ClockTime{2026, 12, 8, 16, 27, 48};
  reading.registers = clock_registers(*reading.time);
  const std::time_t latched = 1'765'000'000;
  const ClockRecord record = clock_record(reading, latched);
  // Plain BCD hour, the status, then the latch little-endian.
  const ClockRecord expected = {0x26, 0x12, 0x08, 0x02, 0x16, 0x27, 0x48, 0x40,
                                0x40, 0xC3, 0x33, 0x69, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(record, expected);
  const std::optional<KeptClock> kept = parse_clock_record(record);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->time, *reading.time);
  EXPECT_EQ(kept->status, CLOCK_STATUS_24H);
  EXPECT_EQ(kept->latched, static_cast<std::int64_t>(latched));
  struct Case {
    std::time_t now;
    ClockTime advanced;
  };
  const Case cases[] = {
      {latched, {2026, 12, 8, 16, 27, 48}},
      {latched + HOUR, {2026, 12, 8, 17, 27, 48}},
      {latched + 8 * HOUR, {2026, 12, 9, 0, 27, 48}},
      {latched - HOUR, {2026, 12, 8, 16, 27, 48}},  // a host clock behind the latch adds nothing
  };
  for (const Case& c : cases) EXPECT_EQ(clock_advanced(*kept, c.now), c.advanced);

  // A copy of 12-hour registers with their PM flag reads as the same time;
  // a record that holds no time is refused.
  ClockRecord twelve = record;
  twelve[4] = 0x84;
  twelve[7] = 0x00;
  ASSERT_TRUE(parse_clock_record(twelve));
  EXPECT_EQ(parse_clock_record(twelve)->time, *reading.time);
  ClockRecord blank{};
  EXPECT_FALSE(parse_clock_record(blank));
}

// -------- the chip behind the port --------

// A mask ROM whose bytes at the port's offsets are not zero, so that a
// read that wrongly reaches the ROM (or a port that wrongly answers) shows.
std::vector<std::uint8_t> marked_rom() {
  std::vector<std::uint8_t> rom(0x10000);
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return rom;
}

struct Board {
  SimLog log;
  std::unique_ptr<Cartridge> cart;
  explicit Board(bool with_clock, bool lost = false) {
    cart = std::make_unique<Cartridge>(std::make_unique<MaskRomPart>(marked_rom()), false, nullptr, log);
    if (with_clock) cart->set_clock(std::make_unique<CartClock>(log, ClockTime{2026, 12, 8, 16, 27, 48}, lost));
  }
  void pins(std::uint16_t p) { cart->write16(ROM + GPIO_PORT_OFFSET, p); }
  void bit_out(unsigned bit) {
    const std::uint16_t sio = bit ? GPIO_PIN_SIO : 0;
    pins(GPIO_PIN_CS | sio);
    pins(GPIO_PIN_CS | GPIO_PIN_SCK | sio);
  }
  unsigned bit_in() {
    pins(GPIO_PIN_CS);
    pins(GPIO_PIN_CS | GPIO_PIN_SCK);
    return (cart->read16(ROM + GPIO_PORT_OFFSET) & GPIO_PIN_SIO) ? 1 : 0;
  }
  void begin(std::uint8_t command) {
    cart->write16(REG_GPIO_CONTROL, GPIO_CONTROL_READABLE);
    cart->write16(REG_GPIO_DIRECTION, GPIO_PINS & 7);
    pins(GPIO_PIN_SCK);
    pins(GPIO_PIN_SCK | GPIO_PIN_CS);
    for (int i = 7; i >= 0; --i) bit_out((command >> i) & 1);
  }
  std::vector<std::uint8_t> read(std::uint8_t command, unsigned bytes) {
    begin(command);
    pins(GPIO_PIN_CS);
    cart->write16(REG_GPIO_DIRECTION, GPIO_PIN_SCK | GPIO_PIN_CS);
    std::vector<std::uint8_t> out(bytes);
    for (auto& b : out)
      for (unsigned i = 0; i < 8; ++i) b = static_cast<std::uint8_t>(b | bit_in() << i);
    pins(GPIO_PIN_SCK);
    return out;
  }
  void write(std::uint8_t command, const std::vector<std::uint8_t>& bytes) {
    begin(command);
    for (std::uint8_t b : bytes)
      for (unsigned i = 0; i < 8; ++i) bit_out((b >> i) & 1);
    pins(GPIO_PIN_SCK);
  }
  void pass(std::int64_t seconds) { log.clock().advance(static_cast<SimTime>(seconds) * simtime::PER_SECOND); }
};

TEST(SimCartClock, ThePortReadsBackOnlyOnceEnabledAndTheRomStaysAsItWas) {
  const std::vector<std::uint8_t> rom = marked_rom();
  for (bool with_clock : {false, true}) {
    SCOPED_TRACE(with_clock ? "with a clock" : "without");
    Board b(with_clock);
    auto rom_half = [&](std::uint32_t offset) { return static_cast<std::uint16_t>(rom[offset] | rom[offset + 1] << 8); };
    for (std::uint32_t offset = 0xC0; offset < 0xD0; offset += 2) EXPECT_EQ(b.cart->read16(ROM + offset), rom_half(offset));
    b.cart->write16(REG_GPIO_CONTROL, GPIO_CONTROL_READABLE);
    b.cart->write16(REG_GPIO_DIRECTION, GPIO_PIN_SCK | GPIO_PIN_CS);
    EXPECT_EQ(b.cart->read16(REG_GPIO_DIRECTION), with_clock ? 0x5 : rom_half(0xC6));
    EXPECT_EQ(b.cart->read16(REG_GPIO_CONTROL), with_clock ? 0x1 : rom_half(0xC8));
    // The bytes around the port are the ROM's either way.
    EXPECT_EQ(b.cart->read16(ROM + 0xC2), rom_half(0xC2));
    EXPECT_EQ(b.cart->read16(ROM + 0xCA), rom_half(0xCA));
    b.cart->write16(REG_GPIO_CONTROL, 0);
    for (std::uint32_t offset = 0xC0; offset < 0xD0; offset += 2) EXPECT_EQ(b.cart->read16(ROM + offset), rom_half(offset));
    EXPECT_TRUE(b.log.misuses().empty());
  }
}

TEST(SimCartClock, RegistersReadWriteAndRunOnTheSimulatedTime) {
  struct Case {
    const char* what;
    std::int64_t passed;
    std::vector<std::uint8_t> written;  // datetime written first, if any
    std::vector<std::uint8_t> datetime;  // then read back
  };
  const Case cases[] = {
      {"as set", 0, {}, {0x26, 0x12, 0x08, 2, 0x96, 0x27, 0x48}},
      {"an hour later", HOUR, {}, {0x26, 0x12, 0x08, 2, 0x97, 0x27, 0x48}},
      {"past midnight", 8 * HOUR, {}, {0x26, 0x12, 0x09, 3, 0x00, 0x27, 0x48}},
      {"written", 0, {0x31, 0x01, 0x02, 0, 0x09, 0x08, 0x07}, {0x31, 0x01, 0x02, 4, 0x09, 0x08, 0x07}},
      {"written, then a minute", 60, {0x31, 0x01, 0x02, 0, 0x09, 0x08, 0x07}, {0x31, 0x01, 0x02, 4, 0x09, 0x09, 0x07}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Board b(true);
    if (!c.written.empty()) b.write(CLOCK_CMD_DATETIME_WRITE, c.written);
    b.pass(c.passed);
    EXPECT_EQ(b.read(CLOCK_CMD_STATUS_READ, 1), std::vector<std::uint8_t>{CLOCK_STATUS_24H});
    EXPECT_EQ(b.read(CLOCK_CMD_DATETIME_READ, 7), c.datetime);
    const std::vector<std::uint8_t> time(c.datetime.begin() + 4, c.datetime.end());
    EXPECT_EQ(b.read(CLOCK_CMD_TIME_READ, 3), time);
    EXPECT_TRUE(b.log.misuses().empty());
  }
}

TEST(SimCartClock, StatusModesPowerLossResetAndMisuse) {
  {
    // A clock whose battery ran dry says so once, then counts from 2000.
    Board b(true, true);
    EXPECT_EQ(b.read(CLOCK_CMD_STATUS_READ, 1), std::vector<std::uint8_t>{0x82});
    EXPECT_EQ(b.read(CLOCK_CMD_STATUS_READ, 1), std::vector<std::uint8_t>{0x02});
    EXPECT_EQ(b.read(CLOCK_CMD_DATETIME_READ, 7), (std::vector<std::uint8_t>{0x00, 0x01, 0x01, 6, 0x00, 0x00, 0x00}));
  }
  {
    // 12-hour mode: 16:27 reads as 4 with the PM flag; bit 7 of the status
    // is not writable.
    Board b(true);
    b.write(CLOCK_CMD_STATUS_WRITE, {0x80});
    EXPECT_EQ(b.read(CLOCK_CMD_STATUS_READ, 1), std::vector<std::uint8_t>{0x00});
    EXPECT_EQ(b.read(CLOCK_CMD_TIME_READ, 3), (std::vector<std::uint8_t>{0x84, 0x27, 0x48}));
    b.write(CLOCK_CMD_STATUS_WRITE, {CLOCK_STATUS_24H});
    EXPECT_EQ(b.read(CLOCK_CMD_TIME_READ, 3), (std::vector<std::uint8_t>{0x96, 0x27, 0x48}));
    EXPECT_TRUE(b.log.misuses().empty());
  }
  {
    Board b(true);
    b.write(CLOCK_CMD_RESET, {});
    EXPECT_EQ(b.read(CLOCK_CMD_STATUS_READ, 1), std::vector<std::uint8_t>{0x00});
    EXPECT_EQ(b.read(CLOCK_CMD_DATETIME_READ, 7), (std::vector<std::uint8_t>{0x00, 0x01, 0x01, 6, 0x00, 0x00, 0x00}));
  }
  {
    // A command without the fixed code, an invalid date and a transfer cut
    // short are misuses and change nothing.
    Board b(true);
    b.write(0x25, {0x00});
    b.write(CLOCK_CMD_DATETIME_WRITE, {0x26, 0x13, 0x08, 2, 0x16, 0x27, 0x48});
    b.write(CLOCK_CMD_DATETIME_WRITE, {0x31, 0x01});
    EXPECT_EQ(b.log.misuses().size(), 3u);
    EXPECT_EQ(b.read(CLOCK_CMD_DATETIME_READ, 7), (std::vector<std::uint8_t>{0x26, 0x12, 0x08, 2, 0x96, 0x27, 0x48}));
  }
}

TEST(SimCartClock, AKeptClockTicksOnFromItsState) {
  Board b(true);
  b.pass(90);
  StateWriter out;
  b.cart->clock()->save(out);
  SimLog later;
  // The kept console's clock comes back first, at the moment it was kept.
  later.clock().set(b.log.clock().now());
  StateReader in(out.bytes(), "clock");
  const std::unique_ptr<CartClock> kept = CartClock::load(in, later);
  EXPECT_TRUE(in.done());
  later.clock().advance(static_cast<SimTime>(HOUR) * simtime::PER_SECOND);
  EXPECT_EQ(kept->now(), (ClockTime{2026, 12, 8, 17, 29, 18}));
}

// On a flash board with the clock a write of bytes 0xC4-0xC9 reaches the
// port and the chip alike: a program there also sets the port's register,
// a write in read mode sets only the port, and the chip's array shows
// there once the port no longer answers.
TEST(SimCartClock, AFlashBoardsWritesThereReachThePortAndTheChip) {
  struct Case {
    const char* what;
    bool program;           // the write is the data of a word program
    std::uint32_t offset;
    std::uint16_t value;
    std::uint16_t port;     // the register read back while readable
    std::uint16_t rom;      // the ROM's halfword there afterwards
  };
  const Case cases[] = {
      {"program of the control", true, 0xC8, 0x0001, 0x0001, 0x0001},
      {"program of the direction", true, 0xC6, 0x1235, 0x0005, 0x1235},
      {"read-mode write of the data", false, 0xC4, 0x0007, 0x0000, 0xFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimLog log;
    std::unique_ptr<CartBus> bus = build_cartridge(parse_sim_options("chip=10/2221,rtc=2026-12-08T16:27:48"), log);
    auto& cart = dynamic_cast<Cartridge&>(*bus);
    ASSERT_NE(cart.clock(), nullptr);
    if (c.program) {
      cart.write16(ROM + 0xAAA, 0xAA);
      cart.write16(ROM + 0x554, 0x55);
      cart.write16(ROM + 0xAAA, 0xA0);
    }
    cart.write16(ROM + c.offset, c.value);
    log.clock().advance(simtime::PER_SECOND);
    cart.write16(REG_GPIO_CONTROL, GPIO_CONTROL_READABLE);
    // The data register reads back only the pins the console drives.
    if (c.offset != GPIO_PORT_OFFSET) {
      EXPECT_EQ(cart.read16(ROM + c.offset), c.port);
    }
    cart.write16(REG_GPIO_CONTROL, 0);
    EXPECT_EQ(cart.read16(ROM + c.offset), c.rom);
    EXPECT_EQ(cart.read16(ROM + c.offset - 2), 0xFFFF) << "the halfword below the port";
    EXPECT_EQ(cart.read16(ROM + 0xCA), 0xFFFF) << "the halfword above the port";
    EXPECT_EQ(cart.clock()->now().hour, 16);
    EXPECT_TRUE(log.misuses().empty()) << log.misuses().front();
  }
}

// A kept flash board keeps its clock; a clock on the board of a chip that
// would take the port's writes as commands is no cartridge that exists.
TEST(SimCartClock, OnlyTheBoardsThatCarryAClockKeepOneInTheirState) {
  struct Case {
    const char* chip;
    bool kept;
  };
  const Case cases[] = {{"10/22f9", true}, {"10/881b", false}, {"5/22da", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chip);
    SimLog log;
    std::unique_ptr<CartBus> bus = build_cartridge(parse_sim_options(std::string("chip=") + c.chip), log);
    auto& cart = dynamic_cast<Cartridge&>(*bus);
    cart.set_clock(std::make_unique<CartClock>(log, ClockTime{2026, 12, 8, 16, 27, 48}));
    StateWriter out;
    cart.save(out);
    StateReader in(out.bytes(), "cartridge");
    if (!c.kept) {
      EXPECT_THROW(load_cartridge(in, log), Failure);
      continue;
    }
    std::unique_ptr<CartBus> loaded = load_cartridge(in, log);
    EXPECT_TRUE(in.done());
    auto* kept = dynamic_cast<Cartridge*>(loaded.get());
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(kept->clock(), nullptr);
    EXPECT_EQ(kept->clock()->now(), (ClockTime{2026, 12, 8, 16, 27, 48}));
  }
}

}  // namespace
}  // namespace kartex::test
