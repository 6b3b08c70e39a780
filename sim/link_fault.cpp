#include "sim/link_fault.h"

#include <algorithm>
#include <cctype>

#include "common/failure.h"

namespace kartex {

namespace {

bool all_digits(const std::string& s) {
  return !s.empty() && s.size() <= 18 &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

[[noreturn]] void bad(const std::string& text) {
  fail("--sim: fault takes flip@N or flip@N:BIT (N a link word count, BIT 0 to 31), not '" + text +
       "'");
}

}  // namespace

LinkFault parse_link_fault(const std::string& text) {
  const std::size_t at = text.find('@');
  if (at == std::string::npos || text.substr(0, at) != "flip") bad(text);
  std::string word = text.substr(at + 1);
  std::string bit = "0";
  if (const std::size_t colon = word.find(':'); colon != std::string::npos) {
    bit = word.substr(colon + 1);
    word = word.substr(0, colon);
  }
  if (!all_digits(word) || !all_digits(bit) || std::stoul(bit) > 31) bad(text);
  LinkFault fault;
  fault.word = std::stoull(word);
  fault.bit = static_cast<unsigned>(std::stoul(bit));
  return fault;
}

}  // namespace kartex
