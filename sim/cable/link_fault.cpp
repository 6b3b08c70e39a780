#include "sim/cable/link_fault.h"

#include <algorithm>
#include <iterator>

#include "common/failure.h"
#include "sim/decimal_text.h"

namespace kartex {

namespace {

struct KindName {
  LinkFault::Kind kind;
  const char* name;
};

constexpr KindName KINDS[] = {
    {LinkFault::Kind::Flip, "flip"},   {LinkFault::Kind::Unplug, "unplug"}, {LinkFault::Kind::Hang, "hang"},
    {LinkFault::Kind::Stall, "stall"}, {LinkFault::Kind::Power, "power"},   {LinkFault::Kind::Lose, "lose"},
};

[[noreturn]] void bad(const std::string& text) {
  fail("--sim: fault takes KIND@N (KIND one of flip, unplug, hang, stall, power, lose; N a link word count) or "
       "flip@N:BIT (BIT 0 to 31), not '" + text + "'");
}

}  // namespace

LinkFault parse_link_fault(const std::string& text) {
  const std::size_t at = text.find('@');
  if (at == std::string::npos) bad(text);
  const std::string name = text.substr(0, at);
  const auto* kind = std::find_if(std::begin(KINDS), std::end(KINDS), [&](const KindName& k) { return name == k.name; });
  if (kind == std::end(KINDS)) bad(text);
  LinkFault fault;
  fault.kind = kind->kind;
  std::string word = text.substr(at + 1);
  std::string bit = "0";
  if (const std::size_t colon = word.find(':'); colon != std::string::npos) {
    if (fault.kind != LinkFault::Kind::Flip) bad(text);  // only a flip names a bit
    bit = word.substr(colon + 1);
    word = word.substr(0, colon);
  }
  const auto n = decimal_text(word, 18), b = decimal_text(bit, 18);
  if (!n || !b || *b > 31) bad(text);
  fault.word = *n;
  fault.bit = static_cast<unsigned>(*b);
  return fault;
}

std::string link_fault_text(const LinkFault& fault) {
  std::string text;
  for (const KindName& k : KINDS)
    if (k.kind == fault.kind) text = k.name;
  text += "@" + std::to_string(fault.word);
  if (fault.kind == LinkFault::Kind::Flip) text += ":" + std::to_string(fault.bit);
  return text;
}

}  // namespace kartex
