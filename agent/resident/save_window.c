/* The save window at SAVE_BASE, byte by byte on its 8-bit bus: reads of
 * SRAM and FLASH saves, writes of SRAM. The window shows 64 KiB; larger
 * saves show one 64 KiB bank at a time, switched through the mapper on
 * banked SRAM and by the chip's own command on 128 KiB FLASH. */
#include "contract/wire.h"
#include "contract/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/save_flash.h"
#include "agent/resident/requests.h"
#include "agent/resident/save_units.h"
#include "agent/resident/save_window.h"
#include "agent/resident/state.h"

void sram_select_bank_of(u32 pos)
{
  if (save_type == SAVE_TYPE_SRAM_LARGE)
    select_sram_bank(pos >> SAVE_BANK_SHIFT);
}

void save_window_visit(u32 offset, u32 bytes, save_part_visit visit, void *context)
{
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 part = unit_part(pos, bytes - done, SAVE_WINDOW_SIZE);
    if (save_type == SAVE_TYPE_SRAM_LARGE)
      select_sram_bank(pos >> SAVE_BANK_SHIFT);
    else if (save_type == SAVE_TYPE_FLASH_128K)
      save_flash_bank(pos >> SAVE_BANK_SHIFT);
    visit(save_window_address(pos), part, context);
    done += part;
  }
  if (save_type == SAVE_TYPE_SRAM_LARGE)
    select_sram_bank(0);
}

/* context: where the next byte goes, advanced past the part */
static void copy_part(u32 window, u32 count, void *context)
{
  u8 **dest = context;
  for (u32 i = 0; i < count; i++)
    (*dest)[i] = bus_read8(window + i);
  *dest += count;
}

void req_save_read(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  u8 *dest = data_buffer;
  save_window_visit(offset, bytes, copy_part, &dest);
  send_words(words_for_bytes(bytes), data_buffer);
}

/* Only banked SRAM switches banks; on any other save the bytes go to the
 * window as they are. */
void sram_write(u32 offset, u32 bytes)
{
  const u8 *buffer = data_buffer;
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 part = unit_part(pos, bytes - done, SAVE_WINDOW_SIZE);
    sram_select_bank_of(pos);
    sram_copy(save_window_address(pos), buffer + done, part);
    done += part;
  }
  if (save_type == SAVE_TYPE_SRAM_LARGE)
    select_sram_bank(0);
}

/* The whole block is received before the first byte is written */
void req_sram_write(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  recv_words(words_for_bytes(bytes), data_buffer);
  sram_write(offset, bytes);
  reply_done();
}
