/* Programming the ROM's flash while its data streams in */
#ifndef KARTEX_AGENT_ROM_PROGRAM_H
#define KARTEX_AGENT_ROM_PROGRAM_H

#include "agent/resident/types.h"

/* Where the data comes from: asked, while the chips work on a step, for
 * up to `words` more link words of the range. Data that is in the buffer
 * already needs a pull that does nothing. */
typedef void (*data_pull)(u32 words);

/* Programs c halfwords from s at the ROM-wide halfword index h, by
 * rom_kind, on the page that holds h (selected here and left selected).
 * The range must not cross a 16 KiB boundary of the ROM; on the word
 * program pair (kind 8) it starts at an even halfword, is a whole number
 * of pairs and comes from word-aligned data, as a stream's pieces are, or
 * it is refused as a failed program. After each step
 * it calls pull for at least as many words as the steps consumed (JEDEC
 * steps of one halfword: one word every second step), so the
 * data must already be ahead by one step. Leaves the chips in status
 * mode until read_array_reset. */
void program_flash(u32 h, const u16 *s, u32 c, data_pull pull);

#endif
