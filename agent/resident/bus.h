/* Single accesses to the cartridge bus at a fixed width. The ROM window,
 * its flash chips and the mapper take 16-bit accesses; the save window has
 * an 8-bit bus. Every access is volatile: chips count and react to each one. */
#ifndef KARTEX_AGENT_BUS_H
#define KARTEX_AGENT_BUS_H

#include "agent/resident/types.h"

static inline u16 bus_read16(u32 address)
{
  return *(const volatile u16 *)address;
}

static inline void bus_write16(u32 address, u16 value)
{
  *(volatile u16 *)address = value;
}

/* A ROM word as two halfword reads, low half first */
static inline u32 bus_read16x2(u32 address)
{
  u32 low = bus_read16(address);
  u32 high = bus_read16(address + 2);
  return low | high << 16;
}

static inline u8 bus_read8(u32 address)
{
  return *(const volatile u8 *)address;
}

static inline void bus_write8(u32 address, u8 value)
{
  *(volatile u8 *)address = value;
}

/* Reads whose values are dropped: they give a chip bus cycles to settle */
static inline void bus_pause8(u32 address, u32 reads)
{
  for (u32 i = 0; i < reads; i++)
    (void)bus_read8(address);
}

#endif
