// The simulator's hardware clock where it can be worked out by hand: the
// console's memory timing table, the cycles of small loops, link words at
// the link clock, and the USB turn-arounds of the host's transfers.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "agent/agent_image.h"
#include "app/session.h"
#include "link/cable_link.h"
#include "sim/console/unicorn/memory_timing.h"
#include "sim/simulator.h"
#include "sim_support.h"
#include "tests/support/run_binary.h"

namespace kartex {
namespace {

using simtest::program;

// The video's playback clock: whole milliseconds, rounded down, also for
// times whose ticks times 1000 would not fit in 64 bits.
TEST(SimClock, WholeMillisecondsRoundDownWithoutOverflow) {
  const struct {
    SimTime t;
    std::int64_t ms;
  } cases[] = {{0, 0},
               {simtime::PER_SECOND - 1, 999},
               {simtime::PER_SECOND, 1000},
               {simtime::PER_SECOND * 3 / 2, 1500},
               {SimTime{1} << 63, (std::int64_t{1} << 29) * 1000}};
  for (const auto& c : cases) EXPECT_EQ(simtime::whole_milliseconds(c.t), c.ms) << c.t;
}

TEST(SimClock, MemoryAccessesTakeTheConsolesCycles) {
  SimLog log;
  IoRegisters io(log);
  MemoryTiming timing(io);
  struct Case {
    std::uint16_t waitcnt;
    std::uint32_t addr;
    unsigned size;
    bool sequential;
    unsigned cycles;
  };
  // Region, bus width and wait states: 1 cycle plus the waits per access on
  // the bus, a 32-bit access to a 16-bit bus being two of them.
  const Case cases[] = {
      {0, 0x03000000, 4, false, 1},   // work RAM 32K
      {0, 0x04000128, 2, false, 1},   // I/O
      {0, 0x02000000, 2, false, 3},   // work RAM 256K: 16-bit, 2 waits
      {0, 0x02000000, 4, false, 6},
      {0, 0x05000000, 4, false, 2},   // palette: 16-bit, no waits
      {0, 0x06000000, 2, false, 1},   // VRAM
      {0, 0x07000000, 4, false, 1},   // OAM: 32-bit
      {0, 0x08000000, 2, false, 5},   // ROM window 0 at power-on: N 4 waits
      {0, 0x08000002, 2, true, 3},    //   S 2 waits
      {0, 0x08000000, 4, false, 8},   //   N + S
      {0, 0x0A000000, 4, false, 10},  // window 1: N 4, S 4
      {0, 0x0C000000, 4, false, 14},  // window 2: N 4, S 8
      {0, 0x0E000000, 1, false, 5},   // save window: 8-bit, 4 waits
      {0, 0x0E000000, 4, false, 5},   //   one access of any width
      {0x0314, 0x08000000, 2, false, 4},  // WS0 N 3 waits
      {0x0314, 0x08000000, 4, false, 6},  // WS0 S 1 wait
      {0x0314, 0x0D000000, 2, false, 9},  // WS2 N 8 waits
      {0x0314, 0x0D000000, 4, false, 18}, // WS2 S 8 waits
      {0x0003, 0x0E000000, 1, false, 9},  // save window with 8 waits
      {0x4317, 0x08000000, 4, false, 6},  // WS0 N 3 waits, S 1 wait
  };
  for (const Case& c : cases) {
    io.write16(io::WAITCNT, c.waitcnt);
    EXPECT_EQ(timing.access(c.addr, c.size, c.sequential), c.cycles)
        << "WAITCNT " << c.waitcnt << " at " << hex32(c.addr) << " size " << c.size;
  }
}

// Counts r0 down from `loops` with `body` in front of "subs r0, r0, #1;
// bne", then arms the link port, which stops the console (no cable work).
std::vector<std::uint32_t> loop_program(std::uint32_t base_reg_setup, std::uint32_t body, std::uint32_t loops) {
  std::vector<std::uint32_t> words = {0xE3A00000 | loops,  // mov r0, #loops (< 256)
                                      base_reg_setup};     // mov r2, #region
  const std::uint32_t branch_back = body ? 0x1AFFFFFC : 0x1AFFFFFD;
  if (body) words.push_back(body);
  for (std::uint32_t w : {0xE2500001u, branch_back,
                          0xE3A03301u, 0xE2833F4Au,  // r3 = SIOCNT
                          0xE3A01A01u, 0xE1C310B0u,  // 32-bit normal mode
                          0xE3811088u, 0xE1C310B0u,  // start, raising SO
                          0xEAFFFFFEu})
    words.push_back(w);
  return words;
}

std::vector<std::uint8_t> bytes_of(const std::vector<std::uint32_t>& words) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t w : words)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  return out;
}

// Cycles from boot until the program armed the link port.
std::uint64_t cycles_to_arm(const std::vector<std::uint32_t>& words, bool in_iwram, std::uint16_t waitcnt) {
  Simulator sim;
  const auto code = bytes_of(words);
  sim.console().boot(code);
  if (in_iwram) {
    sim.poke(0x03000000, code);
    sim.console().set_reg(UC_ARM_REG_PC, 0x03000000);
  }
  sim.console().io().write16(io::WAITCNT, waitcnt);
  const SimTime start = sim.console().clock().now();
  EXPECT_EQ(sim.console().run(1'000'000), RunEnd::Stopped) << sim.console().fault();
  EXPECT_TRUE(sim.console().link_armed());
  EXPECT_TRUE(sim.log().misuses().empty()) << sim.log().misuses().front();
  return (sim.console().clock().now() - start) / simtime::PER_CYCLE;
}

TEST(SimClock, LoopsTakeTheCyclesOfTheirInstructionsAndMemory) {
  struct Case {
    const char* what;
    bool in_iwram;
    std::uint16_t waitcnt;
    std::uint32_t region_setup, body;
    std::uint64_t cycles_per_pass;  // worked out from the CPU's instruction timings
  };
  // subs: 1S; a taken bne: 2S + 1N; a load: 1S + its data access + 1I.
  // Every fetch from work RAM 256K costs 6 cycles (two 16-bit accesses with
  // two waits), from work RAM 32K one.
  const Case cases[] = {
      {"subs, bne in work RAM 256K", false, 0, 0xE3A02302, 0, 6 + 18},
      {"ldr from ROM, subs, bne in work RAM 256K", false, 0, 0xE3A02302, 0xE5921000, (6 + 8 + 1) + 24},
      {"subs, bne in work RAM 32K", true, 0, 0xE3A02302, 0, 1 + 3},
      {"ldr from ROM with 3/1 waits, in work RAM 32K", true, 0x0314, 0xE3A02302, 0xE5921000, (1 + 6 + 1) + 4},
      {"ldrh from work RAM 256K, in work RAM 32K", true, 0, 0xE3A02402, 0xE1D210B0, (1 + 3 + 1) + 4},
      {"ldrb from the save window, in work RAM 32K", true, 0, 0xE3A0240E, 0xE5D21000, (1 + 5 + 1) + 4},
  };
  for (const Case& c : cases) {
    // The difference between 200 and 100 passes leaves the passes alone.
    const std::uint64_t many = cycles_to_arm(loop_program(c.region_setup, c.body, 200), c.in_iwram, c.waitcnt);
    const std::uint64_t few = cycles_to_arm(loop_program(c.region_setup, c.body, 100), c.in_iwram, c.waitcnt);
    EXPECT_EQ(many - few, 100 * c.cycles_per_pass) << c.what;
  }
}

// The agent on a simulator with the given link clock and USB turn-around.
struct TimedAgent {
  Simulator sim;
  CableLink link{[this] { return sim.borrow_pipes(); }, [](int) {}};

  explicit TimedAgent(std::uint64_t link_hz, std::uint64_t usb_us = 1000) : sim(times(link_hz, usb_us)) {
    link.link_start();
    upload_program(link, agent_image());
    // Until the agent waits for its first request.
    for (int poll = 0; poll < 1000 && (link.reg_read(CABLE_REG_STATUS) & STATUS_NO_WORD); ++poll) {
    }
  }
  static CableTimes times(std::uint64_t link_hz, std::uint64_t usb_us) {
    CableTimes t;
    t.hardware = {link_hz, usb_us};
    return t;
  }
  SimTime host() { return sim.cable().clock().host(); }

  // Reads `bytes` of ROM with the plain ROM read; returns the host's time it took.
  double dump_seconds(std::uint32_t bytes) {
    std::vector<std::uint8_t> data(bytes);
    const SimTime start = host();
    link.agent_request(REQ_ROM_READ, 0x08000000, bytes, 0);
    link.read_words(data);
    return simtime::seconds(host() - start);
  }
};

TEST(SimClock, ADumpTakesAtLeastItsLinkTimeAndFollowsTheLinkClock) {
  constexpr std::uint32_t BYTES = 64 * 1024, WORDS = BYTES / 4;
  double seconds_at[3] = {};
  const std::uint64_t clocks[3] = {500'000, 1'000'000, 2'000'000};
  for (int i = 0; i < 3; ++i) {
    TimedAgent a(clocks[i]);
    seconds_at[i] = a.dump_seconds(BYTES);
    const double link_time = WORDS * 32.0 / static_cast<double>(clocks[i]);
    EXPECT_GE(seconds_at[i], link_time) << clocks[i] << " Hz";
    // The agent's few cycles between words and one USB turn-around.
    EXPECT_LT(seconds_at[i], link_time * 1.15) << clocks[i] << " Hz";
  }
  // Halving the clock doubles the time, within a few percent.
  EXPECT_NEAR(seconds_at[0] / seconds_at[1], 2.0, 0.08);
  EXPECT_NEAR(seconds_at[1] / seconds_at[2], 2.0, 0.08);
}

TEST(SimClock, EveryTransferCostsItsUsbTurnAround) {
  // The agent waits for a request, so a status poll runs nothing: it is a
  // command the host sends (an eighth of the turn-around) and the reply it
  // reads (a whole one).
  for (std::uint64_t usb_us : {0, 1000, 4000}) {
    TimedAgent a(2'000'000, usb_us);
    a.link.reg_read(CABLE_REG_STATUS);
    const SimTime start = a.host();
    for (int i = 0; i < 100; ++i) a.link.reg_read(CABLE_REG_STATUS);
    EXPECT_NEAR(simtime::seconds(a.host() - start), 100 * usb_us * 1.125e-6, 1e-6) << usb_us << " us";
  }
}

TEST(SimClock, AHostThatWaitsOnTheConsoleIsNotFasterThanTheLink) {
  // Even with no USB cost, words the host reads back take their bit times
  // and words it sends cannot reach the console faster.
  TimedAgent a(1'000'000, 0);
  std::vector<std::uint8_t> data(4096, 0x5A);
  const SimTime start = a.host();
  a.link.agent_request(REQ_MEM_WRITE, 0x02030000, static_cast<std::uint32_t>(data.size()), 0);
  a.link.write_words(data);
  std::vector<std::uint8_t> back(data.size());
  a.link.agent_request(REQ_MEM_READ, 0x02030000, static_cast<std::uint32_t>(back.size()), 0);
  a.link.read_words(back);
  EXPECT_EQ(back, data);
  const double words = 4 + 1024 + 4 + 1024;
  EXPECT_GE(simtime::seconds(a.host() - start), words * 32e-6);
}

TEST(SimClock, StatsGiveTheRunsHardwareTimeAndTheLinksShare) {
  const std::string file = "clock_stats_" + std::to_string(::getpid()) + ".bin";
  double seconds[2] = {};
  const char* clocks[2] = {"1000000", "2000000"};
  for (int i = 0; i < 2; ++i) {
    test::BinaryRun r = test::run_binary(std::string("--sim=stats,link-clock=") + clocks[i] + " fr " + file + " 0 256k");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = r.out + r.err;
    const std::size_t at = text.find("sim: hardware time ");
    ASSERT_NE(at, std::string::npos) << text;
    double busy = -1;
    char end = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + at, "sim: hardware time %lf s, link busy %lf%%%c", &seconds[i], &busy, &end), 3)
        << text;
    EXPECT_EQ(end, '\n');
    // 64 Ki words at 32 bit times each, and the link was busy most of it.
    EXPECT_GE(seconds[i], 65536 * 32.0 / std::stod(clocks[i])) << r.out;
    EXPECT_GT(busy, 50.0);
    EXPECT_LE(busy, 100.0);
  }
  // Bring-up is mostly the console's own work; the dump's words take 16 µs
  // more each at half the clock.
  EXPECT_GE(seconds[0] - seconds[1], 65536 * 16e-6);
  std::remove((::testing::TempDir() + file).c_str());
}

TEST(SimClock, HardwareFiguresOutsideWhatExistsAreRefused) {
  for (const char* bad : {"link-clock=0", "link-clock=9000000", "link-clock=2MHz", "usb-latency=-5",
                          "usb-latency=200000", "video-clock=wall", "video-clock"}) {
    test::BinaryRun r = test::run_binary(std::string("--sim=") + bad + " fe");
    EXPECT_EQ(r.status, 255) << bad;
    EXPECT_EQ(r.err.rfind("kartex: --sim: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
  }
}

}  // namespace
}  // namespace kartex
