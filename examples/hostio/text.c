#include "examples/hostio/text.h"

static void add_char(line_t *line, char c)
{
  if (line->length + 1 < LINE_SIZE) {
    line->text[line->length++] = c;
    line->text[line->length] = 0;
  }
}

void line_clear(line_t *line)
{
  line->length = 0;
  line->text[0] = 0;
}

void line_add(line_t *line, const char *text)
{
  while (*text)
    add_char(line, *text++);
}

void line_uint(line_t *line, uint32_t value, uint32_t width)
{
  char digits[10];
  uint32_t n = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (width > n) {
    add_char(line, '0');
    width--;
  }
  while (n > 0)
    add_char(line, digits[--n]);
}

void line_int(line_t *line, int32_t value)
{
  if (value < 0) {
    add_char(line, '-');
    line_uint(line, 0u - (uint32_t)value, 1);
  } else {
    line_uint(line, (uint32_t)value, 1);
  }
}

void line_hex8(line_t *line, uint8_t value)
{
  static const char HEX[] = "0123456789abcdef";
  add_char(line, HEX[value >> 4]);
  add_char(line, HEX[value & 15]);
}
