#pragma once
// A link already started on a cable whose agent holds the session marker,
// ready for one command body, with its output captured.

#include <sstream>

#include "common/output.h"
#include "cart/commands.h"
#include "common/failure.h"
#include "tests/support/scripted_cable.h"

namespace kartex::test {

struct VectorSink : ByteSink {
  Bytes data;
  void write(std::span<const std::uint8_t> bytes) override {
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
};

struct Body {
  ScriptedLink s;
  ScriptedCable& c = *s.cable;
  std::ostringstream out, err;
  Output con{out, err};
  VectorSink sink;
  std::string failure;  // what the body failed with, if it did

  Body() {
    // A clock that stands still: the report's time line reads the same on every run.
    con.now = [] { return ProgressClock::time_point{}; };
    c.open().reg_read(1, 0x12345678);
    s.link.link_start();
  }

  // Runs the body; a Failure is caught and kept.
  template <typename F>
  void run(F&& body) {
    try {
      body();
    } catch (const Failure& f) {
      failure = f.what();
    }
  }
};

inline CartInfo cart_of(std::int32_t rom_kind, std::int32_t rom_size, std::int32_t erase_block,
                        std::uint32_t variant = 1) {
  CartInfo cart;
  cart.rom_kind = rom_kind;
  cart.rom_size = rom_size;
  cart.erase_block = erase_block;
  cart.variant = variant;
  return cart;
}

}  // namespace kartex::test
