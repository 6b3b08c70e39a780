#pragma once
// The real agent on a fresh simulator, identified, ready for the requests
// a benchmark measures.

#include "agent/agent_image.h"
#include "app/session.h"
#include "link/cable_link.h"
#include "sim/simulator.h"

namespace kartex {

struct BenchAgent {
  Simulator sim;
  CableLink link{[this] { return sim.borrow_pipes(); }, [](int) {}};

  BenchAgent() {
    link.link_start();
    upload_program(link, agent_image());
    std::uint32_t info[3];
    link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
  }
};

}  // namespace kartex
