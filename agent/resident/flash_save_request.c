/* The save write of FLASH save chips and of the save area in the ROM's
 * flash: the whole block is received first, then written, then
 * acknowledged. The checked save write of every save type lives here too;
 * it dispatches to the streamed ways of SRAM and of the ROM save area. */
#include "agent/resident/eeprom.h"
#include "agent/resident/flash_save_write.h"
#include "agent/resident/link.h"
#include "agent/resident/rom_save_write.h"
#include "agent/resident/requests.h"
#include "agent/resident/save_window.h"
#include "agent/resident/state.h"
#include "agent/resident/write_check.h"

/* 0: a FLASH save sector did not take its bytes after every try.
 * changed_only: sectors that hold their bytes already are left alone (the
 * save area in the ROM's flash always leaves them). */
static int flash_saves_write(u32 offset, u32 bytes, int changed_only)
{
  if (save_type != SAVE_TYPE_ROM_FLASH)
    return flash_save_write(offset, bytes, changed_only);
  rom_save_write(offset, bytes);
  return 1;
}

void req_flash_save_write(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  recv_words(words_for_bytes(bytes), data_buffer);
  /* The described reply has no failure word: the host's verify finds it */
  (void)flash_saves_write(offset, bytes, 0);
  reply_done();
}

/* The method of the save type found, as the host picks the described
 * write request by it; no save memory takes nothing. Only what differs
 * from the chip is written: erases and EEPROM writes cost milliseconds,
 * comparing costs microseconds. SRAM takes each word as it arrives, the
 * save area in the ROM's flash erases while the block arrives; the other
 * saves take the whole block first. */
void req_save_write_checked(u32 offset, u32 bytes, u32 check)
{
  u32 reply = WRITE_CHECK_FAILED;
  switch (save_type) {
  case SAVE_TYPE_SRAM_32K:
  case SAVE_TYPE_SRAM_LARGE:
    if (sram_write_streamed(offset, bytes, check))
      reply = REPLY_DONE;
    break;
  case SAVE_TYPE_ROM_FLASH:
    if (rom_save_write_checked(offset, bytes, check))
      reply = REPLY_DONE;
    break;
  default:
    if (recv_checked(offset, bytes) != check)
      break;
    reply = REPLY_DONE;
    if (save_type == SAVE_TYPE_EEPROM_512 || save_type == SAVE_TYPE_EEPROM_8K)
      eeprom_write(offset, bytes, 1);
    else if ((save_type == SAVE_TYPE_FLASH_64K || save_type == SAVE_TYPE_FLASH_128K) &&
             !flash_save_write(offset, bytes, 1))
      reply = SAVE_WRITE_FAILED;
    break;
  }
  send_words(1, &reply);
}
