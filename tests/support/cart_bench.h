#pragma once
// The tool's command bodies on one in-process simulator, without the
// command line and the state folder around them: the cartridge the --sim
// options describe, the real agent brought up as a run of the tool does.

#include <functional>
#include <memory>
#include <sstream>

#include "agent/agent_image.h"
#include "common/output.h"
#include "app/session.h"
#include "cart/commands.h"
#include "sim/cart/cart_build.h"
#include "tests/support/body_fixture.h"
#include "tests/support/sim_session.h"

namespace kartex::test {

struct CartBench {
  AgentOnSim a;
  std::ostringstream out, err;
  Output con{out, err};
  CartInfo cart;

  explicit CartBench(const SimOptions& options)
      : CartBench([&](SimLog& log) { return build_cartridge(options, log); }) {}
  // A cartridge the test builds itself, on the simulator's log
  explicit CartBench(const std::function<std::unique_ptr<CartBus>(SimLog&)>& build) {
    // The chips log their misuse in the simulator's log: built after it.
    a.sim.set_cart(build(a.sim.log()));
    a.link.link_start();
    cart = session_bringup(a.link, Command::FR, agent_image(), con);
  }

  Bytes read_rom(std::uint32_t offset, std::uint32_t length) {
    VectorSink sink;
    flash_read(a.link, cart, {static_cast<std::int32_t>(offset), static_cast<std::int32_t>(length)},
               sink, con);
    return sink.data;
  }

  Bytes read_save(Range range = {}, EepromOrder order = EepromOrder::Tool) {
    VectorSink sink;
    save_read(a.link, cart, range, sink, con, order);
    return sink.data;
  }

  void write_save(const Bytes& data, Range range = {}, EepromOrder order = EepromOrder::Tool) {
    save_write(a.link, cart, range, data, con, order);
  }
};

// What a piece of work cost on the simulated console: hardware time and
// link words both ways.
struct Cost {
  SimTime time = 0;
  std::uint64_t words = 0;
};

template <typename Body>
Cost cost_of(CartBench& b, Body body) {
  const SimStats before = b.a.sim.stats();
  body();
  const SimStats after = b.a.sim.stats();
  return {after.hardware_time - before.hardware_time,
          after.words_to_console + after.words_from_console - before.words_to_console - before.words_from_console};
}

}  // namespace kartex::test
