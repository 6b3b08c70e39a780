#include "link/protocol.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"

/* Every request code is REQ_CODE_HIGH plus a slot number. Slots without a
 * code, and codes not yet served, go to request_drop: the four words have
 * been taken and the link is in step for the next request. */
#define REQ_SLOT(code) ((code) - REQ_CODE_HIGH)

static const request_handler request_table[] = {
    [REQ_SLOT(REQ_CART_INFO)] = req_cart_info,
    [REQ_SLOT(REQ_RUN_PROGRAM)] = req_run_program,
    [REQ_SLOT(REQ_FLASH_ERASE)] = req_flash_erase,
    [REQ_SLOT(REQ_FLASH_PROGRAM)] = req_flash_program,
    [REQ_SLOT(REQ_FLASH_WRITE)] = req_flash_write,
    [REQ_SLOT(REQ_MEM_READ)] = req_mem_read,
    [REQ_SLOT(REQ_MEM_WRITE)] = req_mem_write,
    [REQ_SLOT(REQ_MEM_SEARCH)] = req_mem_search,
    [REQ_SLOT(REQ_BOOT_CART)] = req_boot_cart,
    [REQ_SLOT(REQ_SRAM_BANK_LOAD)] = req_sram_bank_load,
    [REQ_SLOT(REQ_SRAM_BANK_STORE)] = req_sram_bank_store,
    [REQ_SLOT(REQ_SAVE_TYPE)] = req_save_type,
    [REQ_SLOT(REQ_SAVE_READ)] = req_save_read,
    [REQ_SLOT(REQ_EEPROM_READ)] = req_eeprom_read,
    [REQ_SLOT(REQ_EEPROM_WRITE)] = req_eeprom_write,
    [REQ_SLOT(REQ_SRAM_WRITE)] = req_sram_write,
    [REQ_SLOT(REQ_FLASH_SAVE_WRITE)] = req_flash_save_write,
    [REQ_SLOT(REQ_ROM_READ)] = req_rom_read,
    [REQ_SLOT(REQ_FLASH_FREE)] = req_flash_free,
    [REQ_SLOT(REQ_CART_VARIANT)] = req_cart_variant,
    [REQ_SLOT(REQ_ROM_CRC32)] = req_rom_crc32,
    [REQ_SLOT(REQ_SAVE_CRC32)] = req_save_crc32,
    [REQ_SLOT(REQ_FLASH_UPDATE)] = req_flash_update,
    [REQ_SLOT(REQ_CART_FINGERPRINT)] = req_cart_fingerprint,
    [REQ_SLOT(REQ_FLASH_FAILURES)] = req_flash_failures,
    [REQ_SLOT(REQ_VIDEO_FRAME)] = req_video_frame,
    [REQ_SLOT(REQ_SAVE_WRITE_CHECKED)] = req_save_write_checked,
    [REQ_SLOT(REQ_CFI_INFO)] = req_cfi_info,
};

#define REQUEST_SLOTS (sizeof request_table / sizeof request_table[0])

void request_drop(u32 a1, u32 a2, u32 a3)
{
  (void)a1;
  (void)a2;
  (void)a3;
}

void request_loop(void)
{
  u32 words[CMD_REQUEST_WORDS]; /* code, a1, a2, a3 */

  for (;;) {
    recv_words(CMD_REQUEST_WORDS, words);
    u32 slot = REQ_SLOT(words[0]);
    request_handler handler = request_drop;
    if (slot < REQUEST_SLOTS && request_table[slot])
      handler = request_table[slot];
    handler(words[1], words[2], words[3]);
  }
}
