/* Writing FLASH save chips (save types 3 and 6) in 4 KiB sectors. */
#ifndef KARTEX_AGENT_FLASH_SAVE_WRITE_H
#define KARTEX_AGENT_FLASH_SAVE_WRITE_H

#include "agent/resident/types.h"

/* Rewrites the 4,096 bytes of sector (16-bit) from src, by save_type and
 * save_chip, and reads them back, trying again while they differ; a 128
 * KiB chip is left showing the sector's bank. 0: the sector never held
 * them. changed_only: a sector (a page of the page part) that holds them
 * is left alone, one whose differing cells all read erased is programmed
 * without an erase, and only bytes that differ take a program cycle. */
int flash_save_write_sector(u32 sector, const u8 *src, int changed_only);

/* Writes the bytes at data_buffer to the save from offset, sector by
 * sector; a sector covered in part keeps its other bytes. 0: a sector did
 * not take its bytes, and the ones after it were not written. */
int flash_save_write(u32 offset, u32 bytes, int changed_only);

#endif
