/* Byte sizes in KiB and MiB, as chip sizes and erase blocks are given */
#ifndef KARTEX_AGENT_SIZES_H
#define KARTEX_AGENT_SIZES_H

#define KIB(n) ((n) * 0x400u)
#define MIB(n) ((n) * 0x100000u)

#endif
