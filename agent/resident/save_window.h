/* The save window at SAVE_BASE: 64 KiB of a larger save at a time. */
#ifndef KARTEX_AGENT_SAVE_WINDOW_H
#define KARTEX_AGENT_SAVE_WINDOW_H

#include "agent/resident/types.h"

/* Handed each part of a save range that one bank shows: its window
 * address and length */
typedef void (*save_part_visit)(u32 window, u32 count, void *context);

/* Visits [offset, offset + bytes) part by part, in order, each with its
 * bank selected: the mapper's SRAM bank on banked SRAM, the chip's bank on
 * a 128 KiB FLASH. The FLASH bank stays selected afterwards; the mapper
 * goes back to SRAM bank 0. */
void save_window_visit(u32 offset, u32 bytes, save_part_visit visit, void *context);

/* Writes the bytes at data_buffer to SRAM from offset */
void sram_write(u32 offset, u32 bytes);

/* Stores `bytes` bytes from src to the save window at `window`, byte by
 * byte, in order (save_bytes.S) */
void sram_copy(u32 window, const u8 *src, u32 bytes);

#endif
