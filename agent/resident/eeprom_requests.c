/* EEPROM reads and writes in 8-byte blocks. A block that the range covers
 * only in part is read first, so a write keeps the block's other bytes
 * and a read sends only bytes of the range. */
#include "contract/hw/save_chips.h"
#include "agent/resident/eeprom.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"
#include "agent/resident/save_units.h"
#include "agent/resident/state.h"

static u32 eeprom_addr_bits(void)
{
  return save_type == SAVE_TYPE_EEPROM_512 ? EEPROM_ADDR_BITS_512 : EEPROM_ADDR_BITS_8K;
}

void req_eeprom_read(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  u32 addr_bits = eeprom_addr_bits();
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 part = unit_part(pos, bytes - done, EEPROM_BLOCK_BYTES);
    u32 block = pos / EEPROM_BLOCK_BYTES;
    if (part == EEPROM_BLOCK_BYTES) {
      eeprom_read_block(addr_bits, block, data_buffer + done);
    } else {
      u8 whole[EEPROM_BLOCK_BYTES];
      eeprom_read_block(addr_bits, block, whole);
      copy_bytes(data_buffer + done, whole + pos % EEPROM_BLOCK_BYTES, part);
    }
    done += part;
  }
  send_words(words_for_bytes(bytes), data_buffer);
}

static int same_bytes(const u8 *a, const u8 *b, u32 count)
{
  for (u32 i = 0; i < count; i++)
    if (a[i] != b[i])
      return 0;
  return 1;
}

/* A block read takes a twentieth of a block write's time */
void eeprom_write(u32 offset, u32 bytes, int changed_only)
{
  u32 addr_bits = eeprom_addr_bits();
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 part = unit_part(pos, bytes - done, EEPROM_BLOCK_BYTES);
    u32 block = pos / EEPROM_BLOCK_BYTES;
    const u8 *src = data_buffer + done;
    u8 whole[EEPROM_BLOCK_BYTES];
    if (part != EEPROM_BLOCK_BYTES || changed_only) {
      eeprom_read_block(addr_bits, block, whole);
      if (changed_only && same_bytes(whole + pos % EEPROM_BLOCK_BYTES, src, part)) {
        done += part;
        continue;
      }
    }
    if (part == EEPROM_BLOCK_BYTES) {
      eeprom_write_block(addr_bits, block, src);
    } else {
      copy_bytes(whole + pos % EEPROM_BLOCK_BYTES, src, part);
      eeprom_write_block(addr_bits, block, whole);
    }
    done += part;
  }
}

void req_eeprom_write(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  recv_words(words_for_bytes(bytes), data_buffer);
  eeprom_write(offset, bytes, 0);
  reply_done();
}
