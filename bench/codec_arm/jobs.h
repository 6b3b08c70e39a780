/* What the host asks of the codec program on the console, and where the
 * answers go: a job list in work RAM 256K, each job timed on two cascaded
 * timers counting CPU cycles. */
#ifndef KARTEX_BENCH_CODEC_JOBS_H
#define KARTEX_BENCH_CODEC_JOBS_H

#include <stdint.h>

#define JOB_COPY 0 /* src (ROM) to dst (work RAM), eight words a burst */
#define JOB_CRC 1  /* CRC-32 of src, one table step a byte; result = the CRC */
#define JOB_RLE 2  /* result = encoded size, 0 if it would not shrink */
#define JOB_LZF 3
#define JOB_LZ10 4
/* The same two with their hash table in work RAM 256K instead of 32K. */
#define JOB_LZF_SLOW_TABLE 5
#define JOB_LZ10_SLOW_TABLE 6

/* The program, linked for the start of work RAM 32K. */
#define CODEC_PROGRAM_BASE 0x03000000u
/* The job list; the host reads it back when the program stops. */
#define CODEC_JOBS_BASE 0x02000000u
#define CODEC_JOBS_MAX 256u
/* Room for the block under work and its encoding. */
#define CODEC_BLOCK_BUFFER 0x02010000u
#define CODEC_OUT_BUFFER 0x02020000u
#define CODEC_SLOW_TABLE 0x02030000u

struct codec_job {
  uint32_t kind, src, length, dst;
  uint32_t cycles, result; /* written by the program */
};

struct codec_jobs {
  uint32_t count, done;
  struct codec_job job[CODEC_JOBS_MAX];
};

#endif
