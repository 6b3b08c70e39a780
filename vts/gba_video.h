#pragma once
// The console's display and keypad as the video stream drives them:
// background mode 4, two pages of 8-bit palette indices, a 256-entry
// palette of 15-bit colours, and the key input register.

#include <cstdint>

#include "contract/hw/display.h"
#include "contract/hw/keypad.h"
#include "contract/hw/memory.h"
#include "contract/wire.h"

namespace kartex {

constexpr int CONSOLE_W = SCREEN_WIDTH;
constexpr int CONSOLE_H = SCREEN_HEIGHT;
// One mode-4 page: a byte per pixel, row-major from the top-left.
constexpr std::uint32_t CONSOLE_PAGE_BYTES = M4_PAGE_SIZE;

// What the stream writes to DISPCNT: mode 4 with no layer while the pages
// are cleared, then background 2 showing one page or the other.
constexpr std::uint16_t DISPLAY_OFF = DCNT_MODE4;                       // 0x0004
constexpr std::uint16_t SHOW_PAGE0 = DCNT_MODE4 | DCNT_BG2;             // 0x0404
constexpr std::uint16_t SHOW_PAGE1 = DCNT_MODE4 | DCNT_BG2 | DCNT_PAGE;  // 0x0414

constexpr std::uint32_t MEM_VRAM_PAGE0 = MEM_VRAM;
constexpr std::uint32_t MEM_VRAM_PAGE1 = MEM_VRAM + BITMAP_PAGE1_OFFSET;
// The span of background memory that is cleared around a stream: both
// pages and what lies between them.
constexpr std::uint32_t VRAM_CLEAR_BYTES = 81920;
static_assert(MEM_VRAM + VRAM_CLEAR_BYTES <= AGENT_COLD_BASE, "the clear would reach the agent's code in video RAM");

}  // namespace kartex
