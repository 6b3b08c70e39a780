#pragma once
// The cable through libusb (Linux, macOS): pipe n is the n-th endpoint of
// interface 0 in descriptor order; a pipe reset is a clear-halt.

#include <cstdint>
#include <memory>
#include <optional>

#include "link/pipes.h"
#include "link/usb_id.h"

namespace kartex {

// Opens the device `id`, or without it the first device whose interface 0
// has the cable's three bulk endpoints (OUT, IN, OUT). Returns nullptr when
// no such device is present; throws Failure when it cannot be used.
std::unique_ptr<Pipes> open_usb_cable(std::optional<UsbId> id, int timeout_ms);

}  // namespace kartex
