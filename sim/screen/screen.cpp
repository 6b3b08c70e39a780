#include "sim/screen/screen.h"

#include <array>

#include "contract/hw/display.h"

namespace kartex {

namespace {

constexpr int MODE5_W = 160, MODE5_H = 128;
constexpr std::uint32_t WHITE = 0xFFFFFF;

std::uint16_t half(std::span<const std::uint8_t> bytes, std::uint32_t offset) {
  if (offset + 1 >= bytes.size()) return 0;
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint8_t byte(std::span<const std::uint8_t> bytes, std::uint32_t offset) {
  return offset < bytes.size() ? bytes[offset] : 0;
}

// Palette index of a text background at screen pixel (x, y); 0 = transparent.
unsigned text_bg_pixel(const VideoRegisters& regs, int bg, int x, int y,
                       std::span<const std::uint8_t> vram) {
  const std::uint16_t cnt = regs.bgcnt[bg];
  const unsigned size = cnt >> 14;
  const unsigned width = size & 1 ? 512 : 256, height = size & 2 ? 512 : 256;
  const unsigned px = (x + regs.hofs[bg]) & (width - 1);
  const unsigned py = (y + regs.vofs[bg]) & (height - 1);
  // 256-pixel square screen blocks: right neighbour +1, the one below +1
  // (256 wide) or +2 (512 wide).
  unsigned block = ((cnt >> 8) & 0x1F) + px / 256;
  if (py >= 256) block += width == 512 ? 2 : 1;
  const std::uint32_t entry_at = block * SBB_SIZE + ((py % 256) / 8 * 32 + (px % 256) / 8) * 2;
  const std::uint16_t entry = half(vram, entry_at);
  unsigned tx = px % 8, ty = py % 8;
  if (entry & 0x0400) tx = 7 - tx;
  if (entry & 0x0800) ty = 7 - ty;
  const std::uint32_t chars = ((cnt >> 2) & 3) * CBB_SIZE;
  const unsigned tile = entry & 0x3FF;
  if (cnt & BG_8BPP) return byte(vram, chars + tile * 64 + ty * 8 + tx);
  const std::uint8_t pair = byte(vram, chars + tile * 32 + ty * 4 + tx / 2);
  const unsigned index = tx & 1 ? pair >> 4 : pair & 0x0F;
  return index == 0 ? 0 : (entry >> 12) * 16 + index;
}

}  // namespace

std::uint32_t rgb_of(std::uint16_t colour) {
  auto expand = [](unsigned c5) { return (c5 << 3) | (c5 >> 2); };
  return expand(colour & 31) << 16 | expand((colour >> 5) & 31) << 8 | expand((colour >> 10) & 31);
}

std::uint32_t Screen::pixel(int x, int y) const {
  const std::size_t i = (static_cast<std::size_t>(y) * SCREEN_W + x) * 3;
  return static_cast<std::uint32_t>(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2];
}

Screen render_screen(const VideoRegisters& regs, std::span<const std::uint8_t> palette,
                     std::span<const std::uint8_t> vram) {
  Screen screen;
  auto put = [&](int x, int y, std::uint32_t rgb) {
    const std::size_t i = (static_cast<std::size_t>(y) * SCREEN_W + x) * 3;
    screen.rgb[i] = static_cast<std::uint8_t>(rgb >> 16);
    screen.rgb[i + 1] = static_cast<std::uint8_t>(rgb >> 8);
    screen.rgb[i + 2] = static_cast<std::uint8_t>(rgb);
  };
  const std::uint16_t dispcnt = regs.dispcnt;
  const unsigned mode = dispcnt & DCNT_MODE_MASK;
  const std::uint32_t backdrop = rgb_of(half(palette, 0));

  // Background order for mode 0: priority 0 first, equal priority by number.
  std::array<int, 4> order{0, 1, 2, 3};
  for (int i = 1; i < 4; ++i)
    for (int j = i; j > 0 && (regs.bgcnt[order[j]] & 3) < (regs.bgcnt[order[j - 1]] & 3); --j)
      std::swap(order[j], order[j - 1]);

  for (int y = 0; y < SCREEN_H; ++y) {
    for (int x = 0; x < SCREEN_W; ++x) {
      std::uint32_t colour = backdrop;
      if (dispcnt & DCNT_BLANK) {
        colour = WHITE;
      } else if (mode == 0) {
        for (int bg : order) {
          if (!(dispcnt & (DCNT_BG0 << bg))) continue;
          const unsigned index = text_bg_pixel(regs, bg, x, y, vram);
          if (index == 0) continue;
          colour = rgb_of(half(palette, index * 2));
          break;
        }
      } else if (mode == 3 && (dispcnt & DCNT_BG2)) {
        colour = rgb_of(half(vram, static_cast<std::uint32_t>((y * SCREEN_W + x) * 2)));
      } else if (mode == 4 && (dispcnt & DCNT_BG2)) {
        const std::uint32_t page = dispcnt & DCNT_PAGE ? BITMAP_PAGE1_OFFSET : 0;
        const unsigned index = byte(vram, page + static_cast<std::uint32_t>(y * SCREEN_W + x));
        if (index != 0) colour = rgb_of(half(palette, index * 2));
      } else if (mode == 5 && (dispcnt & DCNT_BG2) && x < MODE5_W && y < MODE5_H) {
        // Direct colour on a 160 x 128 page at the top-left; the backdrop
        // shows around it.
        const std::uint32_t page = dispcnt & DCNT_PAGE ? BITMAP_PAGE1_OFFSET : 0;
        colour = rgb_of(half(vram, page + static_cast<std::uint32_t>((y * MODE5_W + x) * 2)));
      }
      put(x, y, colour);
    }
  }
  return screen;
}

}  // namespace kartex
