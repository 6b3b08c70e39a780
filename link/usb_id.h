#pragma once
// A USB device's vendor and product numbers, as --usb gives them.

#include <cstdint>
#include <optional>
#include <string>

namespace kartex {

struct UsbId {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
};

// Parses "VID:PID" (hex, with or without 0x). Returns nullopt on bad text.
std::optional<UsbId> parse_usb_id(const std::string& text);

}  // namespace kartex
