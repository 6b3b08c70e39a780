#pragma once
// The cartridge the --sim options describe.

#include <memory>

#include "sim/cart/cart_bus.h"
#include "sim/sim_pipes.h"

namespace kartex {

// Mask ROM (rom= or the generated ROM) without mapper, or the flash ROM of
// chip= with the mapper unless mapper=off; the save chip of save= on either.
// Throws Failure.
std::unique_ptr<CartBus> build_cartridge(const SimOptions& options, SimLog& log);

}  // namespace kartex
