// The cartridge clock end to end: the real agent reads and sets the
// simulated clock chip (our model on the Unicorn core, the emulator
// library's own on core=mgba) through the tool's info, sr --rtc and
// sw --rtc; a cartridge without a clock keeps its bytes and refuses --rtc.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "common/clock_time.h"
#include "sim/cart/cart_build.h"
#include "sim/cart/cart_header.h"
#include "sim/console/mgba/mgba_machine.h"
#include "sim/simulator.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t SRAM_BYTES = 0x8000;
constexpr std::size_t RECORD_BYTES = 16;

std::string line_with(const std::string& text, const std::string& start) {
  const std::size_t at = text.find(start);
  if (at == std::string::npos) return "(no line \"" + start + "\" in:\n" + text + ")";
  return text.substr(at, text.find('\n', at) - at);
}

// The host's local time of a clock time, as the emulator library counts.
std::int64_t local_unix(const ClockTime& c) {
  std::tm t{};
  t.tm_year = c.year - 1900;
  t.tm_mon = c.month - 1;
  t.tm_mday = c.day;
  t.tm_hour = c.hour;
  t.tm_min = c.minute;
  t.tm_sec = c.second;
  t.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&t));
}

TEST(CartClock, InfoShowsTheSimulatorsClockOnBothCores) {
  struct Case {
    std::string sim;
    std::string line;
  };
  const Case cases[] = {
      {"--sim=rtc=2026-12-08T16:27:48", "Clock: 2026-12-08 16:27:48 (24-hour mode)"},
      {"--sim=core=mgba,rtc=2026-12-08T16:27:48", "Clock: 2026-12-08 16:27:48 (24-hour mode)"},
      {"--sim=rtc=2099-12-31T23:59:58,save=sram32k", "Clock: 2099-12-31 23:59:58 (24-hour mode)"},
      {"--sim=core=mgba,rtc=2031-01-02T09:08:07,save=sram32k", "Clock: 2031-01-02 09:08:07 (24-hour mode)"},
      {"--sim=rtc=lost",
       "Clock: 2000-01-01 00:00:00 (12-hour mode, power lost: its battery ran dry or was changed; kartex info "
       "--set-clock sets it)"},
      {"--sim", "Clock: none"},
      {"--sim=core=mgba", "Clock: none"},
      {"--sim=chip=3/8802", "Clock: none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    ToolOnSim run({c.sim, "info"});
    EXPECT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.err.str(), "");
    EXPECT_EQ(line_with(run.out.str(), "Clock:"), c.line);
  }
}

// sr --rtc on the emulator library's console: the save, then a record
// that the library's own reader takes as the clock's time.
TEST(CartClock, SaveWithClockIsReadBackByTheEmulatorLibrary) {
  const std::string dir = scratch("clock_mgba");
  const Bytes image = noise(SRAM_BYTES, 27);
  spill(dir + "image.sav", image);
  const std::time_t before = std::time(nullptr);
  ToolOnSim run({"--sim=core=mgba,save=sram32k,rtc=2026-12-08T16:27:48,save-image=" + dir + "image.sav", "sr", "--rtc",
                 dir + "with_clock.sav"});
  ASSERT_EQ(run.status, 0) << run.err.str();
  EXPECT_EQ(line_with(run.out.str(), "Clock:"), "Clock: 2026-12-08 16:27:48 kept after the save");
  const Bytes file = slurp(dir + "with_clock.sav");
  ASSERT_EQ(file.size(), SRAM_BYTES + RECORD_BYTES);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + SRAM_BYTES), image) << "the save bytes come first, unchanged";
  std::uint8_t time[7] = {};
  std::uint8_t control = 0;
  std::int64_t registers_time = 0;
  ASSERT_TRUE(kx_read_clock_record(KX_SAVE_SRAM_32K, file.data(), file.size(), time, &control, &registers_time));
  const ClockTime expected{2026, 12, 8, 16, 27, 48};
  const std::uint8_t registers[7] = {0x26, 0x12, 0x08, static_cast<std::uint8_t>(clock_weekday(expected)), 0x16,
                                     0x27, 0x48};
  EXPECT_EQ(Bytes(time, time + 7), Bytes(registers, registers + 7));
  EXPECT_EQ(control, CLOCK_STATUS_24H);
  EXPECT_EQ(registers_time, local_unix(expected));
  // The latch is the host's time of the reading.
  std::uint64_t latch = 0;
  for (unsigned i = 0; i < 8; ++i) latch |= static_cast<std::uint64_t>(file[SRAM_BYTES + 8 + i]) << (8 * i);
  EXPECT_GE(static_cast<std::time_t>(latch), before);
  EXPECT_LE(static_cast<std::time_t>(latch), std::time(nullptr));
}

// A run of the tool on a simulator the test keeps, whose clock it moves on
// between runs, with the host's clock at `host_now`.
struct KeptSim {
  Simulator sim{nullptr};
  explicit KeptSim(const std::string& keys) { sim.set_cart(build_cartridge(parse_sim_options(keys), sim.log())); }
  int run(const std::vector<std::string>& args, std::time_t host_now, std::string* out_text) {
    std::ostringstream out, err;
    RunEnv env{out, err, {}, [](int) {}};
    env.opener = [this](const TransportOptions&) -> PipesOpener { return [this] { return sim.borrow_pipes(); }; };
    env.clock = [host_now] { return host_now; };
    env.now = [] { return ProgressClock::time_point{}; };
    const int status = kartex::run(args, env);
    *out_text = out.str() + err.str();
    return status;
  }
  void pass(std::int64_t seconds) { sim.log().clock().advance(static_cast<SimTime>(seconds) * simtime::PER_SECOND); }
};

TEST(CartClock, WrittenClockRunsOnFromTheFilesTimeAndThenWithTheHardware) {
  const std::string dir = scratch("clock_restore");
  const Bytes save = noise(SRAM_BYTES, 5);
  const std::time_t latched = 1'765'000'000;
  // A file sr --rtc wrote at `latched` with the clock at 10:00:00.
  Bytes file = save;
  const Bytes record = {0x26, 0x12, 0x08, 0x02, 0x10, 0x00, 0x00, 0x40, 0x40, 0xC3, 0x33, 0x69, 0, 0, 0, 0};
  file.insert(file.end(), record.begin(), record.end());
  spill(dir + "kept.sav", file);
  KeptSim k("rtc=2030-05-05T05:05:05,save=sram32k");
  std::string out;
  // Two minutes of the host's time passed since the file's reading.
  ASSERT_EQ(k.run({"sw", "--rtc", dir + "kept.sav"}, latched + 120, &out), 0) << out;
  EXPECT_EQ(line_with(out, "Clock:"), "Clock: set to 2026-12-08 10:02:00, the file's 2026-12-08 10:00:00 run on to now");
  EXPECT_NE(out.find("Verify OK"), std::string::npos) << out;
  // An hour of the console's time later.
  k.pass(3600);
  ASSERT_EQ(k.run({"info"}, latched, &out), 0) << out;
  EXPECT_EQ(line_with(out, "Clock:").substr(0, 25), "Clock: 2026-12-08 11:02:0") << out;
  // The save went in as the file's bytes, without the record.
  ASSERT_EQ(k.run({"sr", dir + "back.sav"}, latched, &out), 0) << out;
  EXPECT_EQ(slurp(dir + "back.sav"), save);
  // And info --set-clock takes the host's local time.
  const std::time_t host = 1'800'000'000;
  ASSERT_EQ(k.run({"info", "--set-clock"}, host, &out), 0) << out;
  std::tm local{};
  localtime_r(&host, &local);
  const std::string expected =
      format_clock_time({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec});
  EXPECT_EQ(line_with(out, "Clock: set"), "Clock: set to the host's time, " + expected);
  EXPECT_EQ(line_with(out, "Clock: 20").substr(0, 23), "Clock: " + expected.substr(0, 16)) << out;
}

// A flash board with the clock: a write of ROM bytes 0xC4-0xC9 reaches the
// port too. The clock keeps its time through writes of files whose bytes
// there would drive its pins, make the port readable or look like a
// command, and the ROM then holds the file's bytes, not the port's.
TEST(CartClock, AFlashBoardsClockKeepsItsTimeThroughWritesOfThePortsBytes) {
  struct Case {
    const char* keys;
    std::uint32_t at, length;
    std::uint8_t data, direction, control;  // the file's low bytes at 0xC4, 0xC6, 0xC8
  };
  const Case cases[] = {
      // Buffered program of the page around the port, odd start and end
      {"chip=10/2221", 0x41, 0x3FF, 0x07, 0x07, 0x01},
      {"chip=10/2222,d0d1", 0xC5, 0x3, 0x05, 0x0F, 0x03},
      // Word by word on a part without a buffer, whole block from 0
      {"chip=10/22f9", 0x0, 0x2000, 0x05, 0x07, 0xFF},
      {"chip=10/22f9,d0d1", 0xC4, 0x6, 0x04, 0x04, 0x01},
  };
  const std::string dir = scratch("clock_flash");
  constexpr std::uint32_t OLD = 0x4000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    spill(dir + "old.bin", noise(OLD, 3));
    KeptSim k(std::string(c.keys) + ",rtc=2026-12-08T16:27:00,rom=" + dir + "old.bin");
    std::string out;
    const std::time_t host = 1'765'000'000;
    ASSERT_EQ(k.run({"info"}, host, &out), 0) << out;
    EXPECT_EQ(line_with(out, "Clock:").substr(0, 24), "Clock: 2026-12-08 16:27:");
    Bytes file = noise(OLD, 11);
    file[0xC4] = c.data;
    file[0xC6] = c.direction;
    file[0xC8] = c.control;
    spill(dir + "in.bin", Bytes(file.begin() + c.at, file.begin() + c.at + c.length));
    ASSERT_EQ(k.run({"fw", dir + "in.bin", std::to_string(c.at), std::to_string(c.length)}, host, &out), 0) << out;
    EXPECT_NE(out.find("Verify OK"), std::string::npos) << out;
    ASSERT_EQ(k.run({"fr", dir + "out.bin", "0", std::to_string(OLD)}, host, &out), 0) << out;
    Bytes expect = noise(OLD, 3);
    std::copy(file.begin() + c.at, file.begin() + c.at + c.length, expect.begin() + c.at);
    const Bytes back = slurp(dir + "out.bin");
    ASSERT_EQ(back.size(), expect.size());
    const auto diff = std::mismatch(back.begin(), back.end(), expect.begin());
    EXPECT_TRUE(diff.first == back.end()) << "first wrong byte at 0x" << std::hex << (diff.first - back.begin());
    // An hour of the console's time later the clock has run on from its time.
    k.pass(3600);
    ASSERT_EQ(k.run({"info"}, host, &out), 0) << out;
    const std::string line = line_with(out, "Clock:");
    EXPECT_EQ(line.substr(0, 24), "Clock: 2026-12-08 17:27:") << out;
    EXPECT_NE(line.find("(24-hour mode)"), std::string::npos) << line;
    EXPECT_EQ(k.sim.log().misuse_count(), 0u)
        << (k.sim.log().misuses().empty() ? "" : k.sim.log().misuses()[0]);
  }
}

TEST(CartClock, ACartridgeWithoutAClockKeepsItsBytesAndRefusesTheClock) {
  const std::string dir = scratch("clock_none");
  // A ROM with bytes in the port's place, as a game without a clock has.
  Bytes rom = make_default_rom(0x100000);
  for (std::uint32_t i = GPIO_PORT_OFFSET; i < GPIO_PORT_OFFSET + GPIO_PORT_BYTES; ++i)
    rom[i] = static_cast<std::uint8_t>(0xA5 ^ i);
  spill(dir + "rom.gba", rom);
  const Bytes save = noise(SRAM_BYTES, 9);
  spill(dir + "save.sav", save);
  Bytes with_record = save;
  with_record.resize(SRAM_BYTES + RECORD_BYTES, 0);
  with_record[SRAM_BYTES + 1] = 0x01;
  with_record[SRAM_BYTES + 2] = 0x01;
  with_record[SRAM_BYTES + 7] = 0x40;
  spill(dir + "with_record.sav", with_record);
  for (const char* core : {"unicorn", "mgba"}) {
    SCOPED_TRACE(core);
    const std::string state = dir + core;
    const std::string sim = std::string("--sim=core=") + core + ",state=" + state + ",save=sram32k,rom=" + dir +
                            "rom.gba,save-image=" + dir + "save.sav";
    ToolOnSim info({sim, "info"});
    ASSERT_EQ(info.status, 0) << info.err.str();
    EXPECT_EQ(line_with(info.out.str(), "Clock:"), "Clock: none");
    const std::string kept = std::string("--sim=core=") + core + ",state=" + state;
    ToolOnSim fr({kept, "fr", dir + core + ".gba", "0", "0x200"});
    ASSERT_EQ(fr.status, 0) << fr.err.str();
    EXPECT_EQ(slurp(dir + core + ".gba"), Bytes(rom.begin(), rom.begin() + 0x200));
    struct Refusal {
      std::vector<std::string> args;
      std::string err;
    };
    const Refusal refusals[] = {
        {{"sr", "--rtc", dir + core + ".sav"},
         "kartex: the cartridge has no clock for sr --rtc to keep; without --rtc sr takes the save alone\n"},
        {{"sw", "--rtc", dir + "with_record.sav"},
         "kartex: the cartridge has no clock for sw --rtc to keep; without --rtc sw takes the save alone\n"},
        {{"sw", "--rtc", dir + "save.sav"},
         "kartex: " + dir + "save.sav (32768 bytes) carries no clock after the save: sw --rtc takes the 0x8000 "
         "bytes of the save and 16 of clock that sr --rtc writes\n"},
    };
    for (const Refusal& r : refusals) {
      std::vector<std::string> args = {kept};
      args.insert(args.end(), r.args.begin(), r.args.end());
      ToolOnSim refused(args);
      EXPECT_EQ(refused.status, 255);
      EXPECT_EQ(refused.err.str(), r.err);
    }
    EXPECT_FALSE(std::filesystem::exists(dir + core + ".sav")) << "a refused sr leaves no file";
    ToolOnSim sr({kept, "sr", dir + core + "_after.sav"});
    ASSERT_EQ(sr.status, 0) << sr.err.str();
    EXPECT_EQ(slurp(dir + core + "_after.sav"), save) << "the refused sw wrote nothing";
  }
}

TEST(CartClock, OptionsAndKeysOutOfPlaceAreRefusedWithOneLine) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"--sim", "fr", "x.gba", "--rtc"}, "kartex: --rtc is for sr and sw, which keep the cartridge clock after the save; fr does not\n"},
      {{"--sim", "sr", "--set-clock", "x.sav"}, "kartex: --set-clock is for info (kartex info --set-clock); sr does not set the clock\n"},
      {{"--sim", "sr", "--rtc", "x.sav", "0", "0x100"},
       "kartex: --rtc keeps the whole save with the clock behind it; give no start offset and length\n"},
      {{"--sim=rtc=2026-12-08", "info"},
       "kartex: --sim: rtc takes a time YYYY-MM-DDTHH:MM:SS between 2000-01-01T00:00:00 and 2099-12-31T23:59:59, or "
       "lost, not '2026-12-08'\n"},
      {{"--sim=rtc=2026-02-30T00:00:00", "info"},
       "kartex: --sim: rtc takes a time YYYY-MM-DDTHH:MM:SS between 2000-01-01T00:00:00 and 2099-12-31T23:59:59, or "
       "lost, not '2026-02-30T00:00:00'\n"},
      {{"--sim=chip=3/8802,rtc=2026-12-08T00:00:00", "info"},
       "kartex: --sim: rtc= puts the clock on a mask ROM or on the board of chip=10/2221, 10/2222 or 10/22f9; "
       "chip=3/8802 has none\n"},
      {{"--sim=chip=10/881b,rtc=2026-12-08T00:00:00", "info"},
       "kartex: --sim: rtc= puts the clock on a mask ROM or on the board of chip=10/2221, 10/2222 or 10/22f9; "
       "chip=10/881b has none\n"},
      // The emulator library models no flash ROM, with a clock or without.
      {{"--sim=core=mgba,chip=10/2221,rtc=2026-12-08T00:00:00", "info"},
       "kartex: --sim: core=mgba runs mask ROM cartridges only; chip=10/2221 needs core=unicorn\n"},
      {{"--sim=core=mgba,rtc=lost", "info"},
       "kartex: --sim: core=mgba's clock (the library's own) keeps no power-lost state; rtc=lost needs core=unicorn\n"},
  };
  for (const Case& c : cases) {
    ToolOnSim run(c.args);
    EXPECT_EQ(run.status, 255) << c.args.back();
    EXPECT_EQ(run.err.str(), c.err);
  }
}

}  // namespace
}  // namespace kartex::test
