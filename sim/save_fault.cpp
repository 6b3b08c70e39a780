#include "sim/save_fault.h"

#include <algorithm>
#include <cctype>

#include "common/failure.h"

namespace kartex {

namespace {

bool all_digits(const std::string& s) {
  return !s.empty() && s.size() <= 9 &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

[[noreturn]] void bad(const std::string& text) {
  fail("--sim: save-fault takes weak@N, weak@N:TIMES or dead@N (N a 4 KiB sector of the FLASH save, TIMES at "
       "least 1), not '" + text + "'");
}

}  // namespace

SaveFault parse_save_fault(const std::string& text) {
  const std::size_t at = text.find('@');
  if (at == std::string::npos) bad(text);
  const std::string kind = text.substr(0, at);
  std::string sector = text.substr(at + 1);
  std::string times = "1";
  if (const std::size_t colon = sector.find(':'); colon != std::string::npos) {
    times = sector.substr(colon + 1);
    sector = sector.substr(0, colon);
    if (kind != "weak") bad(text);  // a dead sector fails every time
  }
  if ((kind != "weak" && kind != "dead") || !all_digits(sector) || !all_digits(times) || std::stoul(times) == 0)
    bad(text);
  SaveFault fault;
  fault.sector = static_cast<std::uint32_t>(std::stoul(sector));
  fault.times = kind == "dead" ? SaveFault::EVERY : static_cast<std::uint32_t>(std::stoul(times));
  return fault;
}

}  // namespace kartex
