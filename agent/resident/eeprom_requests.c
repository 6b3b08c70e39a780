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

void eeprom_write(u32 offset, u32 bytes)
{
  u32 addr_bits = eeprom_addr_bits();
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 part = unit_part(pos, bytes - done, EEPROM_BLOCK_BYTES);
    u32 block = pos / EEPROM_BLOCK_BYTES;
    if (part == EEPROM_BLOCK_BYTES) {
      eeprom_write_block(addr_bits, block, data_buffer + done);
    } else {
      u8 whole[EEPROM_BLOCK_BYTES];
      eeprom_read_block(addr_bits, block, whole);
      copy_bytes(whole + pos % EEPROM_BLOCK_BYTES, data_buffer + done, part);
      eeprom_write_block(addr_bits, block, whole);
    }
    done += part;
  }
}

void req_eeprom_write(u32 offset, u32 bytes, u32 unused)
{
  (void)unused;
  recv_words(words_for_bytes(bytes), data_buffer);
  eeprom_write(offset, bytes);
  reply_done();
}
