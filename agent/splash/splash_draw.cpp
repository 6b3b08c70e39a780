#include <string_view>

#include "agent/splash/splash_font.h"
#include "agent/splash/splash_picture.h"

namespace kartex {

namespace {

constexpr std::string_view SPLASH_WORD = "kartex";
constexpr int GLYPH_SCALE = 4;
constexpr int LETTER_GAP = 1;  // font columns between letters
constexpr int SHADOW_OFFSET = 2;

struct Rgb {
  int r, g, b;  // 0 to 31 each
};

constexpr Rgb GRADIENT_LEFT{3, 6, 18};
constexpr Rgb GRADIENT_RIGHT{22, 5, 16};
constexpr Rgb TEXT_COLOUR{31, 31, 28};
constexpr Rgb SHADOW_COLOUR{1, 1, 5};
constexpr Rgb BACKGROUND_COLOUR{1, 2, 6};

std::uint16_t bgr15(Rgb c) {
  return static_cast<std::uint16_t>(c.r | (c.g << 5) | (c.b << 10));
}

int blend(int from, int to, int step, int steps) {
  return from + (to - from) * step / (steps - 1);
}

void fill_palette(SplashPicture& picture) {
  for (int i = 0; i < SPLASH_GRADIENT_COLOURS; ++i) {
    picture.palette[i] = bgr15({blend(GRADIENT_LEFT.r, GRADIENT_RIGHT.r, i, SPLASH_GRADIENT_COLOURS),
                                blend(GRADIENT_LEFT.g, GRADIENT_RIGHT.g, i, SPLASH_GRADIENT_COLOURS),
                                blend(GRADIENT_LEFT.b, GRADIENT_RIGHT.b, i, SPLASH_GRADIENT_COLOURS)});
  }
  picture.palette[SPLASH_TEXT] = bgr15(TEXT_COLOUR);
  picture.palette[SPLASH_SHADOW] = bgr15(SHADOW_COLOUR);
  picture.palette[SPLASH_BACKGROUND] = bgr15(BACKGROUND_COLOUR);
}

void set(SplashPicture& picture, int x, int y, std::uint8_t index) {
  picture.pixels[y * SPLASH_WIDTH + x] = index;
}

void draw_gradient(SplashPicture& picture) {
  constexpr int inner = SPLASH_WIDTH - 2 * SPLASH_BORDER;
  for (int y = 0; y < SPLASH_HEIGHT; ++y) {
    for (int x = 0; x < SPLASH_WIDTH; ++x) {
      bool border = x < SPLASH_BORDER || x >= SPLASH_WIDTH - SPLASH_BORDER || y < SPLASH_BORDER ||
                    y >= SPLASH_HEIGHT - SPLASH_BORDER;
      int shade = (x - SPLASH_BORDER) * SPLASH_GRADIENT_COLOURS / inner;
      set(picture, x, y, border ? SPLASH_BACKGROUND : static_cast<std::uint8_t>(shade));
    }
  }
}

void draw_word(SplashPicture& picture, int left, int top, std::uint8_t index) {
  int x0 = left;
  for (char letter : SPLASH_WORD) {
    const Glyph* glyph = splash_glyph(letter);
    for (int row = 0; glyph && row < GLYPH_HEIGHT; ++row) {
      for (int col = 0; col < GLYPH_WIDTH; ++col) {
        if (!((*glyph)[row] & (0x10 >> col))) continue;
        for (int dy = 0; dy < GLYPH_SCALE; ++dy)
          for (int dx = 0; dx < GLYPH_SCALE; ++dx)
            set(picture, x0 + col * GLYPH_SCALE + dx, top + row * GLYPH_SCALE + dy, index);
      }
    }
    x0 += (GLYPH_WIDTH + LETTER_GAP) * GLYPH_SCALE;
  }
}

}  // namespace

SplashPicture splash_draw() {
  SplashPicture picture;
  fill_palette(picture);
  draw_gradient(picture);

  constexpr int letters = static_cast<int>(SPLASH_WORD.size());
  constexpr int width = (letters * (GLYPH_WIDTH + LETTER_GAP) - LETTER_GAP) * GLYPH_SCALE;
  constexpr int height = GLYPH_HEIGHT * GLYPH_SCALE;
  constexpr int left = (SPLASH_WIDTH - width) / 2;
  constexpr int top = (SPLASH_HEIGHT - height) / 2;
  static_assert(left + width + SHADOW_OFFSET <= SPLASH_WIDTH - SPLASH_BORDER);
  static_assert(top + height + SHADOW_OFFSET <= SPLASH_HEIGHT - SPLASH_BORDER);

  draw_word(picture, left + SHADOW_OFFSET, top + SHADOW_OFFSET, SPLASH_SHADOW);
  draw_word(picture, left, top, SPLASH_TEXT);
  return picture;
}

}  // namespace kartex
