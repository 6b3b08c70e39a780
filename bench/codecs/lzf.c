#include "bench/codecs/codecs.h"

#define LZF_MIN_MATCH 4
#define LZF_MAX_BLOCK 65536u

static uint32_t lzf_read32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* Shifts and exclusive-ors only: every byte of the word reaches the index. */
static uint32_t lzf_hash(uint32_t v) { return (v ^ v >> 12 ^ v >> 20) & (LZF_HASH_ENTRIES - 1); }

/* A length past a nibble's 15, in bytes of 255 and a last one below. */
static void lzf_more(uint8_t* out, size_t* o, size_t extra) {
  while (extra >= 255) {
    out[(*o)++] = 255;
    extra -= 255;
  }
  out[(*o)++] = (uint8_t)extra;
}

/* One sequence: the literals in[from..from+lit), then the match (offset 0:
 * none, the stream's end). 0 if it does not fit below `cap`. The room it
 * asks for is a bound taken with shifts: the CPU has no divider. */
static int lzf_sequence(const uint8_t* in, size_t from, size_t lit, size_t offset, size_t len, uint8_t* out,
                        size_t* o, size_t cap) {
  const size_t need = 1 + (lit >= 15 ? (lit >> 7) + 1 : 0) + lit + (offset ? 2 + ((len - LZF_MIN_MATCH) >> 7) + 1 : 0);
  if (*o + need > cap) return 0;
  const size_t ml = offset ? len - LZF_MIN_MATCH : 0;
  out[(*o)++] = (uint8_t)((lit < 15 ? lit : 15) << 4 | (ml < 15 ? ml : 15));
  if (lit >= 15) lzf_more(out, o, lit - 15);
  for (size_t k = 0; k < lit; ++k) out[(*o)++] = in[from + k];
  if (offset) {
    out[(*o)++] = (uint8_t)offset;
    out[(*o)++] = (uint8_t)(offset >> 8);
    if (ml >= 15) lzf_more(out, o, ml - 15);
  }
  return 1;
}

size_t lzf_encode(const uint8_t* in, size_t n, uint8_t* out, uint16_t* table) {
  if (n > LZF_MAX_BLOCK) return 0;
  for (uint32_t h = 0; h < LZF_HASH_ENTRIES; ++h) table[h] = 0;
  size_t i = 0, o = 0, anchor = 0;
  if (n >= LZF_MIN_MATCH) {
    const size_t last = n - LZF_MIN_MATCH;  /* the last start of a whole word */
    uint32_t v = lzf_read32(in);
    while (i <= last) {
      const uint32_t h = lzf_hash(v);
      const size_t c = table[h];
      table[h] = (uint16_t)i;
      /* The first byte alone turns most wrong candidates away. */
      if (c < i && in[c] == (uint8_t)v && lzf_read32(in + c) == v) {
        size_t len = LZF_MIN_MATCH;
        while (i + len < n && in[c + len] == in[i + len]) ++len;
        if (!lzf_sequence(in, anchor, i - anchor, i - c, len, out, &o, n)) return 0;
        i += len;
        anchor = i;
        if (i <= last) v = lzf_read32(in + i);
      } else {
        ++i;
        if (i <= last) v = v >> 8 | (uint32_t)in[i + 3] << 24;
      }
    }
  }
  if (!lzf_sequence(in, anchor, n - anchor, 0, 0, out, &o, n)) return 0;
  return o < n ? o : 0;
}

/* A nibble's length with its extra bytes; -1 past the stream's end. */
static int lzf_length(const uint8_t* in, size_t in_n, size_t* i, size_t* len) {
  if (*len < 15) return 0;
  for (;;) {
    if (*i >= in_n) return -1;
    const uint8_t b = in[(*i)++];
    *len += b;
    if (b != 255) return 0;
  }
}

int lzf_decode(const uint8_t* in, size_t in_n, uint8_t* out, size_t n) {
  size_t i = 0, o = 0;
  while (i < in_n) {
    const uint8_t token = in[i++];
    size_t lit = token >> 4;
    if (lzf_length(in, in_n, &i, &lit) || lit > in_n - i || lit > n - o) return -1;
    for (size_t k = 0; k < lit; ++k) out[o++] = in[i++];
    if (i == in_n) return o == n ? 0 : -1;
    if (in_n - i < 2) return -1;
    const size_t offset = (size_t)in[i] | (size_t)in[i + 1] << 8;
    i += 2;
    size_t len = (size_t)(token & 15);
    if (lzf_length(in, in_n, &i, &len)) return -1;
    len += LZF_MIN_MATCH;
    if (offset == 0 || offset > o || len > n - o) return -1;
    for (size_t k = 0; k < len; ++k, ++o) out[o] = out[o - offset];
  }
  return -1;  /* no closing literals-only sequence */
}
