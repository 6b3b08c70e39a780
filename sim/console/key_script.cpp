#include "sim/console/key_script.h"

#include <algorithm>

#include "common/failure.h"
#include "sim/decimal_text.h"

namespace kartex {

const KeyName KEY_NAMES[10] = {
    {"a", 0x001},     {"b", 0x002},    {"select", 0x004}, {"start", 0x008}, {"right", 0x010},
    {"left", 0x020},  {"up", 0x040},   {"down", 0x080},   {"r", 0x100},     {"l", 0x200},
};

const char* const KEY_SCRIPT_HELP =
    "the keypad as KEYINPUT reads see it, counted from 1 per read: KEY@N holds KEY on read N, "
    "KEY@N-M on reads N to M, KEY+KEY@... holds keys together; keys a b select start right left up "
    "down r l; e.g. keys=start@10,right@20-22,a+b@30,b@40";

namespace {

[[noreturn]] void refuse(const std::string& entry, const std::string& why) {
  fail("--sim: keys: '" + entry + "' " + why);
}

std::uint64_t read_number(const std::string& entry, const std::string& digits) {
  const auto number = decimal_text(digits, 12);
  if (!number) refuse(entry, "needs read numbers after @: KEY@N or KEY@N-M");
  const std::uint64_t n = *number;
  if (n == 0) refuse(entry, "names read 0; reads count from 1");
  return n;
}

std::uint16_t key_bit(const std::string& entry, const std::string& name) {
  for (const KeyName& k : KEY_NAMES)
    if (name == k.name) return k.bit;
  std::string known;
  for (const KeyName& k : KEY_NAMES) known += std::string(known.empty() ? "" : " ") + k.name;
  refuse(entry, "has no key '" + name + "' (keys: " + known + ")");
}

KeyHold parse_entry(const std::string& entry) {
  const std::size_t at = entry.find('@');
  if (at == std::string::npos) refuse(entry, "needs @N or @N-M: the reads that see the keys held");
  KeyHold hold;
  const std::string keys = entry.substr(0, at);
  for (std::size_t from = 0;;) {
    const std::size_t plus = std::min(keys.find('+', from), keys.size());
    hold.keys |= key_bit(entry, keys.substr(from, plus - from));
    if (plus == keys.size()) break;
    from = plus + 1;
  }
  const std::string range = entry.substr(at + 1);
  const std::size_t dash = range.find('-');
  hold.first = read_number(entry, range.substr(0, dash));
  hold.last = dash == std::string::npos ? hold.first : read_number(entry, range.substr(dash + 1));
  if (hold.last < hold.first) refuse(entry, "ends before it starts");
  return hold;
}

}  // namespace

std::uint16_t KeyScript::held(std::uint64_t read) const {
  std::uint16_t keys = 0;
  for (const KeyHold& h : holds)
    if (read >= h.first && read <= h.last) keys |= h.keys;
  return keys;
}

KeyScript parse_key_script(const std::string& text) {
  KeyScript script;
  for (std::size_t from = 0; from <= text.size();) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    const std::string entry = text.substr(from, comma - from);
    if (entry.empty()) fail("--sim: keys: empty entry in '" + text + "'");
    script.holds.push_back(parse_entry(entry));
    from = comma + 1;
  }
  return script;
}

}  // namespace kartex
