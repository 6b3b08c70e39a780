/* CRC-32 of the zlib polynomial (reflected 0xEDB88320), table driven. A
 * running CRC is kept inverted: it starts at CRC32_START and the value of
 * a range is the running CRC inverted once more. */
#ifndef KARTEX_AGENT_CRC32_H
#define KARTEX_AGENT_CRC32_H

#include "agent/resident/types.h"

#define CRC32_POLY 0xEDB88320u
#define CRC32_START 0xFFFFFFFFu

/* 256 words in the agent state, built by crc32_init at start-up */
extern u32 crc32_table[256];

void crc32_init(void);

static inline u32 crc32_byte(u32 crc, u32 byte)
{
  return crc32_table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

/* Sources of bytes, each adding `bytes` bytes from `address` to the running
 * CRC. All read the bus as its width asks: */

/* ROM window, 16-bit reads only; any start and length (crc32.c) */
u32 crc32_rom(u32 crc, u32 address, u32 bytes);

/* Halfword-aligned ROM, whole halfwords (crc32.S) */
u32 crc32_halfwords(u32 crc, u32 address, u32 halfwords);

/* The save window's 8-bit bus, byte reads (crc32.S) */
u32 crc32_bytes(u32 crc, u32 address, u32 bytes);

#endif
