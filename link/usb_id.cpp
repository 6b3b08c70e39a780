#include "link/usb_id.h"

#include <cstdlib>

namespace kartex {

std::optional<UsbId> parse_usb_id(const std::string& text) {
  auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  auto field = [](const std::string& s) -> std::optional<std::uint16_t> {
    std::string digits = s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0 ? s.substr(2) : s;
    if (digits.empty() || digits.size() > 4) return std::nullopt;
    char* end = nullptr;
    unsigned long v = std::strtoul(digits.c_str(), &end, 16);
    if (*end != '\0' || digits.find_first_of("+- ") != std::string::npos) return std::nullopt;
    return static_cast<std::uint16_t>(v);
  };
  auto vendor = field(text.substr(0, colon));
  auto product = field(text.substr(colon + 1));
  if (!vendor || !product) return std::nullopt;
  return UsbId{*vendor, *product};
}

}  // namespace kartex
