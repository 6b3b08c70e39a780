/* The save window at SAVE_BASE, byte by byte on its 8-bit bus: reads of
 * SRAM and FLASH saves, writes of SRAM. The window shows 64 KiB; larger
 * saves show one 64 KiB bank at a time, switched through the mapper on
 * banked SRAM and by the chip's own command on 128 KiB FLASH. */
#include "link/protocol.h"
#include "agent/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/save_flash.h"
#include "agent/resident/requests.h"
#include "agent/resident/save_units.h"
#include "agent/resident/state.h"

static u32 window_address(u32 pos)
{
  return SAVE_BASE + (pos & (SAVE_WINDOW_SIZE - 1));
}

/* Each 64 KiB part of the range is read from its own bank. The FLASH bank
 * stays selected afterwards; the mapper goes back to SRAM bank 0. */
void req_save_read(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  u8 *buffer = data_buffer;
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 part = unit_part(pos, bytes - done, SAVE_WINDOW_SIZE);
    if (save_type == SAVE_TYPE_SRAM_LARGE)
      select_sram_bank(pos >> SAVE_BANK_SHIFT);
    else if (save_type == SAVE_TYPE_FLASH_128K)
      save_flash_bank(pos >> SAVE_BANK_SHIFT);
    for (u32 i = 0; i < part; i++)
      buffer[done + i] = bus_read8(window_address(pos + i));
    done += part;
  }
  if (save_type == SAVE_TYPE_SRAM_LARGE)
    select_sram_bank(0);
  send_words(words_for_bytes(bytes), buffer);
}

/* The whole block is received before the first byte is written. Only
 * banked SRAM switches banks; on any other save the bytes go to the
 * window as they are. */
void req_sram_write(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  const u8 *buffer = data_buffer;
  recv_words(words_for_bytes(bytes), data_buffer);
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 part = unit_part(pos, bytes - done, SAVE_WINDOW_SIZE);
    if (save_type == SAVE_TYPE_SRAM_LARGE)
      select_sram_bank(pos >> SAVE_BANK_SHIFT);
    for (u32 i = 0; i < part; i++)
      bus_write8(window_address(pos + i), buffer[done + i]);
    done += part;
  }
  if (save_type == SAVE_TYPE_SRAM_LARGE)
    select_sram_bank(0);
  reply_done();
}
