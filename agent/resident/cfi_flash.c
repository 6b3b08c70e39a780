/* ROM kind 10 (cfi_flash.h). Commands pass through the board's wiring, so
 * on a board with D0 and D1 swapped every command byte, the buffer's word
 * count and every query, identifier or status read are swapped here; the
 * data halfwords are not: the console reads them back through the same
 * wiring, so a game sees what was written.
 *
 * Two command sets: the AMD one (unlock prefix, data polling) and the
 * status-register one of command sets 0x0001 and 0x0003 (commands at the
 * block, ready and error bits in a status register, blocks that may be
 * locked at power-up). */
#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "contract/hw/rom_flash.h"
#include "agent/resident/bus.h"
#include "agent/resident/cart_clock.h"
#include "agent/resident/cfi_flash.h"
#include "agent/resident/cold.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"
#include "agent/resident/rom_fill.h"
#include "agent/resident/rom_status.h"
#include "agent/resident/sizes.h"
#include "agent/resident/state.h"
#include "agent/resident/wait_clock.h"

/* The query table, as word addresses (one byte in each low half) */
#define CFI_QUERY_ADDR (ROM_BASE + 2 * 0x55)
#define CFI_CMD_QUERY 0x98
#define Q_STRING 0x10
#define Q_COMMAND_SET 0x13
#define Q_WORD_TYP 0x1F  /* 2^N us; then buffer us, block erase ms, chip erase ms */
#define Q_WORD_MAX 0x23  /* typical x 2^N, in the same order */
#define Q_DEVICE_SIZE 0x27
#define Q_BUFFER 0x2A    /* 2^N bytes */
#define Q_REGIONS 0x2C
#define Q_REGION_0 0x2D  /* blocks less one (2 bytes), block bytes / 256 (2 bytes) */
/* Identifier mode of the status-register sets: word 2 of a block reads
 * its lock bit */
#define SR_ID_BLOCK_LOCK 2
#define SR_BLOCK_LOCKED 0x0001

#define AMD_CMD_WRITE_BUFFER 0x25
#define AMD_CMD_BUFFER_CONFIRM 0x29
#define AMD_DEVICE_MULTI_WORD 0x227E /* the code goes on at words 0x0E and 0x0F */
#define AMD_ID_DEVICE_2 0x0E
#define AMD_ID_DEVICE_3 0x0F

/* Larger buffers are used in parts of this many halfwords: the data of a
 * streamed chunk runs this far ahead of the programming (rom_write.c) */
#define CFI_MAX_BUFFER_HALFWORDS 256
/* Blocks smaller than this would break the 16 KiB chunks of a write */
#define CFI_MIN_ERASE_BLOCK KIB(16)

static struct {
  u32 swap;            /* the board swaps D0 and D1 */
  u32 sr;              /* the status-register command sets */
  u32 unlocked;        /* 1 + the block last found unlocked, 0: none */
  u32 sr_at;           /* halfword of the last status-register command */
  u32 buffer;          /* halfwords of one buffer program, 0: none */
  u32 word_bound, buffer_bound, erase_bound; /* timer ticks */
  u32 info[CFI_INFO_WORDS];
} cfi;

static u16 wired(u16 v)
{
  if (!cfi.swap)
    return v;
  return (u16)((v & ~3u) | (v & 1u) << 1 | (v & 2u) >> 1);
}

static void command(u32 address, u16 value)
{
  bus_write16(address, wired(value));
}

static void unlock(void)
{
  command(JEDEC_ADDR_1, JEDEC_UNLOCK_1);
  command(JEDEC_ADDR_2, JEDEC_UNLOCK_2);
}

static u16 read_wired(u32 word)
{
  return wired(bus_read16(ROM_BASE + 2 * word));
}

/* A byte of the table, or two in little-endian order */
static u32 q8(u32 word)
{
  return read_wired(word) & 0xFF;
}

static u32 q16(u32 word)
{
  return q8(word) | q8(word + 1) << 8;
}

COLD static int reads_qry(void)
{
  return read_wired(Q_STRING) == 'Q' && read_wired(Q_STRING + 1) == 'R' && read_wired(Q_STRING + 2) == 'Y';
}

/* A time the table gives as 2^typ units, times 2^max at most; where the
 * table leaves the typical time out (or gives one no part has), the
 * longest the described chips take */
COLD static u32 max_time(u32 word, u32 fallback)
{
  u32 typ = q8(Q_WORD_TYP + word);
  u32 max = q8(Q_WORD_MAX + word);
  /* Past 2^16 units or 2^8 times that, no part: a table read wrongly */
  if (typ == 0 || typ > 16 || max > 8)
    return fallback;
  return (1u << typ) << max;
}

/* us as timer ticks (x 16384 / 10^6, rounded up: 1/64 + 1/1024 + 1/2048
 * is a little more), and a quarter more for the spread of the parts */
COLD static u32 bound_ticks(u32 us)
{
  u32 ticks = (us >> 6) + (us >> 10) + (us >> 11) + 1;
  return ticks + (ticks >> 2);
}

COLD static u32 largest_region(void)
{
  u32 largest = 0;
  u32 n = cfi.info[4];
  for (u32 i = 0; i < n; i++) {
    u32 bytes = (cfi.info[5 + i] >> 16) << 8;
    if (bytes > largest)
      largest = bytes;
  }
  return largest;
}

/* The query mode is left with the reset of the abort sequence, which
 * every state takes */
COLD static int read_tables(void)
{
  u32 set = q16(Q_COMMAND_SET);
  if (set != CFI_SET_AMD && set != CFI_SET_INTEL_EXTENDED && set != CFI_SET_INTEL_STANDARD)
    return 0;
  cfi.sr = set != CFI_SET_AMD;
  u32 size_log = q8(Q_DEVICE_SIZE);
  u32 regions = q8(Q_REGIONS);
  if (size_log < 16 || size_log > 31 || regions == 0 || regions > CFI_MAX_REGIONS)
    return 0;
  rom_size = size_log >= ROM_WINDOW_SHIFT ? ROM_WINDOW_SIZE : 1u << size_log;

  cfi.info[4] = regions;
  for (u32 i = 0; i < regions; i++)
    cfi.info[5 + i] = (q16(Q_REGION_0 + 4 * i) + 1) | q16(Q_REGION_0 + 4 * i + 2) << 16;
  erase_block = largest_region();
  if (erase_block < CFI_MIN_ERASE_BLOCK)
    return 0;

  u32 buffer_log = q16(Q_BUFFER);
  u32 buffer_typ = q8(Q_WORD_TYP + 1);
  cfi.buffer = 0;
  if (buffer_typ != 0 && buffer_log >= 2 && buffer_log < 16) {
    cfi.buffer = (1u << buffer_log) >> 1;
    if (cfi.buffer > CFI_MAX_BUFFER_HALFWORDS)
      cfi.buffer = CFI_MAX_BUFFER_HALFWORDS;
  }
  cfi.info[3] = cfi.buffer * 2;
  u32 word_us = max_time(0, FLASH_PROGRAM_MAX_US);
  u32 buffer_us = cfi.buffer ? max_time(1, FLASH_PROGRAM_MAX_US) : 0;
  u32 erase_ms = max_time(2, (cfi.sr ? FLASH_SR_ERASE_MAX_US : FLASH_JEDEC_ERASE_MAX_US) / 1000);
  cfi.word_bound = bound_ticks(word_us);
  cfi.buffer_bound = bound_ticks(buffer_us);
  cfi.erase_bound = (erase_ms * 17) + ((erase_ms * 17) >> 2); /* 16.4 ticks a ms, and a quarter */
  cfi.info[9] = word_us;
  cfi.info[10] = buffer_us;
  cfi.info[11] = erase_ms;
  cfi.info[2] = set | (cfi.swap ? CFI_INFO_D0D1 : 0);
  return 1;
}

COLD static void read_ids(void)
{
  if (cfi.sr) {
    command(ROM_BASE, SR_CMD_READ_ID);
    cfi.info[0] = read_wired(ROM_ID_MAKER / 2) | (u32)read_wired(ROM_ID_DEVICE / 2) << 16;
    cfi_read_array();
    return;
  }
  unlock();
  command(JEDEC_ADDR_1, JEDEC_CMD_READ_ID);
  u32 device = read_wired(ROM_ID_DEVICE / 2);
  cfi.info[0] = read_wired(ROM_ID_MAKER / 2) | device << 16;
  if (device == AMD_DEVICE_MULTI_WORD)
    cfi.info[1] = read_wired(AMD_ID_DEVICE_2) | (u32)read_wired(AMD_ID_DEVICE_3) << 16;
  cfi_read_array();
}

/* A status-register chip keeps its error bits through read mode: the
 * stray writes of the probes before (the JEDEC unlock, 0xF0) set them.
 * Parts split into partitions keep a mode in each: the one last
 * commanded is set back too. */
void cfi_read_array(void)
{
  if (cfi.sr) {
    command(ROM_BASE + 2 * cfi.sr_at, SR_CMD_CLEAR_STATUS);
    command(ROM_BASE + 2 * cfi.sr_at, SR_CMD_READ_ARRAY);
    command(ROM_BASE, SR_CMD_CLEAR_STATUS);
    command(ROM_BASE, SR_CMD_READ_ARRAY);
    return;
  }
  unlock();
  command(ROM_BASE, JEDEC_CMD_READ_ARRAY);
}

COLD int cfi_identify(void)
{
  for (u32 i = 0; i < CFI_INFO_WORDS; i++)
    cfi.info[i] = 0;
  /* Read mode first (an autoselect probe may have left the chip in
   * identifier mode); 0xF0 and 0x98 read the same through either wiring */
  bus_write16(ROM_BASE, JEDEC_CMD_READ_ARRAY);
  bus_write16(CFI_QUERY_ADDR, CFI_CMD_QUERY);
  cfi.swap = 0;
  cfi.sr = 0;
  cfi.unlocked = 0;
  cfi.sr_at = 0;
  if (!reads_qry()) {
    cfi.swap = 1;
    if (!reads_qry()) {
      bus_write16(ROM_BASE, JEDEC_CMD_READ_ARRAY);
      return 0;
    }
  }
  u32 size = rom_size, block = erase_block;
  int ok = read_tables();
  cfi_read_array();
  if (!ok) {
    cfi.sr = 0;
    rom_size = size;
    erase_block = block;
    for (u32 i = 0; i < CFI_INFO_WORDS; i++)
      cfi.info[i] = 0;
    return 0;
  }
  read_ids();
  rom_kind = ROM_KIND_CFI;
  top_boot = 0;
  return 1;
}

/* The size of the sector holding byte offset o, from the regions */
static u32 sector_bytes_at(u32 o)
{
  u32 start = 0;
  for (u32 i = 0; i < cfi.info[4]; i++) {
    u32 bytes = (cfi.info[5 + i] >> 16) << 8;
    u32 span = (cfi.info[5 + i] & 0xFFFF) * bytes;
    if (o - start < span)
      return bytes;
    start += span;
  }
  return erase_block;
}

/* ---- Status-register command sets ---- */

/* The status at h once the chip is ready, or a failure recorded at
 * `report`: the error bits (erase, program, supply, locked block) stay
 * until cleared, and are cleared here so the next operation starts clean */
static int sr_wait_for(u32 h, u32 op, u32 bound, u32 report)
{
  wait_clock_start();
  do {
    erase_pass_run(op);
    command(ROM_BASE + 2 * h, SR_CMD_READ_STATUS);
    u16 status = read_wired(h);
    if (status & SR_STATUS_READY) {
      if ((status & SR_STATUS_ERRORS) == 0)
        return 0;
      flash_fail(report, op | (status & FLASH_FAIL_STATUS_MASK));
      command(ROM_BASE + 2 * h, SR_CMD_CLEAR_STATUS);
      return 1;
    }
  } while (wait_clock_ticks() < bound);
  flash_fail(report, op | FLASH_FAIL_TIMEOUT);
  return 1;
}

/* The first halfword of the sector holding halfword h, from the regions */
static u32 sector_start(u32 h)
{
  u32 o = 2 * h, start = 0;
  for (u32 i = 0; i < cfi.info[4]; i++) {
    u32 bytes = (cfi.info[5 + i] >> 16) << 8;
    u32 span = (cfi.info[5 + i] & 0xFFFF) * bytes;
    if (o - start < span) {
      /* Every part's blocks are a power of two in size: a mask, and no
       * division in internal work RAM; other sizes are counted off */
      u32 in = o - start;
      if ((bytes & (bytes - 1)) == 0)
        return (start + (in & ~(bytes - 1))) >> 1;
      while (in >= bytes) {
        in -= bytes;
        start += bytes;
      }
      return start >> 1;
    }
    start += span;
  }
  return h;
}

/* Parts whose blocks power up locked take no erase or program there until
 * unlocked; the lock bit is read first, since on parts with non-volatile
 * bits one unlock clears every block's and takes as long as an erase */
static int sr_unlock(u32 h, u32 op)
{
  u32 b = sector_start(h);
  if (cfi.unlocked == b + 1)
    return 0;
  command(ROM_BASE + 2 * b, SR_CMD_READ_ID);
  u16 lock = read_wired(b + SR_ID_BLOCK_LOCK);
  command(ROM_BASE + 2 * b, SR_CMD_READ_ARRAY);
  if (lock & SR_BLOCK_LOCKED) {
    command(ROM_BASE + 2 * b, SR_CMD_LOCK_SETUP);
    command(ROM_BASE + 2 * b, SR_CMD_CONFIRM);
    if (sr_wait_for(b, op, cfi.erase_bound, h))
      return 1;
  }
  cfi.unlocked = b + 1;
  return 0;
}

static int sr_erase_sector(u32 a)
{
  cfi.sr_at = a;
  command(ROM_BASE + 2 * a, SR_CMD_CLEAR_STATUS);
  if (sr_unlock(a, FLASH_FAIL_ERASE))
    return 1;
  command(ROM_BASE + 2 * a, SR_CMD_ERASE_SETUP);
  command(ROM_BASE + 2 * a, SR_CMD_CONFIRM);
  return sr_wait_for(a, FLASH_FAIL_ERASE, cfi.erase_bound, a);
}

/* A word program started; the caller pulls more data, then waits */
static int sr_start_word(u32 a, u16 value)
{
  cfi.sr_at = a;
  command(ROM_BASE + 2 * a, SR_CMD_CLEAR_STATUS);
  if (sr_unlock(a, FLASH_FAIL_PROGRAM))
    return 1;
  command(ROM_BASE + 2 * a, SR_CMD_PROGRAM);
  chip_write(a, value);
  return 0;
}

/* A buffer program of n halfwords started in the same way. 0xE8 is given
 * again until the status says a buffer is free; the next write is then
 * the count. */
static int sr_start_buffer(u32 a, const u16 *s, u32 n)
{
  cfi.sr_at = a;
  command(ROM_BASE + 2 * a, SR_CMD_CLEAR_STATUS);
  if (sr_unlock(a, FLASH_FAIL_PROGRAM))
    return 1;
  wait_clock_start();
  for (;;) {
    command(ROM_BASE + 2 * a, SR_CMD_BUFFERED_WRITE);
    if (read_wired(a) & SR_STATUS_READY)
      break;
    if (wait_clock_ticks() >= cfi.buffer_bound) {
      flash_fail(a, FLASH_FAIL_PROGRAM | FLASH_FAIL_TIMEOUT);
      return 1;
    }
  }
  command(ROM_BASE + 2 * a, (u16)(n - 1));
  fill_halfwords(a, s, n);
  command(ROM_BASE + 2 * a, SR_CMD_CONFIRM);
  return 0;
}

/* ---- Both command sets ---- */

void cfi_erase_block(u32 h)
{
  if (cfi.sr) {
    for (u32 done = 0; done < erase_block;) {
      u32 a = h + (done >> 1);
      if (sr_erase_sector(a))
        break;
      done += sector_bytes_at(2 * a);
    }
    cfi_read_array();
    return;
  }
  for (u32 done = 0; done < erase_block;) {
    u32 a = h + (done >> 1);
    unlock();
    command(JEDEC_ADDR_1, JEDEC_CMD_ERASE_SETUP);
    unlock();
    command(ROM_BASE + 2 * a, JEDEC_CMD_SECTOR_ERASE);
    if (jedec_wait_erase_for(a, cfi.erase_bound))
      break;
    done += sector_bytes_at(2 * a);
  }
  cfi_read_array();
}

static int all_erased(const u16 *s, u32 n)
{
  for (u32 i = 0; i < n; i++)
    if (s[i] != FLASH_ERASED)
      return 0;
  return 1;
}

/* One buffer page at most: n halfwords from a, all in its page. With a
 * pull, the link's next word is taken halfway through the fill, so that
 * the link waits for half a fill at most (the caller pulls the rest). */
static int program_buffer(u32 a, const u16 *s, u32 n, data_pull pull)
{
  unlock();
  command(ROM_BASE + 2 * a, AMD_CMD_WRITE_BUFFER);
  command(ROM_BASE + 2 * a, (u16)(n - 1));
  if (pull) {
    u32 half = (n / 2) & ~7u; /* whole bursts in the first half */
    fill_halfwords(a, s, half);
    pull(1);
    fill_halfwords(a + half, s + half, n - half);
  } else {
    fill_halfwords(a, s, n);
  }
  command(ROM_BASE + 2 * a, AMD_CMD_BUFFER_CONFIRM);
  return 0;
}

/* ---- The clock's port on AMD boards ----
 * A program of ROM bytes 0xC4-0xC9 is also a write of the port's data,
 * direction or control register. Each such halfword is programmed alone,
 * with the port released before and after: its data latch is then low
 * while the direction is written, and the direction all inputs while the
 * data is, so the chip-select never rises and the clock sees no command.
 * The control written can make the port readable, which hides the chip's
 * status there: the toggle bit is watched just below the port. */

int cfi_ignores_port_writes(void)
{
  return rom_kind == ROM_KIND_CFI && !cfi.sr;
}

static int in_port(u32 h)
{
  return h >= CLOCK_PORT_FIRST_HALFWORD && h < CLOCK_PORT_END_HALFWORD;
}

#define PORT_WATCH_HALFWORD (CLOCK_PORT_FIRST_HALFWORD - 1)

/* 0 once bit 6 stops toggling; a failure (recorded at h) when the chip
 * shows its time-out bit while still busy, or the bound passes */
static int wait_toggle(u32 h, u32 bound)
{
  wait_clock_start();
  do {
    u16 first = chip_read(PORT_WATCH_HALFWORD);
    u16 second = chip_read(PORT_WATCH_HALFWORD);
    if (((first ^ second) & JEDEC_STATUS_TOGGLE) == 0)
      return 0;
    if (second & JEDEC_STATUS_TIMED_OUT) {
      if (((chip_read(PORT_WATCH_HALFWORD) ^ chip_read(PORT_WATCH_HALFWORD)) & JEDEC_STATUS_TOGGLE) == 0)
        return 0;
      flash_fail(h, FLASH_FAIL_PROGRAM | (second & FLASH_FAIL_STATUS_MASK));
      chip_write(PORT_WATCH_HALFWORD, JEDEC_CMD_READ_ARRAY);
      return 1;
    }
  } while (wait_clock_ticks() < bound);
  flash_fail(h, FLASH_FAIL_PROGRAM | FLASH_FAIL_TIMEOUT);
  return 1;
}

static int program_port_word(u32 h, u16 value)
{
  clock_port_release();
  unlock();
  command(JEDEC_ADDR_1, JEDEC_CMD_PROGRAM);
  chip_write(h, value);
  if (wait_toggle(h, cfi.word_bound)) {
    /* A chip still busy takes no write */
    if (!flash_stalled)
      clock_port_release();
    return 1;
  }
  clock_port_release();
  if (chip_read(h) != value) {
    /* Bit 6 stopped without the halfword: a protected sector */
    flash_fail(h, FLASH_FAIL_PROGRAM | FLASH_FAIL_PROTECTED);
    return 1;
  }
  return 0;
}

/* n halfwords from a within one buffer page that holds port halfwords:
 * the runs either side of the port by the buffer, the port's one by one */
static int program_port_page(u32 a, const u16 *s, u32 n)
{
  for (u32 j = 0; j < n;) {
    if (in_port(a + j)) {
      if (s[j] != FLASH_ERASED && program_port_word(a + j, s[j]))
        return 1;
      j++;
      continue;
    }
    u32 k = j;
    while (k < n && !in_port(a + k))
      k++;
    if (!all_erased(s + j, k - j)) {
      program_buffer(a + j, s + j, k - j, 0);
      if (jedec_wait_data_for(a + k - 1, s[k - 1], cfi.buffer_bound, a + j)) {
        cfi_read_array();
        return 1;
      }
    }
    j = k;
  }
  return 0;
}

static int touches_port(u32 a, u32 n)
{
  return a < CLOCK_PORT_END_HALFWORD && a + n > CLOCK_PORT_FIRST_HALFWORD;
}

/* Halfwords that stay erased are not programmed: a program of all ones
 * changes no bit */
static int program_words(u32 h, const u16 *s, u32 c, data_pull pull)
{
  for (u32 i = 0; i < c; i++) {
    if (s[i] == FLASH_ERASED) {
      pull(i & 1);
      continue;
    }
    if (cfi.sr) {
      if (sr_start_word(h + i, s[i]))
        return 1;
      pull(i & 1);
      if (sr_wait_for(h + i, FLASH_FAIL_PROGRAM, cfi.word_bound, h + i))
        return 1;
      continue;
    }
    if (in_port(h + i)) {
      if (program_port_word(h + i, s[i]))
        return 1;
      pull(i & 1);
      continue;
    }
    unlock();
    command(JEDEC_ADDR_1, JEDEC_CMD_PROGRAM);
    chip_write(h + i, s[i]);
    pull(i & 1);
    if (jedec_wait_data_for(h + i, s[i], cfi.word_bound, h + i))
      return 1;
  }
  return 0;
}

void cfi_program(u32 h, const u16 *s, u32 c, data_pull pull)
{
  if (cfi.buffer == 0) {
    program_words(h, s, c, pull);
    return;
  }
  for (u32 i = 0; i < c;) {
    u32 a = h + i;
    u32 n = cfi.buffer - (a & (cfi.buffer - 1));
    if (n > c - i)
      n = c - i;
    if (cfi.sr && !all_erased(s + i, n)) {
      if (sr_start_buffer(a, s + i, n))
        return;
      pull((n + 1) >> 1);
      if (sr_wait_for(a, FLASH_FAIL_PROGRAM, cfi.buffer_bound, a))
        return;
    } else if (touches_port(a, n) && !all_erased(s + i, n)) {
      if (program_port_page(a, s + i, n))
        return;
      pull((n + 1) >> 1);
    } else if (!all_erased(s + i, n)) {
      program_buffer(a, s + i, n, pull);
      pull(((n + 1) >> 1) - 1);
      /* Onto blank flash the buffer is in by the time its step's words
       * are: the first look ends the wait without starting its clock */
      if (chip_read(a + n - 1) != s[i + n - 1] &&
          jedec_wait_data_for(a + n - 1, s[i + n - 1], cfi.buffer_bound, a)) {
        cfi_read_array(); /* an aborted buffer takes only this reset */
        return;
      }
    } else {
      pull((n + 1) >> 1);
    }
    i += n;
  }
}

u32 cfi_program_unit(void)
{
  return cfi.buffer ? cfi.buffer : 1;
}

COLD void req_cfi_info(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;
  send_words(CFI_INFO_WORDS, cfi.info);
}
