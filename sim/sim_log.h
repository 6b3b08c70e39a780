#pragma once
// What the simulated hardware noticed: misuse of a chip or register (a
// program drove it wrongly) and plain notes (a feature the simulator does
// not model). Tests read misuses() and expect it empty when the program
// under test is correct. Every model holds the log, so it also carries the
// console's clock, which the CPU moves on and the chips read.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/clock/sim_clock.h"

namespace kartex {

std::string hex32(std::uint32_t value);  // "0x0800ABCD"
std::string hex_short(std::uint32_t value);  // a byte or a halfword: "0x0A", "0x8802"

class SimLog {
 public:
  explicit SimLog(std::ostream* echo = nullptr) : echo_(echo) {}

  // `part` names the chip or block ("mask ROM", "cable", "SIO").
  void misuse(std::string_view part, std::string_view what);
  void note(std::string_view part, std::string_view what);

  // The first KEPT_LINES lines of each kind; the counts include the rest.
  const std::vector<std::string>& misuses() const { return misuses_; }
  const std::vector<std::string>& lines() const { return lines_; }
  std::uint64_t misuse_count() const { return misuse_count_; }
  void set_echo(std::ostream* echo) { echo_ = echo; }

  SimClock& clock() { return clock_; }
  const SimClock& clock() const { return clock_; }

 private:
  static constexpr std::size_t KEPT_LINES = 1000;
  static constexpr std::uint64_t ECHOED_LINES = 20;  // a probing program can misuse a chip often

  void add(std::string line);

  std::ostream* echo_;
  std::vector<std::string> misuses_;
  std::vector<std::string> lines_;
  std::uint64_t misuse_count_ = 0;
  std::uint64_t line_count_ = 0;
  SimClock clock_;
};

}  // namespace kartex
