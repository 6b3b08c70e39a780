#include "bench/codecs/codecs.h"

#define LZ10_TAG 0x10
#define LZ10_MIN_MATCH 3
#define LZ10_MAX_MATCH 18
#define LZ10_WINDOW 4096u
#define LZ10_MAX_BLOCK 65536u

static uint32_t lz10_hash(const uint8_t* p) {
  const uint32_t v = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
  return (v ^ v >> 9 ^ v >> 18) & (LZ10_HASH_ENTRIES - 1);
}

size_t lz10_encode(const uint8_t* in, size_t n, uint8_t* out, uint16_t* table) {
  if (n > LZ10_MAX_BLOCK || n <= 4) return 0;
  for (uint32_t h = 0; h < LZ10_HASH_ENTRIES; ++h) table[h] = 0;
  out[0] = LZ10_TAG;
  out[1] = (uint8_t)n;
  out[2] = (uint8_t)(n >> 8);
  out[3] = (uint8_t)(n >> 16);
  size_t o = 4, i = 0;
  while (i < n) {
    if (o >= n) return 0;
    const size_t flag_at = o++;
    unsigned flags = 0, k = 0;
    for (; k < 8 && i < n; ++k) {
      flags <<= 1;
      size_t len = 0, c = 0;
      if (n - i >= LZ10_MIN_MATCH) {
        const uint32_t h = lz10_hash(in + i);
        c = table[h];
        table[h] = (uint16_t)i;
        if (c < i && i - c <= LZ10_WINDOW && in[c] == in[i] && in[c + 1] == in[i + 1] && in[c + 2] == in[i + 2]) {
          const size_t max = n - i < LZ10_MAX_MATCH ? n - i : LZ10_MAX_MATCH;
          len = LZ10_MIN_MATCH;
          while (len < max && in[c + len] == in[i + len]) ++len;
        }
      }
      if (len) {
        if (o + 2 > n) return 0;
        const size_t d = i - c - 1;
        out[o++] = (uint8_t)((len - LZ10_MIN_MATCH) << 4 | d >> 8);
        out[o++] = (uint8_t)d;
        flags |= 1;
        i += len;
      } else {
        if (o + 1 > n) return 0;
        out[o++] = in[i++];
      }
    }
    out[flag_at] = (uint8_t)(flags << (8 - k));
  }
  return o < n ? o : 0;
}

int lz10_decode(const uint8_t* in, size_t in_n, uint8_t* out, size_t n) {
  if (in_n < 4 || in[0] != LZ10_TAG) return -1;
  if (((size_t)in[1] | (size_t)in[2] << 8 | (size_t)in[3] << 16) != n) return -1;
  size_t i = 4, o = 0;
  while (o < n) {
    if (i >= in_n) return -1;
    const uint8_t flags = in[i++];
    for (unsigned bit = 0x80; bit && o < n; bit >>= 1) {
      if (!(flags & bit)) {
        if (i >= in_n) return -1;
        out[o++] = in[i++];
        continue;
      }
      if (in_n - i < 2) return -1;
      const size_t len = (size_t)(in[i] >> 4) + LZ10_MIN_MATCH;
      const size_t d = ((size_t)(in[i] & 15) << 8 | in[i + 1]) + 1;
      i += 2;
      if (d > o || len > n - o) return -1;
      for (size_t k = 0; k < len; ++k, ++o) out[o] = out[o - d];
    }
  }
  return 0;
}
