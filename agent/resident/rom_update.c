/* Flash ROM block update: the host sends what one erase block (or its
 * start) should hold, and the agent writes only what it must. A block that
 * already holds the data is left alone; data that only clears bits is
 * programmed over the old contents, unit by unit where a unit changes;
 * anything else erases the block and programs it again (always so when
 * the host asks for a rewrite). The bytes of the block beyond the range
 * keep their contents either way. Data that disagrees with its check word
 * writes nothing. */
#include "contract/wire.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/cfi_flash.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"
#include "agent/resident/rom_erase.h"
#include "agent/resident/rom_program.h"
#include "agent/resident/rom_status.h"
#include "agent/resident/state.h"
#include "agent/resident/write_check.h"

enum change { SAME, CLEARS_BITS, NEEDS_ERASE };

/* The halfwords one program step of the kind writes, aligned to their
 * count: a buffer, a page, the word of each chip of a pair, or one word */
static u32 program_unit(void)
{
  switch (rom_kind) {
  case ROM_KIND_BUFFERED:
    return SR_BUFFER_HALFWORDS;
  case ROM_KIND_BUFFERED_PAIR:
    return 2 * SR_BUFFER_HALFWORDS;
  case ROM_KIND_PARAM_PAIR:
    return 2;
  case ROM_KIND_PAGE_PAIR:
    return SR_PAGE_HALFWORDS;
  case ROM_KIND_CFI:
    return cfi_program_unit();
  default:
    return 1;
  }
}

/* One erase block of a flash ROM, from its start, within the ROM */
static int takes_update(u32 offset, u32 bytes)
{
  if (erase_block == 0) /* no flash: nothing is written */
    return 0;
  return (offset & (erase_block - 1)) == 0 && bytes <= erase_block && offset < rom_size &&
         bytes <= rom_size - offset;
}

/* w: halfword index in the window; the chips read their array */
static enum change compare(u32 w, const u16 *data, u32 count)
{
  enum change change = SAME;
  for (u32 i = 0; i < count; i++) {
    u16 old = chip_read(w + i);
    if (data[i] == old)
      continue;
    if (data[i] & ~old) /* a 0 bit would have to become 1 */
      return NEEDS_ERASE;
    change = CLEARS_BITS;
  }
  return change;
}

static int rom_holds(u32 w, const u16 *data, u32 count)
{
  for (u32 i = 0; i < count; i++)
    if (chip_read(w + i) != data[i])
      return 0;
  return 1;
}

static int all_erased(const u16 *data, u32 count)
{
  for (u32 i = 0; i < count; i++)
    if (data[i] != FLASH_ERASED)
      return 0;
  return 1;
}

/* Halfwords [from, to) of the buffer take what the ROM holds there */
static void keep_old(u32 w, u16 *data, u32 from, u32 to)
{
  for (u32 i = from; i < to; i++)
    data[i] = chip_read(w + i);
}

/* The update's data is all in the buffer before the ROM is touched: the
 * programming has nothing to pull. */
static void data_in_buffer(u32 words)
{
  (void)words;
}

/* h: ROM-wide halfword index of the block. Each unit that changes is
 * programmed whole: its unchanged halfwords program their own value. The
 * chips read their array again before the next unit is compared. */
static void program_changes(u32 h, const u16 *data, u32 halfwords, u32 unit)
{
  u32 w = h & WINDOW_HALFWORD_MASK;
  for (u32 i = 0; i < halfwords; i += unit) {
    if (rom_holds(w + i, data + i, unit))
      continue;
    program_flash(h + i, data + i, unit, data_in_buffer);
    read_array_reset(w + i);
  }
}

/* After the erase every unit reads erased: units that stay so are skipped */
static void program_erased(u32 h, const u16 *data, u32 halfwords, u32 unit)
{
  for (u32 i = 0; i < halfwords; i += unit)
    if (!all_erased(data + i, unit))
      program_flash(h + i, data + i, unit, data_in_buffer);
}

static u32 round_up(u32 n, u32 unit)
{
  return (n + unit - 1) & ~(unit - 1);
}

static u32 flash_update(u32 offset, u32 bytes, int rewrite)
{
  if (!takes_update(offset, bytes))
    return UPDATE_REFUSED;

  u16 *data = (u16 *)data_buffer;
  u32 h = offset >> 1;
  u32 w = h & WINDOW_HALFWORD_MASK;
  u32 count = (bytes >> 1) + (bytes & 1); /* halfwords the range touches */
  u32 unit = program_unit();
  select_rom_page((u16)ROM_PAGE_OF_OFFSET(offset));
  read_array_reset(w);
  /* An odd range ends inside a halfword whose high byte is not its own */
  if (bytes & 1)
    data_buffer[bytes] = (u8)(chip_read(w + count - 1) >> 8);

  enum change change = rewrite ? NEEDS_ERASE : compare(w, data, count);
  if (change == SAME)
    return UPDATE_KEPT;

  u32 reply;
  if (change == CLEARS_BITS) {
    u32 end = round_up(count, unit);
    keep_old(w, data, count, end);
    program_changes(h, data, end, unit);
    reply = UPDATE_PROGRAMMED;
  } else {
    u32 end = erase_block >> 1;
    keep_old(w, data, count, end);
    erase_at(offset);
    program_erased(h, data, end, unit);
    reply = UPDATE_ERASED;
  }
  read_array_reset(w);
  return reply;
}

/* The data is received whole and checked before the ROM is touched */
void req_flash_update(u32 offset, u32 bytes, u32 check)
{
  u32 length = bytes & ~UPDATE_REWRITE;
  recv_words(words_for_bytes(length), data_buffer);
  u32 reply = WRITE_CHECK_FAILED;
  if (write_check(offset, bytes) == check)
    reply = flash_update(offset, length, (bytes & UPDATE_REWRITE) != 0);
  send_words(1, &reply);
}
