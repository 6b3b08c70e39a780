#pragma once
// One run of the tool: banner, command line, host file, link, bring-up and
// one command body. Returns the exit status; never throws.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "link/cable_link.h"
#include "link/open_transport.h"

namespace kartex {

struct RunEnv {
  std::ostream& out;
  std::ostream& err;
  // Builds the transport from the options; the real one opens the USB cable.
  std::function<PipesOpener(const TransportOptions&)> opener = make_opener;
  Sleeper sleep = sleep_ms;
};

int run(const std::vector<std::string>& args, RunEnv& env);

}  // namespace kartex
