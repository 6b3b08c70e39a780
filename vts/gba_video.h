#pragma once
// The console's display and keypad as the video stream drives them:
// background mode 4, two pages of 8-bit palette indices, a 256-entry
// palette of 15-bit colours, and the key input register.

#include <cstdint>

namespace kartex {

constexpr int CONSOLE_W = 240;
constexpr int CONSOLE_H = 160;
// One mode-4 page: a byte per pixel, row-major from the top-left.
constexpr std::uint32_t CONSOLE_PAGE_BYTES = CONSOLE_W * CONSOLE_H;

// Display control (DISPCNT, 16 bits).
constexpr std::uint32_t REG_DISPCNT = 0x04000000;
constexpr std::uint16_t DCNT_MODE4 = 0x0004;
constexpr std::uint16_t DCNT_PAGE = 0x0010;  // mode 4: page 1 shown
constexpr std::uint16_t DCNT_BG2 = 0x0400;
constexpr std::uint16_t DISPLAY_OFF = DCNT_MODE4;                       // 0x0004: no layer
constexpr std::uint16_t SHOW_PAGE0 = DCNT_MODE4 | DCNT_BG2;             // 0x0404
constexpr std::uint16_t SHOW_PAGE1 = DCNT_MODE4 | DCNT_BG2 | DCNT_PAGE;  // 0x0414

// Background palette: 256 entries, bits 0-4 red, 5-9 green, 10-14 blue.
constexpr std::uint32_t MEM_BG_PALETTE = 0x05000000;
constexpr std::uint32_t BG_PALETTE_ENTRIES = 256;

// Video memory: the two mode-4 pages, and the span of background memory
// that is cleared around a stream.
constexpr std::uint32_t MEM_VRAM_PAGE0 = 0x06000000;
constexpr std::uint32_t MEM_VRAM_PAGE1 = 0x0600A000;
constexpr std::uint32_t VRAM_CLEAR_BYTES = 81920;

// Key input (KEYINPUT, read only): a bit per key in the low 10 bits, 0
// while the key is held.
constexpr std::uint32_t REG_KEYINPUT = 0x04000130;
constexpr std::uint16_t KEY_A = 0x001, KEY_B = 0x002, KEY_SELECT = 0x004, KEY_START = 0x008,
                        KEY_RIGHT = 0x010, KEY_LEFT = 0x020, KEY_UP = 0x040, KEY_DOWN = 0x080,
                        KEY_R = 0x100, KEY_L = 0x200;
constexpr std::uint16_t KEY_MASK = 0x03FF;

}  // namespace kartex
