/* Block codecs small enough for the console's CPU to run while it drives
 * the link, for measuring what a compressed dump would save. Each encoder
 * takes one block on its own and writes at most `n` bytes; it returns the
 * encoded size, or 0 when the encoding would not be smaller than the block
 * (such a block travels raw). Each decoder rebuilds exactly `n` bytes and
 * returns 0, or -1 when the stream is malformed, runs short or reaches
 * outside what was already decoded.
 *
 * The same C builds for the host and, with arm-none-eabi-gcc, for the
 * console: no library calls, no multiplies in the inner loops (the
 * ARM7TDMI's multiplier takes extra cycles per byte of the operand). */
#ifndef KARTEX_BENCH_CODECS_H
#define KARTEX_BENCH_CODECS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Run-length: a control byte 0x00-0x7F is followed by 1-128 literal bytes,
 * one of 0x80-0xFF by the byte of a run of 3-130 copies. */
size_t rle_encode(const uint8_t* in, size_t n, uint8_t* out);
int rle_decode(const uint8_t* in, size_t in_n, uint8_t* out, size_t n);

/* LZ77, greedy, a hash table of 4-byte sequences, matches of 4 bytes or
 * more anywhere earlier in the block (offsets to 65535). Each sequence: a
 * token (literal count in the high nibble, match length - 4 in the low one,
 * 15 meaning more follows in bytes of 255 and a last one below 255), the
 * literals, the offset in two bytes, low first, then the match length's
 * extra bytes. The last sequence is literals only and ends the stream. */
#define LZF_HASH_BITS 12
#define LZF_HASH_ENTRIES (1u << LZF_HASH_BITS)
size_t lzf_encode(const uint8_t* in, size_t n, uint8_t* out, uint16_t* table);
int lzf_decode(const uint8_t* in, size_t in_n, uint8_t* out, size_t n);

/* The LZ77 form the console's BIOS decompresses: a header word (0x10 and
 * the decoded size in its upper 24 bits), then groups of a flag byte and
 * eight items, the flag's high bit first; a set bit is a match of two bytes
 * ((length - 3) << 4 | (distance - 1) >> 8, then (distance - 1) & 0xFF;
 * lengths 3-18, distances 1-4096), a clear bit one literal byte. Greedy,
 * with a hash table of 3-byte sequences. */
#define LZ10_HASH_BITS 12
#define LZ10_HASH_ENTRIES (1u << LZ10_HASH_BITS)
size_t lz10_encode(const uint8_t* in, size_t n, uint8_t* out, uint16_t* table);
int lz10_decode(const uint8_t* in, size_t in_n, uint8_t* out, size_t n);

#ifdef __cplusplus
}
#endif

#endif
