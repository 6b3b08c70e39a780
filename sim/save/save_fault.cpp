#include "sim/save/save_fault.h"

#include "common/failure.h"
#include "sim/decimal_text.h"

namespace kartex {

namespace {

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
  const auto n = decimal_text(sector, 9), tries = decimal_text(times, 9);
  if ((kind != "weak" && kind != "dead") || !n || !tries || *tries == 0) bad(text);
  SaveFault fault;
  fault.sector = static_cast<std::uint32_t>(*n);
  fault.times = kind == "dead" ? SaveFault::EVERY : static_cast<std::uint32_t>(*tries);
  return fault;
}

}  // namespace kartex
