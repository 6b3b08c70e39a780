/* Save memory request handlers: reads and writes of SRAM, FLASH, EEPROM
 * and the save area in the ROM's flash, and the SRAM bank copies. Each
 * takes the three argument words of the request. */
#ifndef KARTEX_AGENT_SAVE_REQUESTS_H
#define KARTEX_AGENT_SAVE_REQUESTS_H

#include "link/protocol.h"
#include "agent/resident/link.h"
#include "agent/resident/types.h"

void req_save_read(u32 a1, u32 a2, u32 a3);
void req_sram_write(u32 a1, u32 a2, u32 a3);
void req_sram_bank_load(u32 a1, u32 a2, u32 a3);
void req_sram_bank_store(u32 a1, u32 a2, u32 a3);
void req_eeprom_read(u32 a1, u32 a2, u32 a3);
void req_eeprom_write(u32 a1, u32 a2, u32 a3);
void req_flash_save_write(u32 a1, u32 a2, u32 a3);

/* Every save write ends with this one word, whatever happened */
static inline void save_reply_done(void)
{
  u32 done = REPLY_DONE;
  send_words(1, &done);
}

#endif
