#pragma once
// Chooses the transport behind the link, in one place.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/cable_link.h"
#include "link/usb_id.h"
#include "sim/sim_pipes.h"

namespace kartex {

constexpr int DEFAULT_TIMEOUT_MS = LINK_TIMEOUT_MS;

struct TransportOptions {
  std::optional<UsbId> usb;   // --usb VID:PID
  std::optional<SimOptions> sim;  // --sim[=OPTIONS]: the built-in simulator
  std::string trace_path;     // --trace FILE, empty for none
  int timeout_ms = DEFAULT_TIMEOUT_MS;
};

// `report` receives what the simulator has to say (its log, its stats).
// A simulator whose video follows its hardware time sets `hardware_clock`
// (when given) to read that time, in milliseconds.
PipesOpener make_opener(const TransportOptions& options, std::ostream& report,
                        std::function<std::int64_t()>* hardware_clock = nullptr);

// The real cable through this platform's transport: libusb, or the cable's
// driver on Windows. nullptr when no cable is present.
std::unique_ptr<Pipes> open_platform_cable(const TransportOptions& options);

// What to try when this platform's transport finds no cable: one line.
const char* no_cable_hint();

}  // namespace kartex
