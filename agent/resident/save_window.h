/* The save window at SAVE_BASE: 64 KiB of a larger save at a time. */
#ifndef KARTEX_AGENT_SAVE_WINDOW_H
#define KARTEX_AGENT_SAVE_WINDOW_H

#include "contract/hw/save_chips.h"
#include "agent/resident/types.h"

/* Where save offset pos shows once its bank is selected */
static inline u32 save_window_address(u32 pos)
{
  return SAVE_BASE + (pos & (SAVE_WINDOW_SIZE - 1));
}

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

/* Banked SRAM: selects the bank that holds save offset pos; other saves
 * have one */
void sram_select_bank_of(u32 pos);

/* The checked SRAM write: the block's words go into the save as they
 * arrive (sram_stream.c); nonzero when what the save reads back matched
 * the check word. A block that failed leaves the save as it was. */
int sram_write_streamed(u32 offset, u32 bytes, u32 check);

/* The same, and the CRC-32 of each of `ahead` blocks of SAVE_AHEAD_BLOCK
 * bytes after the range into crcs, while the words arrive where the blocks
 * lie in the bank being written, after them elsewhere; `check_bytes` is
 * the bytes word the check covers. crcs is valid only when it returns
 * nonzero. */
int sram_write_streamed_ahead(u32 offset, u32 bytes, u32 check_bytes, u32 check, u32 ahead, u32 *crcs);

/* Receives `count` words into the save window from `window` on, keeping
 * the old bytes at `old`; returns the running CRC `crc` over the bytes
 * that read back (save_stream.S) */
u32 recv_words_to_save(u32 count, u32 window, u8 *old, u32 crc);

/* What recv_words_to_save_ahead sums: the running CRC of the bytes that
 * read back, the running CRC of the bytes ahead and where they are in the
 * window */
struct stream_sums {
  u32 crc;
  u32 ahead_crc;
  u32 ahead;
};

/* As recv_words_to_save, four bytes ahead summed for each word and the
 * ahead address advanced; both addresses in the bank selected
 * (save_stream.S) */
void recv_words_to_save_ahead(u32 count, u32 window, u8 *old, struct stream_sums *sums);

/* Stores `bytes` bytes from src to the save window at `window`, byte by
 * byte, in order (save_bytes.S) */
void sram_copy(u32 window, const u8 *src, u32 bytes);

#endif
