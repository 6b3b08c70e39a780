/* Runs the host's job list with each job timed in CPU cycles, then stops
 * on an undefined instruction (entry.S). */
#include "bench/codec_arm/jobs.h"
#include "bench/codecs/codecs.h"
#include "contract/hw/timer.h"

static uint16_t hash_table[LZF_HASH_ENTRIES > LZ10_HASH_ENTRIES ? LZF_HASH_ENTRIES : LZ10_HASH_ENTRIES];
static uint32_t crc_table[256];

void copy_burst(const uint32_t* src, uint32_t* dst, uint32_t words); /* entry.S */

static void crc_table_fill(void) {
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ c >> 1 : c >> 1;
    crc_table[n] = c;
  }
}

/* A word at a time from the bus, one table step a byte: what summing the
 * decoded block costs. */
static uint32_t crc_of(const uint32_t* p, uint32_t words) {
  const uint32_t* t = crc_table;
  uint32_t crc = 0xFFFFFFFFu;
  while (words--) {
    const uint32_t w = *p++;
    crc = t[(crc ^ w) & 0xFF] ^ crc >> 8;
    crc = t[(crc ^ w >> 8) & 0xFF] ^ crc >> 8;
    crc = t[(crc ^ w >> 16) & 0xFF] ^ crc >> 8;
    crc = t[(crc ^ w >> 24) & 0xFF] ^ crc >> 8;
  }
  return ~crc;
}

#define TIMER(n, reg) (*(volatile uint16_t*)(REG_TM0CNT_L + 4 * (n) + (reg)))

static void clock_start(void) {
  TIMER(0, 2) = 0;
  TIMER(1, 2) = 0;
  TIMER(0, 0) = 0;
  TIMER(1, 0) = 0;
  TIMER(1, 2) = TM_ENABLE | TM_CASCADE;
  TIMER(0, 2) = TM_ENABLE;
}

static uint32_t clock_stop(void) {
  TIMER(0, 2) = 0;
  return (uint32_t)TIMER(1, 0) << 16 | TIMER(0, 0);
}

static uint32_t run_job(const struct codec_job* j) {
  const uint8_t* src = (const uint8_t*)j->src;
  uint8_t* dst = (uint8_t*)j->dst;
  switch (j->kind) {
    case JOB_COPY: copy_burst((const uint32_t*)src, (uint32_t*)dst, j->length / 4); return 0;
    case JOB_CRC: return crc_of((const uint32_t*)src, j->length / 4);
    case JOB_RLE: return rle_encode(src, j->length, dst);
    case JOB_LZF: return lzf_encode(src, j->length, dst, hash_table);
    case JOB_LZ10: return lz10_encode(src, j->length, dst, hash_table);
    case JOB_LZF_SLOW_TABLE: return lzf_encode(src, j->length, dst, (uint16_t*)CODEC_SLOW_TABLE);
    case JOB_LZ10_SLOW_TABLE: return lz10_encode(src, j->length, dst, (uint16_t*)CODEC_SLOW_TABLE);
    default: return 0xFFFFFFFFu;
  }
}

void codec_main(void) {
  crc_table_fill();
  struct codec_jobs* jobs = (struct codec_jobs*)CODEC_JOBS_BASE;
  for (uint32_t i = 0; i < jobs->count && i < CODEC_JOBS_MAX; ++i) {
    struct codec_job* j = &jobs->job[i];
    clock_start();
    const uint32_t result = run_job(j);
    j->cycles = clock_stop();
    j->result = result;
    jobs->done = i + 1;
  }
}
