/* Flash ROM programming by kind: 16-halfword buffered writes and word
 * program on one status-register chip, 32-halfword buffered writes and
 * 256-halfword page programs on pairs, paired word program, JEDEC word
 * program. The link delivers the next data words in the time each step
 * waits for the chips (the pull after the data went out). Indexes are
 * halfwords within the page the mapper shows. */
#include "contract/hw/rom_flash.h"
#include "agent/resident/cfi_flash.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/jedec_bypass.h"
#include "agent/resident/mapper.h"
#include "agent/resident/rom_fill.h"
#include "agent/resident/rom_program.h"
#include "agent/resident/rom_status.h"
#include "agent/resident/wait_clock.h"
#include "agent/resident/word_steps.h"
#include "agent/resident/state.h"

#define PAIR_BUFFER_HALFWORDS (2 * SR_BUFFER_HALFWORDS) /* 16 for each chip */
#define WORDS_FOR_HALFWORDS(n) ((n) / 2)

/* Halfword i of the range; past its end the erased value, which programs
 * no bit: whole buffers of kinds 3 and 9 and the pair of kind 8 change
 * nothing outside the range. */
static inline u16 data_at(const u16 *s, u32 i, u32 c)
{
  return i < c ? s[i] : FLASH_ERASED;
}

static void write_run(u32 a, const u16 *s, u32 i, u32 n, u32 c)
{
  if (c - i >= n) {
    fill_halfwords(a, s + i, n);
    return;
  }
  for (u32 j = 0; j < n; j++)
    chip_write(a + j, data_at(s, i + j, c));
}

/* n is a multiple of 16. A buffer that lies whole in the range, at an even
 * halfword and from a word-aligned source, goes out in bursts (rom_fill.S):
 * the data buffer sits on the 16-bit external RAM bus, and its reads and
 * the chips' writes are what a buffer fill costs. The link's next word is
 * taken halfway, so that it waits for half a fill at most; the caller
 * pulls the step's other words. */
static void write_data(u32 a, const u16 *s, u32 i, u32 n, u32 c, data_pull pull)
{
  write_run(a, s, i, n / 2, c);
  pull(1);
  write_run(a + n / 2, s, i + n / 2, n / 2, c);
}

/* 0xE8 makes the chip show whether its write buffer is free, and is given
 * again while it is not. Once it is, the chip takes its next write as the
 * count: so no other command comes between, and each chip of a pair is
 * claimed on its own. */
static int claim_buffer(u32 a)
{
  wait_clock_start();
  do {
    chip_write(a, SR_CMD_BUFFERED_WRITE);
    if (chip_read(a) & SR_STATUS_READY)
      return 1;
  } while (wait_clock_ticks() < FLASH_PROGRAM_BOUND);
  flash_fail(a, FLASH_FAIL_PROGRAM | FLASH_FAIL_TIMEOUT);
  return 0;
}

/* The caller clears the status before the first step: a step that ends
 * with error bits clears them, so that the bits read at the end of each
 * step are its own (rom_erase.c). After the program command the chip
 * shows its status without a read-status command. Most steps end within
 * three reads, and the next command follows at once; a longer
 * one, or one with error bits (they stay until cleared), goes to the
 * bounded wait, which reads the status again. */
static inline void word_program(u32 a, u16 value, data_pull pull)
{
  chip_write(a, SR_CMD_PROGRAM);
  chip_write(a, value);
  pull(1);
  u16 status = chip_read(a);
  if ((status & SR_STATUS_READY) == 0)
    status = chip_read(a);
  if ((status & SR_STATUS_READY) == 0)
    status = chip_read(a);
  if ((status & (SR_STATUS_READY | SR_STATUS_ERRORS)) != SR_STATUS_READY)
    sr_poll(a, FLASH_FAIL_PROGRAM);
}

/* Kind 2: a buffered write where 16 halfwords start at a multiple of 16,
 * word program before and after */
static void program_buffered(u32 h, const u16 *s, u32 c, data_pull pull)
{
  u32 i = 0;
  while (i < c) {
    u32 a = h + i;
    if (a % SR_BUFFER_HALFWORDS != 0 || c - i < SR_BUFFER_HALFWORDS) {
      chip_write(a, SR_CMD_CLEAR_STATUS);
      word_program(a, s[i], pull);
      i++;
      continue;
    }
    u32 last = a + SR_BUFFER_HALFWORDS - 1;
    chip_write(a, SR_CMD_CLEAR_STATUS);
    if (!claim_buffer(a))
      return;
    chip_write(a, SR_BUFFER_COUNT(SR_BUFFER_HALFWORDS));
    write_run(a, s, i, SR_BUFFER_HALFWORDS, c);
    chip_write(last, SR_CMD_CONFIRM);
    pull(WORDS_FOR_HALFWORDS(SR_BUFFER_HALFWORDS));
    sr_wait(a, FLASH_FAIL_PROGRAM); /* a failure names the buffer's start */
    i += SR_BUFFER_HALFWORDS;
  }
}

/* The same command to both chips of the pair at a: from an even halfword
 * one 32-bit store, which reaches the bus as two halfword writes, one to
 * each chip */
static void pair_command(u32 a, u16 value)
{
  if ((a & 1) == 0) {
    *(volatile u32 *)(ROM_BASE + 2 * a) = value * 0x10001u;
    return;
  }
  chip_write(a, value);
  chip_write(a + 1, value);
}

/* What both chips of the pair at a show, the first in the low half: from
 * an even halfword one 32-bit load, two halfword reads of which the second
 * is sequential */
static u32 pair_read(u32 a)
{
  if ((a & 1) == 0)
    return *(const volatile u32 *)(ROM_BASE + 2 * a);
  return chip_read(a) | (u32)chip_read(a + 1) << 16;
}

/* Both buffers of the pair: each chip that showed its buffer busy at the
 * first 0xE8 is claimed on its own (the other one takes its next write as
 * the count) */
static int claim_pair(u32 a)
{
  pair_command(a, SR_CMD_BUFFERED_WRITE);
  u32 both = pair_read(a);
  u16 first = (u16)both, second = (u16)(both >> 16);
  if ((first & SR_STATUS_READY) == 0 && !claim_buffer(a))
    return 0;
  return (second & SR_STATUS_READY) != 0 || claim_buffer(a + 1);
}

/* Both statuses of a pair ready, neither with error bits */
static inline int pair_ready_clean(u16 first, u16 second)
{
  return (first & second & SR_STATUS_READY) != 0 && ((first | second) & SR_STATUS_ERRORS) == 0;
}

/* Both chips of the pair at a ready without error bits at the first look:
 * onto blank flash the link's words of a step take longer than the chips'
 * program, and the wait is over without starting its clock */
static int pair_done_clean(u32 a)
{
  u32 both = pair_read(a);
  return pair_ready_clean((u16)both, (u16)(both >> 16));
}

/* Kind 3: both chips take 16 halfwords of each 32 into their buffers. The
 * status is cleared once: a step that ends with error bits clears them
 * (rom_status.c), and after the confirm the chips show their status
 * without a read-status command. */
static void program_buffered_pair(u32 h, const u16 *s, u32 c, data_pull pull)
{
  pair_command(h, SR_CMD_CLEAR_STATUS);
  for (u32 i = 0; i < c; i += PAIR_BUFFER_HALFWORDS) {
    u32 a = h + i;
    u32 last = a + PAIR_BUFFER_HALFWORDS - 2; /* the last halfword of each chip */
    if (!claim_pair(a))
      return;
    pair_command(a, SR_BUFFER_COUNT(SR_BUFFER_HALFWORDS));
    write_data(a, s, i, PAIR_BUFFER_HALFWORDS, c, pull);
    pair_command(last, SR_CMD_CONFIRM);
    pull(WORDS_FOR_HALFWORDS(PAIR_BUFFER_HALFWORDS) - 1);
    if (!pair_done_clean(a) && sr_poll_pair(a, FLASH_FAIL_PROGRAM) && flash_stalled)
      return;
  }
}

/* Kind 9: 256 halfwords of the pair, 128 for each chip, in one command */
static void program_pages(u32 h, const u16 *s, u32 c, data_pull pull)
{
  for (u32 i = 0; i < c; i += SR_PAGE_HALFWORDS) {
    u32 a = h + i;
    /* These parts take no program command while error bits stand */
    chip_write(a, SR_CMD_CLEAR_STATUS);
    chip_write(a + 1, SR_CMD_CLEAR_STATUS);
    chip_write(a, SR_CMD_PROGRAM_PAGE);
    chip_write(a + 1, SR_CMD_PROGRAM_PAGE);
    write_run(a, s, i, SR_PAGE_HALFWORDS, c);
    pull(WORDS_FOR_HALFWORDS(SR_PAGE_HALFWORDS));
    if (sr_poll_pair(a, FLASH_FAIL_PROGRAM))
      return;
  }
}

/* Kinds 4 and 7: kind 4's blocks are locked at power-up, and each block
 * the range reaches is unlocked first */
static void program_words(u32 h, const u16 *s, u32 c, data_pull pull)
{
  for (u32 i = 0; i < c;) {
    unlock_block(h + i);
    chip_write(h + i, SR_CMD_CLEAR_STATUS); /* the unlock's outcome is no program's */
    u32 end = i + UNLOCK_STEP_HALFWORDS - ((h + i) & (UNLOCK_STEP_HALFWORDS - 1));
    if (end > c)
      end = c;
    for (; i < end; i++)
      word_program(h + i, s[i], pull);
  }
}

/* Kind 8: one halfword to each chip of the pair at a time, with 32-bit
 * stores (word_steps.S): the pieces of a stream start at even halfwords
 * and word-aligned data, and a range that does not is refused. The status
 * is cleared once: a step that ends with error bits ends the range, so
 * every later step starts clean, and the chips' short program time is not
 * stretched by two more writes a step. A step the loop leaves unfinished
 * goes through the bounded wait. */
static void program_word_pairs(u32 h, const u16 *s, u32 c, data_pull pull)
{
  if (((h | c) & 1) != 0 || ((u32)s & 3) != 0) {
    flash_fail(h, FLASH_FAIL_PROGRAM);
    return;
  }
  pair_command(h, SR_CMD_CLEAR_STATUS);
  const u32 *words = (const u32 *)s;
  for (u32 i = 0, pairs = c / 2; i < pairs; i++) {
    i += pair_steps(ROM_BASE + 2 * h + 4 * i, words + i, pairs - i, pull);
    if (sr_poll_pair(h + 2 * i, FLASH_FAIL_PROGRAM))
      return;
  }
}

/* Kinds 5 and 6: the chip shows other values until the halfword is in. A
 * link word is two halfwords, so one is pulled while every second
 * halfword programs: the pull fits the chip's program time, where two
 * would not. The chip is put in its unlock bypass for the range, where a
 * step is two bus writes instead of four: between an 11 us program and
 * the next, those writes are what the chip waits for. The steps run in
 * word_steps.S; one that has not read back at its second read starts the
 * bounded wait. A halfword that did not go in after a bypass step is tried
 * once more with the whole sequence (jedec_bypass.c). */
static void program_jedec(u32 h, const u16 *s, u32 c, data_pull pull)
{
  int bypass = !jedec_four_writes, outcome = 0;
  if (bypass)
    jedec_bypass_enter();
  for (u32 i = 0; i < c && outcome == 0; i++) {
    u32 a = ROM_BASE + 2 * (h + i);
    if (!bypass) {
      i += jedec_steps(a, s + i, c - i, pull);
      outcome = jedec_wait_data(h + i, s[i]);
      continue;
    }
    i += bypass_steps(a, s + i, c - i, pull);
    outcome = jedec_poll_data(h + i, s[i], FLASH_PROGRAM_BOUND, h + i);
    if (outcome == JEDEC_STOPPED) {
      outcome = jedec_unlocked_retry(h + i, s[i]);
      bypass = 0; /* the retry left it */
    }
  }
  if (bypass)
    jedec_bypass_leave();
  if (outcome == 0 && ((h + c) & 1)) /* the last halfword's step pulled nothing */
    pull(1);
}

void program_flash(u32 h, const u16 *s, u32 c, data_pull pull)
{
  select_rom_page(ROM_PAGE_OF_HALFWORD(h));
  h &= WINDOW_HALFWORD_MASK;
  if (flash_stalled) /* a chip may still be busy: it takes no command */
    return;
  switch (rom_kind) {
  case ROM_KIND_BUFFERED:
    program_buffered(h, s, c, pull);
    break;
  case ROM_KIND_BUFFERED_PAIR:
    program_buffered_pair(h, s, c, pull);
    break;
  case ROM_KIND_PARAM_8M:
  case ROM_KIND_PARAM_4M:
    program_words(h, s, c, pull);
    break;
  case ROM_KIND_JEDEC_1M:
  case ROM_KIND_JEDEC_2M:
    program_jedec(h, s, c, pull);
    break;
  case ROM_KIND_PARAM_PAIR:
    program_word_pairs(h, s, c, pull);
    break;
  case ROM_KIND_PAGE_PAIR:
    program_pages(h, s, c, pull);
    break;
  case ROM_KIND_CFI:
    cfi_program(h, s, c, pull);
    break;
  default: /* no chip, or a mask ROM: nothing takes data */
    break;
  }
}
