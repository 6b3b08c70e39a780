#pragma once
// Simulated hardware time. Every model takes its time from here, not from
// the host's clock, so that a run takes the same simulated seconds on any
// machine and every speed figure is what the real cable, console and chips
// would give.
//
// The unit is 1/1024 of a CPU cycle (the console's CPU runs at 2^24 Hz):
// CPU cycles count exactly, and a link word or a chip's program time in
// microseconds rounds by less than 0.1 ns. 64 bits last 34 years.

#include <cstdint>

namespace kartex {

using SimTime = std::uint64_t;

namespace simtime {
constexpr std::uint64_t CPU_HZ = 16'777'216;
constexpr std::uint64_t PER_CYCLE = 1024;
constexpr std::uint64_t PER_SECOND = CPU_HZ * PER_CYCLE;

constexpr SimTime cycles(std::uint64_t n) { return n * PER_CYCLE; }
// Rounded to the nearest tick.
constexpr SimTime microseconds(std::uint64_t us) {
  return us / 1'000'000 * PER_SECOND + ((us % 1'000'000) * PER_SECOND + 500'000) / 1'000'000;
}
constexpr SimTime milliseconds(std::uint64_t ms) { return microseconds(ms * 1000); }
// One link word: 32 bit times of a clock of `hz`.
constexpr SimTime link_word(std::uint64_t hz) { return (32 * PER_SECOND + hz / 2) / hz; }
constexpr double seconds(SimTime t) { return static_cast<double>(t) / static_cast<double>(PER_SECOND); }
// Whole milliseconds in `t`, rounded down, without overflow.
constexpr std::int64_t whole_milliseconds(SimTime t) {
  return static_cast<std::int64_t>(t / PER_SECOND * 1000 + t % PER_SECOND * 1000 / PER_SECOND);
}
}  // namespace simtime

// The console's time: the CPU moves it on as it runs (cycles of the code
// and memory it touches); the cartridge's chips read it to know when an
// erase or a program is over.
class SimClock {
 public:
  SimTime now() const { return now_; }
  void advance(SimTime by) { now_ += by; }
  // Time passes until `t` (no effect if it already has).
  void reach(SimTime t) {
    if (t > now_) now_ = t;
  }
  void set(SimTime t) { now_ = t; }

  // A chip read while it is busy until `t`. A program reads a busy chip only
  // to wait for it, polling in a loop until then; the console takes the hint
  // after the CPU's read (pass_busy_poll) and lets time pass instead of
  // running the loop's passes (a 1 s erase is half a million of them), so
  // the wait ends one pass after the chip, as it would on the console.
  // Models driven by hand, without a CPU, ignore it.
  void chip_busy_until(SimTime t) {
    if (t > busy_hint_) busy_hint_ = t;
  }
  SimTime take_busy_hint() {
    const SimTime t = busy_hint_;
    busy_hint_ = 0;
    return t;
  }
  // After a CPU read of a busy chip: half the time the chip has left passes,
  // or all of it once that is under BUSY_STEP_FLOOR. A wait of seconds
  // thus takes some twenty passes, and a program that reads a timer between
  // them sees each moment of the wait before the chip's end: a wait bound
  // shorter than the chip's time runs out, as on the console.
  static constexpr SimTime BUSY_STEP_FLOOR = simtime::cycles(256);
  void pass_busy_poll() {
    const SimTime end = take_busy_hint();
    if (end <= now_) return;
    const SimTime left = end - now_;
    now_ += left <= BUSY_STEP_FLOOR ? left : left / 2;
  }

 private:
  SimTime now_ = 0;
  SimTime busy_hint_ = 0;
};

}  // namespace kartex
