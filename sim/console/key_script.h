#pragma once
// A scripted keypad: which keys are held at each read of KEYINPUT, counted
// from 1 over the run, so that a program that polls the keys (the video
// stream's remote control) can be driven the same way every time.

#include <cstdint>
#include <string>
#include <vector>

namespace kartex {

// The keys' bits in KEYINPUT, in the names a script uses.
struct KeyName {
  const char* name;
  std::uint16_t bit;
};
extern const KeyName KEY_NAMES[10];

struct KeyHold {
  std::uint64_t first = 0;  // reads first..last, counted from 1
  std::uint64_t last = 0;
  std::uint16_t keys = 0;   // KEYINPUT bits of the keys held (set = held)
};

struct KeyScript {
  std::vector<KeyHold> holds;
  // Bits of the keys held at read `read`; entries that overlap hold all
  // their keys together.
  std::uint16_t held(std::uint64_t read) const;
  bool empty() const { return holds.empty(); }
};

// "start@10,right@20-22,a+b@30": KEY@N holds KEY on read N, KEY@N-M on reads
// N to M, KEY+KEY@... holds keys together. Throws Failure with one line for
// anything else.
KeyScript parse_key_script(const std::string& text);

// The words --sim=help, --help and the README use for keys=LIST.
extern const char* const KEY_SCRIPT_HELP;

}  // namespace kartex
