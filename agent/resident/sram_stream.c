/* The checked SRAM write, streamed: nothing waits for the whole block.
 * Each word is stored as it arrives and read back into the check, the old
 * bytes kept in the data buffer; a block that fails its check has them
 * put back, so a word corrupted on the link leaves the save as it was.
 * SRAM takes any number of writes, so storing before the check costs the
 * chip nothing. */
#include "contract/wire.h"
#include "agent/resident/bus.h"
#include "agent/resident/crc32.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/save_units.h"
#include "agent/resident/save_window.h"
#include "agent/resident/state.h"
#include "agent/resident/write_check.h"

/* One word whose bytes do not all lie in one bank, or the block's last
 * word that is only partly data: byte by byte, the bank chosen for each */
static u32 store_word_bytewise(u32 pos, u32 count, u8 *old, u32 crc)
{
  u32 word;
  recv_words(1, &word);
  for (u32 i = 0; i < count; i++, word >>= 8) {
    sram_select_bank_of(pos + i);
    u32 at = save_window_address(pos + i);
    old[i] = bus_read8(at);
    bus_write8(at, (u8)word);
    crc = crc32_byte(crc, bus_read8(at));
  }
  return crc;
}

int sram_write_streamed(u32 offset, u32 bytes, u32 check)
{
  u8 *old = data_buffer;
  u32 crc = CRC32_START;
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 left = bytes - done;
    u32 words = unit_part(pos, left, SAVE_WINDOW_SIZE) >> 2;
    if (words) {
      sram_select_bank_of(pos);
      crc = recv_words_to_save(words, save_window_address(pos), old + done, crc);
      done += 4 * words;
    } else {
      u32 count = left < 4 ? left : 4;
      crc = store_word_bytewise(pos, count, old + done, crc);
      done += count;
    }
  }
  int ok = check_word(crc, offset, bytes) == check;
  if (!ok)
    sram_write(offset, bytes); /* the old bytes, from the data buffer */
  sram_select_bank_of(0);
  return ok;
}
