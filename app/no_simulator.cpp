// A build without the simulator (the Windows build: no Unicorn there) says
// so when --sim is asked for, instead of failing in some other way.
#include "common/failure.h"
#include "sim/sim_pipes.h"

namespace kartex {

namespace {

[[noreturn]] void no_simulator() {
  fail("this build of kartex has no simulator (--sim): use the Linux or macOS build to try "
       "commands without the cable");
}

}  // namespace

SimOptions parse_sim_options(const std::string&) { no_simulator(); }

std::string sim_help_text() { no_simulator(); }

std::unique_ptr<Pipes> open_sim_cable(const SimOptions&, std::ostream&, int, std::shared_ptr<HardwareTime>) {
  no_simulator();
}

}  // namespace kartex
