/* The save write of FLASH save chips and of the save area in the ROM's
 * flash: the whole block is received first, then written, then
 * acknowledged. */
#include "agent/resident/flash_save_write.h"
#include "agent/resident/link.h"
#include "agent/resident/rom_save_write.h"
#include "agent/resident/requests.h"
#include "agent/resident/state.h"

void req_flash_save_write(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  recv_words(words_for_bytes(bytes), data_buffer);
  if (save_type == SAVE_TYPE_ROM_FLASH)
    rom_save_write(offset, bytes);
  else
    flash_save_write(offset, bytes);
  reply_done();
}
