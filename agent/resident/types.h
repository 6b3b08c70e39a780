/* Fixed-width types for the agent, which has no C library. */
#ifndef KARTEX_AGENT_TYPES_H
#define KARTEX_AGENT_TYPES_H

typedef unsigned char u8;
typedef unsigned short u16;
typedef unsigned int u32;

_Static_assert(sizeof(u16) == 2, "u16");
_Static_assert(sizeof(u32) == 4, "u32");

#endif
