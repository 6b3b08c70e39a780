#pragma once
// The real agent on the simulator, driven through CableLink: what the tool
// does at bring-up, without the command line around it.

#include <algorithm>
#include <memory>
#include <vector>

#include "agent/agent_image.h"
#include "app/session.h"
#include "link/cable_link.h"
#include "sim/simulator.h"

namespace kartex::test {

struct AgentOnSim {
  Simulator sim;
  CableLink link{[this] { return sim.borrow_pipes(); }, [](int) {}};

  AgentOnSim() = default;
  explicit AgentOnSim(std::unique_ptr<CartBus> cart) : sim(std::move(cart)) {}

  // Handshake and upload: the agent runs and waits for its first request.
  void start() {
    link.link_start();
    upload_program(link, agent_image());
  }

  // The console runs on while the host polls the cable, until it waits for
  // the next word: what a write request stored is then in place.
  void settle() { link.reg_read(CABLE_REG_STATUS); }

  std::vector<std::uint8_t> mem_read(std::uint32_t address, std::uint32_t bytes) {
    std::vector<std::uint8_t> data(words_for(bytes) * 4);
    link.agent_request(REQ_MEM_READ, address, bytes, 0);
    link.read_words(data);
    return data;
  }

  void mem_write(std::uint32_t address, std::vector<std::uint8_t> data) {
    const auto bytes = static_cast<std::uint32_t>(data.size());
    data.resize(words_for(bytes) * 4, 0);
    link.agent_request(REQ_MEM_WRITE, address, bytes, 0);
    link.write_words(data);
  }
};

}  // namespace kartex::test
