#pragma once
// Finding the cable on Windows: the first present device interface of the
// driver's interface class (SetupAPI). Windows only.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kartex {

// The device path of member `index` of the interface class `interface_class`
// (a GUID record's 16 bytes), or nullopt when there is none.
std::optional<std::string> find_cable_path(const std::array<std::uint8_t, 16>& interface_class,
                                           unsigned index);

}  // namespace kartex
