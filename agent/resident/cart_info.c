/* Cartridge identification requests: the mapper's variant, then the ROM's
 * chips. */
#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/bus.h"
#include "agent/resident/cold.h"
#include "agent/resident/flash_id.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"
#include "agent/resident/state.h"

/* Bank 8 is the first bank that needs bank bit 3, which only cartridges
 * with more than 512 KiB of SRAM decode */
#define SRAM_PROBE_BANK 8
#define SRAM_FIRST_BANK 0

#define PAGE_PROBE_WORDS 256
/* Status reads while a chip programs one word: some 2 ms of bus time, more
 * than a word program takes. On a mapper cartridge they read ROM data,
 * which need not show the ready bit, so every bring-up pays for them. */
#define PAGE_PROBE_SETTLE_READS 4096
#define BLANK_PAGE_PROBE_SUM 0xFFFFFF00u /* 256 words of 0xFFFFFFFF, modulo 2^32 */

/* Halfword indexes of every chip or pair a cartridge may carry in the
 * window: byte offsets 0, 8, 16 and 24 MiB */
static const u32 chip_indexes[] = {0x000000, 0x400000, 0x800000, 0xC00000};

/* Bank 8 of a large SRAM is other memory than bank 0; elsewhere both
 * show the same byte. The byte changed through bank 8 is put back. A save
 * window that does not keep the byte written holds no SRAM at all, which
 * says nothing about banks. */
COLD static int sram_bank_8_is_separate(void)
{
  /* A cartridge put in since the last bank write has its own */
  sram_bank = SRAM_BANK_UNKNOWN;
  u8 b0 = bus_read8(SAVE_BASE);
  select_sram_bank(SRAM_PROBE_BANK);
  u8 b8 = bus_read8(SAVE_BASE);
  bus_write8(SAVE_BASE, (u8)(b8 + 1));
  if (bus_read8(SAVE_BASE) != (u8)(b8 + 1)) {
    select_sram_bank(SRAM_FIRST_BANK);
    return 0;
  }
  select_sram_bank(SRAM_FIRST_BANK);
  if (bus_read8(SAVE_BASE) == b0) {
    select_sram_bank(SRAM_PROBE_BANK);
    bus_write8(SAVE_BASE, b8);
    select_sram_bank(SRAM_FIRST_BANK);
    return 1;
  }
  bus_write8(SAVE_BASE, b0); /* bank 8 was bank 0 */
  return 0;
}

/* Without the mapper the page register's address is ROM, and a chip there
 * takes the page number 0x10 as a program set-up command (0x10 is the
 * other code of 0x40): the next halfword written to it would be programmed
 * into the user's ROM, and the chip would then show its status. Give it
 * that halfword at once: all ones, which clears no bit. Once it is done
 * (a locked block refuses and shows error bits), clear its status and
 * return it to reading its array. With the mapper, which takes the page
 * write itself, these writes reach a chip that reads its array and stays
 * so. */
COLD static void settle_page_register_address(void)
{
  bus_write16(MAPPER_ROM_PAGE, FLASH_ERASED);
  for (u32 n = PAGE_PROBE_SETTLE_READS; n != 0; n--)
    if (bus_read16(MAPPER_ROM_PAGE) & SR_STATUS_READY)
      break;
  bus_write16(MAPPER_ROM_PAGE, SR_CMD_CLEAR_STATUS);
  bus_write16(MAPPER_ROM_PAGE, SR_CMD_READ_ARRAY);
  settle_chips(0); /* the unlock's halfwords, now that no program waits */
}

/* Whether the ROM page register changes what the window shows: the first
 * KiB at page 0x10 is compared with page 0's, and a blank first KiB
 * cannot tell. */
COLD static u32 rom_page_probe(void)
{
  u32 *copy = (u32 *)data_buffer;
  for (u32 i = 0; i < PAGE_PROBE_WORDS; i++)
    copy[i] = bus_read16x2(ROM_BASE + 4 * i);

  select_rom_page(ROM_PAGE_PROBE);
  settle_page_register_address();
  u32 agreed = 0;
  u32 sum = 0;
  while (agreed < PAGE_PROBE_WORDS) {
    u32 word = bus_read16x2(ROM_BASE + 4 * agreed);
    if (word != copy[agreed])
      break;
    sum += word;
    agreed++;
  }
  select_rom_page(ROM_PAGE_FIRST);

  if (agreed == PAGE_PROBE_WORDS && sum != BLANK_PAGE_PROBE_SUM)
    return CART_VARIANT_UNPAGED;
  return CART_VARIANT_PAGED;
}

COLD void req_cart_info(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;

  mapper_command(MAPPER_CMD_IDENTIFY);

  if (sram_bank_8_is_separate())
    variant = CART_VARIANT_BANKED_SRAM;
  else
    variant = rom_page_probe();

  identify_flash();

  u32 reply[3];
  reply[0] = rom_kind;
  reply[1] = rom_size;
  reply[2] = erase_block;
  send_words(3, reply);

  /* The probes may have left chips in identifier mode */
  for (u32 i = 0; i < sizeof chip_indexes / sizeof chip_indexes[0]; i++)
    read_array_reset(chip_indexes[i]);
}

COLD void req_cart_variant(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;
  send_words(1, &variant);
}
