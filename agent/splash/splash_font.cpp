#include "agent/splash/splash_font.h"

namespace kartex {

namespace {

struct FontEntry {
  char letter;
  Glyph rows;
};

constexpr FontEntry FONT[] = {
    {'a', {0b00000, 0b00000, 0b01110, 0b00001, 0b01111, 0b10001, 0b01111}},
    {'e', {0b00000, 0b00000, 0b01110, 0b10001, 0b11111, 0b10000, 0b01110}},
    {'k', {0b10000, 0b10000, 0b10010, 0b10100, 0b11000, 0b10100, 0b10010}},
    {'r', {0b00000, 0b00000, 0b10110, 0b11001, 0b10000, 0b10000, 0b10000}},
    {'t', {0b01000, 0b01000, 0b11100, 0b01000, 0b01000, 0b01001, 0b00110}},
    {'x', {0b00000, 0b00000, 0b10001, 0b01010, 0b00100, 0b01010, 0b10001}},
};

}  // namespace

const Glyph* splash_glyph(char c) {
  for (const FontEntry& entry : FONT)
    if (entry.letter == c) return &entry.rows;
  return nullptr;
}

}  // namespace kartex
