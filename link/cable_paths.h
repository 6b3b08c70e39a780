#pragma once
// How the cable's driver names the cable and its pipes on Windows. Pure
// text work, so that it is checked on every platform.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "link/pipes.h"

namespace kartex {

// The interface class the cable's driver registers, as the GUID record lies
// in memory (little-endian fields): {28B0D529-C559-4697-BC5E-7E18A0DC629B}.
// It is the cable's only identity there: no vendor or product number.
constexpr std::array<std::uint8_t, 16> CABLE_INTERFACE_GUID_BYTES = {
    0x29, 0xD5, 0xB0, 0x28, 0x59, 0xC5, 0x97, 0x46,
    0xBC, 0x5E, 0x7E, 0x18, 0xA0, 0xDC, 0x62, 0x9B};

// All three pipes belong to interface 0.
constexpr int CABLE_PIPE_INTERFACE = 0;

// The driver's control code that returns a pipe to a clean state: device
// type 0x22 (unknown), function 2, buffered, any access.
constexpr std::uint32_t PIPE_RESET = 0x220008;

// Where the device path starts in an interface detail record: after its
// 4-byte size field.
constexpr std::size_t DETAIL_PATH_OFFSET = 4;

// "<device>\if000pipe00N": the device path, however long, followed by the
// interface and pipe numbers.
std::string pipe_path(std::string_view device_path, Pipe pipe);

// The device path held in an interface detail record of `record.size()`
// bytes, as the system filled it in. nullopt when the record is too short,
// the path is empty, or no terminator lies inside the record (a path cut
// off would open some other device).
std::optional<std::string> device_path_from_detail(std::span<const std::uint8_t> record);

}  // namespace kartex
