/* Serial EEPROM in the wait state 2 ROM mirror: one bit per halfword, in
 * bit 0. Each request and answer moves as one DMA channel 3 burst. */
#include "contract/hw/dma.h"
#include "contract/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/dma3.h"
#include "agent/resident/eeprom.h"
#include "agent/resident/save_delay.h"

#define EEPROM_START 1      /* first bit of every request */
#define EEPROM_READ_MARK 1  /* second bit: 1 reads, 0 writes */
#define EEPROM_WRITE_MARK 0
#define EEPROM_READ_END 0
#define BITS_PER_BYTE 8
#define EEPROM_WRITE_END 0 /* the part refuses a write request ending in 1 */

/* Puts the n low bits of value into bits[], most significant first;
 * returns the next free place. */
static u16 *put_bits(u16 *bits, u32 value, u32 n)
{
  while (n != 0) {
    n--;
    *bits++ = (u16)((value >> n) & EEPROM_BIT);
  }
  return bits;
}

void eeprom_read_block(u32 addr_bits, u32 block, u8 *dest)
{
  u16 request[EEPROM_MAX_READ_REQUEST_BITS];
  u16 answer[EEPROM_ANSWER_BITS];

  u16 *bit = request;
  *bit++ = EEPROM_START;
  *bit++ = EEPROM_READ_MARK;
  bit = put_bits(bit, block, addr_bits);
  *bit = EEPROM_READ_END;

  dma3_run(request, (volatile void *)EEPROM_PORT,
           DMA_COPY16_NOW(EEPROM_READ_REQUEST_BITS(addr_bits)));
  dma3_run((const volatile void *)EEPROM_PORT, answer, DMA_COPY16_NOW(EEPROM_ANSWER_BITS));

  const u16 *data = answer + EEPROM_ANSWER_LEAD_BITS;
  for (u32 j = 0; j < EEPROM_BLOCK_BYTES; j++) {
    u32 byte = 0;
    for (u32 k = 0; k < BITS_PER_BYTE; k++)
      byte = byte << 1 | (*data++ & EEPROM_BIT);
    dest[EEPROM_BLOCK_BYTES - 1 - j] = (u8)byte;
  }
}

void eeprom_write_block(u32 addr_bits, u32 block, const u8 *src)
{
  u16 request[EEPROM_MAX_WRITE_REQUEST_BITS];

  u16 *bit = request;
  *bit++ = EEPROM_START;
  *bit++ = EEPROM_WRITE_MARK;
  bit = put_bits(bit, block, addr_bits);
  for (u32 j = EEPROM_BLOCK_BYTES; j != 0; j--)
    bit = put_bits(bit, src[j - 1], BITS_PER_BYTE);
  *bit = EEPROM_WRITE_END;

  dma3_run(request, (volatile void *)EEPROM_PORT,
           DMA_COPY16_NOW(EEPROM_WRITE_REQUEST_BITS(addr_bits)));

  /* Bit 0 reads 1 once the EEPROM has stored the block; the bound, in
   * pauses of known length, keeps a slot without an EEPROM from stopping
   * the agent. */
  for (u32 n = 0; n < EEPROM_WRITE_TIMEOUT_US / EEPROM_POLL_PAUSE_US; n++) {
    if (bus_read16(EEPROM_PORT) & EEPROM_BIT)
      break;
    save_delay(SAVE_DELAY_PASSES(EEPROM_POLL_PAUSE_US));
  }
}
