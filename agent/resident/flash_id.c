/* Flash chip identification: identifier mode of status-register chips
 * (one chip, or a pair on alternate halfwords), then the cartridge header
 * logo of a mask ROM, then identifier mode of JEDEC chips, then the CFI
 * query. All accesses are 16-bit. */
#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/bus.h"
#include "agent/resident/cfi_flash.h"
#include "agent/resident/cold.h"
#include "agent/resident/flash_id.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/jedec_bypass.h"
#include "agent/resident/mapper.h"
#include "agent/resident/sizes.h"
#include "agent/resident/state.h"

COLD static void set_rom(u32 kind, u32 block, u32 size)
{
  rom_kind = kind;
  erase_block = block;
  rom_size = size;
  jedec_four_writes = 0; /* another chip may take the bypass */
}

COLD static int is_either(u16 value, u16 a, u16 b)
{
  return value == a || value == b;
}

/* Identifier mode at a second set of chips, then read mode at the first
 * (its even chip), as the pairs' size probes do. On a board that leaves
 * the high address lines undecoded, `chips` is the first set again: the
 * read mode that follows takes it out of identifier mode, so it shows its
 * array at `chips` and no second set is counted. */
COLD static void read_id_at(u32 chips)
{
  bus_write16(chips, SR_CMD_READ_ID);
  bus_write16(ROM_BASE, SR_CMD_READ_ARRAY);
}

/* Whether a second set of chips of device code a or b answers at `chips`.
 * The first set reads its array there; should its array hold the code
 * itself, the answer is no (a smaller size, never writes past the ROM). */
COLD static int second_set_answers(u32 chips, u16 a, u16 b)
{
  read_id_at(chips);
  return is_either(bus_read16(chips + ROM_ID_PAIR_DEVICE), a, b) &&
         !is_either(bus_read16(ROM_BASE + ROM_ID_PAIR_DEVICE), a, b);
}

/* A page change without the settling writes that follow it: those would
 * take a chip on the new page out of identifier mode. */
COLD static void show_page(u16 page)
{
  mapper_unlock();
  rom_page = page;
  bus_write16(MAPPER_ROM_PAGE, page);
}

/* The largest pairs fill the window; only a cartridge with a mapper can
 * hold more, and then another pair answers at the 32 MiB and 64 MiB pages.
 * A board that decodes fewer lines shows page 0's pair again there, and
 * one without the mapper ignores the page: so the page's even chip is put
 * in identifier mode, page 0's even chip back in read mode, and only a
 * chip that still answers at the page counts. Without the mapper its
 * writes reach the chips, which then show their status, not a device code;
 * the settling writes at the end put them back. Some chips need their
 * block locks cleared after each probe. */
COLD static u32 paged_pair_size(u16 e, int clear_locks)
{
  u32 size = ROM_WINDOW_SIZE;
  if (variant == CART_VARIANT_UNPAGED)
    return size;

  static const u16 probe_pages[] = {ROM_PAGE_32M, ROM_PAGE_64M};
  for (u32 i = 0; i < sizeof probe_pages / sizeof probe_pages[0]; i++) {
    show_page(probe_pages[i]);
    bus_write16(ROM_BASE, SR_CMD_READ_ID);
    show_page(ROM_PAGE_FIRST);
    bus_write16(ROM_BASE, SR_CMD_READ_ARRAY);
    /* Page 0's own data holding the code would pass for a second pair */
    int first_reads_code = bus_read16(ROM_BASE + ROM_ID_PAIR_DEVICE) == e;
    show_page(probe_pages[i]);
    u16 id = bus_read16(ROM_BASE + ROM_ID_PAIR_DEVICE);
    /* The final read-mode reset reaches page 0 only: leave this page's
     * chips reading their array, or their data would read as identifier
     * words */
    settle_chips(MAPPER_ROM_PAGE);
    bus_write16(ROM_BASE, SR_CMD_READ_ARRAY);
    if (clear_locks)
      clear_block_locks();
    if (id != e || first_reads_code)
      break;
    size *= 2;
  }
  select_rom_page(ROM_PAGE_FIRST);
  return size;
}

/* A pair of chips of maker 0x89; e is the even chip's device code */
COLD static void identify_pair(u16 e)
{
  switch (e) {
  case ROM_DEV_BUF_32M:
    set_rom(ROM_KIND_BUFFERED_PAIR, KIB(256), MIB(8));
    break;
  case ROM_DEV_BUF_64M:
    set_rom(ROM_KIND_BUFFERED_PAIR, KIB(256), MIB(16));
    break;
  case ROM_DEV_BUF_128M:
    set_rom(ROM_KIND_BUFFERED_PAIR, KIB(256), paged_pair_size(e, 0));
    break;
  case ROM_DEV_BUF2_64M:
    set_rom(ROM_KIND_BUFFERED_PAIR, KIB(256), second_set_answers(ROM_CHIPS_AT_16M, e, e) ? MIB(32) : MIB(16));
    clear_block_locks();
    break;
  case ROM_DEV_BUF2_128M:
    /* Locked at power-up: every page of a paged cartridge, not only those
     * the size probe saw */
    set_rom(ROM_KIND_BUFFERED_PAIR, KIB(256), paged_pair_size(e, 1));
    clear_block_locks_paged();
    break;
  case ROM_DEV_BUF2_256M:
    set_rom(ROM_KIND_BUFFERED_PAIR, KIB(256), MIB(32));
    clear_block_locks();
    break;
  case ROM_DEV_32M_TOP:
  case ROM_DEV_32M_BOTTOM:
    top_boot = e == ROM_DEV_32M_TOP;
    set_rom(ROM_KIND_PARAM_PAIR, KIB(128),
            second_set_answers(ROM_CHIPS_AT_8M, ROM_DEV_32M_TOP, ROM_DEV_32M_BOTTOM) ? MIB(16) : MIB(8));
    break;
  case ROM_DEV2_32M_TOP:
  case ROM_DEV2_32M_BOTTOM: {
    top_boot = e == ROM_DEV2_32M_TOP;
    u32 size = MIB(8);
    if (second_set_answers(ROM_CHIPS_AT_8M, ROM_DEV2_32M_TOP, ROM_DEV2_32M_BOTTOM))
      size = second_set_answers(ROM_CHIPS_AT_16M, ROM_DEV2_32M_TOP, ROM_DEV2_32M_BOTTOM) ? MIB(32) : MIB(16);
    set_rom(ROM_KIND_PARAM_PAIR, KIB(128), size);
    clear_block_locks();
    break;
  }
  case ROM_DEV_64M_TOP:
  case ROM_DEV_64M_BOTTOM:
    top_boot = e == ROM_DEV_64M_TOP;
    set_rom(ROM_KIND_PARAM_PAIR, KIB(128),
            second_set_answers(ROM_CHIPS_AT_16M, ROM_DEV_64M_TOP, ROM_DEV_64M_BOTTOM) ? MIB(32) : MIB(16));
    clear_block_locks();
    break;
  default: /* not a known pair: stays ROM_KIND_NONE */
    break;
  }
}

/* Maker 0x89: a single chip by its device code d, else a pair */
COLD static void identify_maker_sr(u16 d)
{
  switch (d) {
  case ROM_DEV_BUF_32M:
    set_rom(ROM_KIND_BUFFERED, KIB(128), MIB(4));
    return;
  case ROM_DEV_BUF_64M:
    set_rom(ROM_KIND_BUFFERED, KIB(128), MIB(8));
    return;
  case ROM_DEV_BUF_128M:
    set_rom(ROM_KIND_BUFFERED, KIB(128), MIB(16));
    return;
  case ROM_DEV_32M_BOTTOM:
    set_rom(ROM_KIND_PARAM_4M, KIB(64), MIB(4));
    return;
  default:
    identify_pair(bus_read16(ROM_BASE + ROM_ID_PAIR_DEVICE));
    return;
  }
}

/* Maker 0x1C: a pair whose even chip reads 0x20, a second pair at 8 MiB */
COLD static void identify_maker_1c(void)
{
  if (bus_read16(ROM_BASE + ROM_ID_PAIR_DEVICE) != ROM_DEV_1C_PAIR)
    return;
  top_boot = 1;
  set_rom(ROM_KIND_PAGE_PAIR, KIB(128),
          second_set_answers(ROM_CHIPS_AT_8M, ROM_DEV_1C_PAIR, ROM_DEV_1C_PAIR) ? MIB(16) : MIB(8));
}

/* Bit 0 is left out: past a ROM of up to 16 MiB an EEPROM drives it with
 * its ready bit, and the rest of the bus floats as it does with no chip. */
COLD static int shows_open_bus(u32 address)
{
  for (u32 i = 0; i < OPEN_BUS_PROBE_HALFWORDS; i++)
    if ((bus_read16(address + 2 * i) | 1) != (i | 1))
      return 0;
  return 1;
}

COLD static int repeats_start(u32 offset)
{
  for (u32 i = 0; i < MIRROR_PROBE_HALFWORDS; i++)
    if (bus_read16(ROM_BASE + offset + 2 * i) != bus_read16(ROM_BASE + 2 * i))
      return 0;
  return 1;
}

/* The first megabyte that reads as an empty bus ends the ROM, or the first
 * power of two where the ROM's start shows again: a board that decodes only
 * the ROM's address lines repeats it through the window. */
COLD static u32 mask_rom_size(void)
{
  for (u32 offset = 0; offset < ROM_WINDOW_SIZE; offset += OPEN_BUS_STEP) {
    if (shows_open_bus(ROM_BASE + offset))
      return offset;
    if (offset != 0 && (offset & (offset - 1)) == 0 && repeats_start(offset))
      return offset;
  }
  return ROM_WINDOW_SIZE;
}

/* A mask ROM ignores the identifier command and still shows its header */
COLD static void identify_mask_rom(void)
{
  static const u8 logo[CART_LOGO_PROBE_BYTES] = {CART_LOGO_START};
  for (u32 i = 0; i < CART_LOGO_PROBE_BYTES; i += 2) {
    u16 expected = (u16)(logo[i] | logo[i + 1] << 8);
    if (bus_read16(ROM_BASE + CART_LOGO_OFFSET + i) != expected)
      return;
  }
  rom_kind = ROM_KIND_MASK;
  rom_size = mask_rom_size();
}

/* A chip that a reset of the console caught in its unlock bypass stays in
 * it and takes only the bypass reset, 0x90 then 0x00. The bare 0x90 above
 * was the first half of it: 0x00 ends it; from the bypass itself the whole
 * reset follows. A chip in read mode ignores all three (no unlock before
 * them). */
COLD static void leave_bypass(void)
{
  bus_write16(ROM_BASE, JEDEC_CMD_BYPASS_RESET_2);
  jedec_bypass_leave();
}

COLD static void identify_jedec(void)
{
  leave_bypass();
  jedec_unlock();
  bus_write16(JEDEC_ADDR_1, JEDEC_CMD_READ_ID);
  if (bus_read16(ROM_BASE + ROM_ID_MAKER) != ROM_MAKER_JEDEC)
    return;
  u16 device = bus_read16(ROM_BASE + ROM_ID_DEVICE);
  if (device == ROM_DEV_JEDEC_16M)
    set_rom(ROM_KIND_JEDEC_2M, KIB(64), MIB(2));
  else if (device == ROM_DEV_JEDEC_8M)
    set_rom(ROM_KIND_JEDEC_1M, KIB(64), MIB(1));
}

COLD void identify_flash(void)
{
  rom_kind = ROM_KIND_NONE;
  top_boot = 0;
  erase_block = 0;
  rom_size = 0;

  bus_write16(ROM_BASE, SR_CMD_READ_ID);
  u16 maker = bus_read16(ROM_BASE + ROM_ID_MAKER);
  u16 device = bus_read16(ROM_BASE + ROM_ID_DEVICE);

  if (maker == ROM_MAKER_SR) {
    identify_maker_sr(device);
  } else if (maker == ROM_MAKER_SR_B0) {
    if (device == ROM_DEV_B0_64M)
      set_rom(ROM_KIND_PARAM_8M, KIB(64), MIB(8));
  } else if (maker == ROM_MAKER_SR_1C) {
    identify_maker_1c();
  } else {
    identify_mask_rom();
  }

  /* After a mask ROM too: a JEDEC chip ignores the bare identifier command
   * above and shows the header it holds, like a mask ROM. */
  if (rom_kind == ROM_KIND_NONE || rom_kind == ROM_KIND_MASK)
    identify_jedec();

  /* A chip of today that none of the known codes names may still describe
   * itself: a mask ROM ignores the query and keeps its kind. */
  if (rom_kind == ROM_KIND_NONE || rom_kind == ROM_KIND_MASK)
    cfi_identify();
}
