/* Request handlers. Each takes the three argument words of the request;
 * arguments a request does not use are ignored. */
#ifndef KARTEX_AGENT_REQUESTS_H
#define KARTEX_AGENT_REQUESTS_H

#include "link/protocol.h"
#include "agent/resident/link.h"
#include "agent/resident/types.h"

typedef void (*request_handler)(u32 a1, u32 a2, u32 a3);

/* Takes nothing more from the link and sends nothing. */
void request_drop(u32 a1, u32 a2, u32 a3);

void req_mem_read(u32 a1, u32 a2, u32 a3);
void req_mem_write(u32 a1, u32 a2, u32 a3);
void req_mem_search(u32 a1, u32 a2, u32 a3);
void req_run_program(u32 a1, u32 a2, u32 a3);
void req_boot_cart(u32 a1, u32 a2, u32 a3);
void req_cart_info(u32 a1, u32 a2, u32 a3);
void req_cart_variant(u32 a1, u32 a2, u32 a3);
void req_rom_read(u32 a1, u32 a2, u32 a3);
void req_save_type(u32 a1, u32 a2, u32 a3);

/* Flash ROM: erase, write, program, erased end */
void req_flash_erase(u32 a1, u32 a2, u32 a3);
void req_flash_write(u32 a1, u32 a2, u32 a3);
void req_flash_program(u32 a1, u32 a2, u32 a3);
void req_flash_free(u32 a1, u32 a2, u32 a3);

/* Requests of ours: CRC-32 of ROM and save blocks, a flash block update
 * that erases only when it must */
void req_rom_crc32(u32 a1, u32 a2, u32 a3);
void req_save_crc32(u32 a1, u32 a2, u32 a3);
void req_flash_update(u32 a1, u32 a2, u32 a3);
void req_cart_fingerprint(u32 a1, u32 a2, u32 a3);
void req_flash_failures(u32 a1, u32 a2, u32 a3);
void req_cfi_info(u32 a1, u32 a2, u32 a3);

/* A video frame as changes to a page, then the display switch */
void req_video_frame(u32 a1, u32 a2, u32 a3);

/* Save memory: SRAM, FLASH, EEPROM and the save area in the ROM's flash,
 * and the SRAM bank copies */
void req_save_read(u32 a1, u32 a2, u32 a3);
void req_sram_write(u32 a1, u32 a2, u32 a3);
void req_sram_bank_load(u32 a1, u32 a2, u32 a3);
void req_sram_bank_store(u32 a1, u32 a2, u32 a3);
void req_eeprom_read(u32 a1, u32 a2, u32 a3);
void req_eeprom_write(u32 a1, u32 a2, u32 a3);
void req_flash_save_write(u32 a1, u32 a2, u32 a3);
/* Ours: a save block written only when it arrived as sent */
void req_save_write_checked(u32 a1, u32 a2, u32 a3);

/* An erase or a save block write is finished, whatever happened */
static inline void reply_done(void)
{
  u32 done = REPLY_DONE;
  send_words(1, &done);
}

/* BIOS SoftReset with the restart flag set (bios.S); does not return. */
void bios_soft_reset(u32 restart_flag) __attribute__((noreturn));

void request_loop(void) __attribute__((noreturn));

#endif
