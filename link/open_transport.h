#pragma once
// Chooses the transport behind the link, in one place.

#include <optional>
#include <string>

#include "link/cable_link.h"
#include "link/usb_pipes.h"

namespace kartex {

constexpr int DEFAULT_TIMEOUT_MS = 60000;  // outlasts the slowest flash block erase

struct TransportOptions {
  std::optional<UsbId> usb;   // --usb VID:PID
  std::string trace_path;     // --trace FILE, empty for none
  int timeout_ms = DEFAULT_TIMEOUT_MS;
};

PipesOpener make_opener(const TransportOptions& options);

}  // namespace kartex
