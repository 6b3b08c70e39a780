#pragma once
// A file name in the host's ANSI code page turned into the UTF-16 form the
// media framework opens. The converter is asked for the length first, so a
// name as long as the file system allows converts, not only one that fits
// some fixed buffer.

#include <string>
#include <vector>

namespace kartex {

// `convert(name, out, capacity)` behaves as the system's multi-byte to
// wide conversion of a terminated name: with capacity 0 it returns the
// units needed, terminator included; otherwise the units written, or 0 on
// failure. Returns the terminated wide name, or an empty vector when the
// conversion failed.
template <class Unit, class Convert>
std::vector<Unit> to_wide_name(const std::string& name, Convert&& convert) {
  const int needed = convert(name.c_str(), static_cast<Unit*>(nullptr), 0);
  if (needed <= 0) return {};
  std::vector<Unit> wide(static_cast<std::size_t>(needed));
  const int written = convert(name.c_str(), wide.data(), needed);
  if (written <= 0 || written > needed) return {};
  // A conversion that wrote fewer units than it asked for still ends where
  // it says: nothing of the unused tail is taken for the name.
  wide.resize(static_cast<std::size_t>(written));
  wide.back() = 0;
  return wide;
}

}  // namespace kartex
