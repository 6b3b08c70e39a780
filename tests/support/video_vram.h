#pragma once
// The agent's video decoder built for the host, and video RAM around it
// as the console lays it out: two mode-4 pages 0xA000 apart in 96 KiB,
// with the rest filled with a pattern that must survive any frame.

#include <cstdint>
#include <span>
#include <vector>

#include "contract/wire.h"

extern "C" std::uint32_t video_decode(const std::uint16_t* in, std::uint32_t count, std::uint16_t* page,
                                      const std::uint16_t* other);

namespace kartex::test {

constexpr std::size_t VRAM_BYTES = 0x18000;

struct HostVram {
  std::vector<std::uint16_t> halves = std::vector<std::uint16_t>(VRAM_BYTES / 2);

  HostVram() {
    for (std::size_t i = 0; i < halves.size(); ++i) halves[i] = static_cast<std::uint16_t>(i * 40503u + 7);
  }
  std::uint16_t* page(int n) { return halves.data() + (n ? VIDEO_PAGE1_OFFSET / 2 : 0); }
  std::span<const std::uint8_t> page_bytes(int n) {
    return {reinterpret_cast<const std::uint8_t*>(page(n)), VIDEO_PAGE_BYTES};
  }
  void set_page(int n, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < VIDEO_PAGE_BYTES / 2; ++i)
      page(n)[i] = static_cast<std::uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  }
  std::uint32_t decode(int n, const std::vector<std::uint16_t>& ops) {
    return video_decode(ops.data(), static_cast<std::uint32_t>(ops.size()), page(n), page(1 - n));
  }
  // Index of the first halfword outside page `n` that differs from
  // `before`, or -1.
  std::int64_t changed_outside(int n, const HostVram& before) const {
    const std::size_t first = n ? VIDEO_PAGE1_OFFSET / 2 : 0, last = first + VIDEO_PAGE_BYTES / 2;
    for (std::size_t i = 0; i < halves.size(); ++i)
      if ((i < first || i >= last) && halves[i] != before.halves[i]) return static_cast<std::int64_t>(i);
    return -1;
  }
};

}  // namespace kartex::test
