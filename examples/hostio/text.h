/* A line of text built piece by piece, without a C library. */
#ifndef HOSTIO_TEXT_H
#define HOSTIO_TEXT_H

#include <stdint.h>

#define LINE_SIZE 128

typedef struct {
  char text[LINE_SIZE]; /* always NUL-terminated */
  uint32_t length;
} line_t;

void line_clear(line_t *line);
void line_add(line_t *line, const char *text);
/* Decimal, at least `width` digits (leading zeros). */
void line_uint(line_t *line, uint32_t value, uint32_t width);
void line_int(line_t *line, int32_t value);
/* Two hex digits. */
void line_hex8(line_t *line, uint8_t value);

#endif
