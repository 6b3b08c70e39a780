#pragma once
// What the program's open mode word and path become on the host.

#include <cstdint>
#include <string>

namespace kartex {

#ifdef _WIN32
constexpr char HOST_SEPARATOR = '\\';
#else
constexpr char HOST_SEPARATOR = '/';
#endif

// Host open flags for the mode word of SVC_OPEN: access in bits 0-1,
// append, create and truncate in bits 8-10; other bits are ignored. Always
// binary: no newline translation on hosts that have a text mode.
int open_flags(std::uint32_t mode);

// The program writes paths with '/'; a host whose separator differs gets
// its own separator in their place. Nothing else in the path changes.
std::string to_host_path(std::string path, char separator = HOST_SEPARATOR);

}  // namespace kartex
