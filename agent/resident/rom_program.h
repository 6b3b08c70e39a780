/* Programming the ROM's flash while its data streams in */
#ifndef KARTEX_AGENT_ROM_PROGRAM_H
#define KARTEX_AGENT_ROM_PROGRAM_H

#include "agent/resident/types.h"

/* Programs c halfwords from s at the ROM-wide halfword index h, by
 * rom_kind, on the page that holds h (selected here and left selected).
 * The range must not cross a 16 KiB boundary of the ROM. After each step
 * it calls stream_pull for at least as many words as the step consumed,
 * so the current stream must already be ahead by one step's data. Leaves
 * the chips in status mode until read_array_reset. */
void program_flash(u32 h, const u16 *s, u32 c);

#endif
