/* Save memory detection. The probes run from the least to the most
 * intrusive: SRAM and FLASH save chips in the save window, the save area
 * in the ROM's flash, then EEPROM writes. Each one puts back what it
 * changed. */
#include "contract/wire.h"
#include "contract/hw/rom_flash.h"
#include "contract/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/cold.h"
#include "agent/resident/eeprom.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"
#include "agent/resident/save_delay.h"
#include "agent/resident/save_detect.h"
#include "agent/resident/save_flash.h"
#include "agent/resident/state.h"

/* EEPROM blocks that the probe rewrites and restores: the first block
 * beyond a 512-byte EEPROM, and the first block */
#define EEPROM_PROBE_BLOCK_8K 0x40
#define EEPROM_PROBE_BLOCK_512 0

#define EEPROM_PROBE_ADD 0x55

/* SRAM answers with what was written: 32 KiB of it shows again at +32 KiB.
 * Returns the type, or SAVE_TYPE_NONE. */
COLD static u32 probe_sram(void)
{
  u8 before[SRAM_PROBE_BYTES];
  u8 mirror[SRAM_PROBE_BYTES];
  for (u32 i = 0; i < SRAM_PROBE_BYTES; i++) {
    before[i] = bus_read8(SAVE_BASE + i);
    mirror[i] = bus_read8(SAVE_BASE + SRAM_MIRROR_OFFSET + i);
    bus_write8(SAVE_BASE + i, (u8)(before[i] + SRAM_PROBE_ADD));
  }

  int took_writes = 1;
  int mirror_kept = 1;
  for (u32 i = 0; i < SRAM_PROBE_BYTES; i++) {
    u8 now = bus_read8(SAVE_BASE + i);
    u8 now_mirror = bus_read8(SAVE_BASE + SRAM_MIRROR_OFFSET + i);
    bus_write8(SAVE_BASE + i, before[i]);
    if (now != (u8)(before[i] + SRAM_PROBE_ADD))
      took_writes = 0;
    if (now_mirror != mirror[i])
      mirror_kept = 0;
  }

  if (!took_writes)
    return SAVE_TYPE_NONE;
  return mirror_kept ? SAVE_TYPE_SRAM_LARGE : SAVE_TYPE_SRAM_32K;
}

struct flash_save_chip {
  u8 maker;
  u8 device;
  u8 type;
  u8 chip; /* save_chip */
};

/* The 64 KiB rows are numbered by save_chip in this order */
static const struct flash_save_chip flash_save_chips[] = {
    {FLASH_SAVE_MAKER_128K_0, FLASH_SAVE_DEV_128K_0, SAVE_TYPE_FLASH_128K, 0},
    {FLASH_SAVE_MAKER_128K_1, FLASH_SAVE_DEV_128K_1, SAVE_TYPE_FLASH_128K, 1},
    {FLASH_SAVE_MAKER_64K_0, FLASH_SAVE_DEV_64K_0, SAVE_TYPE_FLASH_64K, 0},
    {FLASH_SAVE_MAKER_64K_1, FLASH_SAVE_DEV_64K_1, SAVE_TYPE_FLASH_64K, 1},
    {FLASH_SAVE_MAKER_64K_2, FLASH_SAVE_DEV_64K_2, SAVE_TYPE_FLASH_64K, 2},
    {FLASH_SAVE_MAKER_64K_3, FLASH_SAVE_DEV_64K_3, SAVE_TYPE_FLASH_64K, 3},
};

#define FLASH_SAVE_CHIP_COUNT (sizeof flash_save_chips / sizeof flash_save_chips[0])

/* Returns the type and sets save_chip, or returns SAVE_TYPE_NONE. Every
 * part leaves identifier mode twice (the command, then 0xF0 alone, which
 * some parts want as well) and is given time to do so, before anything
 * reads its array. */
COLD static u32 probe_flash_save(void)
{
  save_flash_command(FLASH_SAVE_CMD_READ_ID);
  save_delay(SAVE_DELAY_PASSES(FLASH_SAVE_ID_WAIT_US));
  u8 maker = bus_read8(FLASH_SAVE_ID_MAKER);
  u8 device = bus_read8(FLASH_SAVE_ID_DEVICE);
  save_flash_command(FLASH_SAVE_CMD_EXIT_ID);
  bus_write8(FLASH_SAVE_ADDR_1, FLASH_SAVE_CMD_EXIT_ID);
  save_delay(SAVE_DELAY_PASSES(FLASH_SAVE_ID_WAIT_US));

  for (u32 row = 0; row < FLASH_SAVE_CHIP_COUNT; row++) {
    const struct flash_save_chip *c = &flash_save_chips[row];
    if (c->maker == maker && c->device == device) {
      save_chip = c->chip;
      return c->type;
    }
  }
  return SAVE_TYPE_NONE;
}

/* The save area in the ROM's flash answers the identifier command of a
 * status-register chip; its block locks are cleared for later writes,
 * and read_array_reset returns it to read mode. */
COLD static u32 probe_rom_save(void)
{
  bus_write16(ROM_SAVE_BASE, SR_CMD_READ_ID);
  if (bus_read16(ROM_SAVE_BASE) != ROM_SAVE_ID_MAKER ||
      bus_read16(ROM_SAVE_BASE + ROM_ID_DEVICE) != ROM_SAVE_ID_DEVICE)
    return SAVE_TYPE_NONE;
  bus_write16(ROM_SAVE_STATUS, SR_CMD_LOCK_SETUP);
  bus_write16(ROM_SAVE_STATUS, SR_CMD_CONFIRM);
  return SAVE_TYPE_ROM_FLASH;
}

COLD static void add_to_each(u8 *out, const u8 *in, u8 amount)
{
  for (u32 i = 0; i < EEPROM_BLOCK_BYTES; i++)
    out[i] = (u8)(in[i] + amount);
}

COLD static int same_block(const u8 *a, const u8 *b)
{
  for (u32 i = 0; i < EEPROM_BLOCK_BYTES; i++)
    if (a[i] != b[i])
      return 0;
  return 1;
}

/* Block 0 is read with 6-bit addresses before anything is written: the
 * 14-bit number of block 0x40 starts with six 0 bits, so a 512-byte EEPROM
 * takes the 14-bit write as a write to its block 0, which is then restored
 * from that copy. */
COLD static u32 probe_eeprom(void)
{
  u8 first[EEPROM_BLOCK_BYTES];
  u8 kept[EEPROM_BLOCK_BYTES];
  u8 changed[EEPROM_BLOCK_BYTES];
  u8 readback[EEPROM_BLOCK_BYTES];

  eeprom_read_block(EEPROM_ADDR_BITS_512, EEPROM_PROBE_BLOCK_512, first);

  eeprom_read_block(EEPROM_ADDR_BITS_8K, EEPROM_PROBE_BLOCK_8K, kept);
  add_to_each(changed, kept, EEPROM_PROBE_ADD);
  eeprom_write_block(EEPROM_ADDR_BITS_8K, EEPROM_PROBE_BLOCK_8K, changed);
  eeprom_read_block(EEPROM_ADDR_BITS_8K, EEPROM_PROBE_BLOCK_8K, readback);
  if (same_block(readback, changed)) {
    eeprom_write_block(EEPROM_ADDR_BITS_8K, EEPROM_PROBE_BLOCK_8K, kept);
    return SAVE_TYPE_EEPROM_8K;
  }

  add_to_each(changed, first, EEPROM_PROBE_ADD);
  eeprom_write_block(EEPROM_ADDR_BITS_512, EEPROM_PROBE_BLOCK_512, changed);
  eeprom_read_block(EEPROM_ADDR_BITS_512, EEPROM_PROBE_BLOCK_512, readback);
  if (same_block(readback, changed)) {
    eeprom_write_block(EEPROM_ADDR_BITS_512, EEPROM_PROBE_BLOCK_512, first);
    return SAVE_TYPE_EEPROM_512;
  }
  return SAVE_TYPE_NONE;
}

COLD void detect_save_type(void)
{
  save_type = probe_sram();
  if (save_type != SAVE_TYPE_NONE)
    return;

  /* Gives a FLASH save chip time after the SRAM probe's writes, before
   * its first command */
  bus_pause8(SAVE_BASE, SAVE_PROBE_PAUSE_READS);

  save_type = probe_flash_save();
  if (save_type != SAVE_TYPE_NONE)
    return;

  save_type = probe_rom_save();
  if (save_type != SAVE_TYPE_NONE)
    return;

  save_type = probe_eeprom();
}

COLD void req_save_type(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;
  detect_save_type();
  send_words(1, &save_type);
}
