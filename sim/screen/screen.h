#pragma once
// The console's picture (240 x 160) computed from video RAM, palette RAM
// and the display registers: modes 0 (text backgrounds), 3, 4 and 5. Sprites,
// windows, blending and mosaic are not drawn.

#include <cstdint>
#include <span>
#include <vector>

namespace kartex {

constexpr int SCREEN_W = 240;
constexpr int SCREEN_H = 160;

struct VideoRegisters {
  std::uint16_t dispcnt = 0;
  std::uint16_t bgcnt[4] = {};
  std::uint16_t hofs[4] = {};
  std::uint16_t vofs[4] = {};
};

struct Screen {
  std::vector<std::uint8_t> rgb = std::vector<std::uint8_t>(SCREEN_W * SCREEN_H * 3);
  // 0xRRGGBB of one pixel
  std::uint32_t pixel(int x, int y) const;
};

// palette: 1 KiB of palette RAM; vram: 96 KiB of video RAM.
Screen render_screen(const VideoRegisters& regs, std::span<const std::uint8_t> palette,
                     std::span<const std::uint8_t> vram);

// The console's 15-bit colour (bits 0-4 red, 5-9 green, 10-14 blue) as 0xRRGGBB.
std::uint32_t rgb_of(std::uint16_t colour);

}  // namespace kartex
