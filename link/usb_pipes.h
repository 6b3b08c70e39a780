#pragma once
// The cable through libusb (Linux, macOS): pipe n is the n-th endpoint of
// interface 0 in descriptor order; a pipe reset is a clear-halt.

#include <cstdint>
#include <memory>
#include <optional>

#include "link/pipes.h"

namespace kartex {

struct UsbId {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
};

// Parses "VID:PID" (hex, with or without 0x). Returns nullopt on bad text.
std::optional<UsbId> parse_usb_id(const std::string& text);

// Opens the device `id`, or without it the first device whose interface 0
// has the cable's three bulk endpoints (OUT, IN, OUT). Returns nullptr when
// no such device is present; throws Failure when it cannot be used.
std::unique_ptr<Pipes> open_usb_cable(std::optional<UsbId> id, int timeout_ms);

}  // namespace kartex
