#include "bench/codecs/codecs.h"

#define RLE_MAX_LITERALS 128
#define RLE_MIN_RUN 3
#define RLE_MAX_RUN 130

/* Literals in[from..to) as control bytes and their bytes; 0 if they do not fit. */
static int rle_literals(const uint8_t* in, size_t from, size_t to, uint8_t* out, size_t* o, size_t cap) {
  while (from < to) {
    size_t count = to - from;
    if (count > RLE_MAX_LITERALS) count = RLE_MAX_LITERALS;
    if (*o + 1 + count > cap) return 0;
    out[(*o)++] = (uint8_t)(count - 1);
    for (size_t k = 0; k < count; ++k) out[(*o)++] = in[from + k];
    from += count;
  }
  return 1;
}

size_t rle_encode(const uint8_t* in, size_t n, uint8_t* out) {
  size_t i = 0, o = 0, pending = 0;
  while (i < n) {
    const uint8_t b = in[i];
    size_t run = 1;
    while (i + run < n && run < RLE_MAX_RUN && in[i + run] == b) ++run;
    if (run < RLE_MIN_RUN) {
      i += run;  /* one or two bytes join the literals */
      continue;
    }
    if (!rle_literals(in, pending, i, out, &o, n) || o + 2 > n) return 0;
    out[o++] = (uint8_t)(0x80 + run - RLE_MIN_RUN);
    out[o++] = b;
    i += run;
    pending = i;
  }
  if (!rle_literals(in, pending, n, out, &o, n)) return 0;
  return o < n ? o : 0;
}

int rle_decode(const uint8_t* in, size_t in_n, uint8_t* out, size_t n) {
  size_t i = 0, o = 0;
  while (i < in_n) {
    const uint8_t c = in[i++];
    if (c < 0x80) {
      const size_t count = (size_t)c + 1;
      if (i + count > in_n || o + count > n) return -1;
      for (size_t k = 0; k < count; ++k) out[o++] = in[i++];
    } else {
      const size_t run = (size_t)c - 0x80 + RLE_MIN_RUN;
      if (i >= in_n || o + run > n) return -1;
      const uint8_t b = in[i++];
      for (size_t k = 0; k < run; ++k) out[o++] = b;
    }
  }
  return o == n ? 0 : -1;
}
