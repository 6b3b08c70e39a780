/* The four timers; the agent chains 2 and 3 into one clock for its waits.
 *
 * Plain #defines: included from the agent's C and from the host's tests.
 */
#ifndef KARTEX_CONTRACT_HW_TIMER_H
#define KARTEX_CONTRACT_HW_TIMER_H

#define REG_TM0CNT_L 0x04000100 /* timer n at + 4n: CNT_L, then CNT_H */
#define TIMER_COUNT 4
#define REG_TM2CNT_L 0x04000108 /* read: the count; write: the reload value */
#define REG_TM2CNT_H 0x0400010A
#define REG_TM3CNT_L 0x0400010C
#define REG_TM3CNT_H 0x0400010E

#define TM_FREQ_MASK 0x0003 /* 1, 64, 256 or 1024 CPU cycles a count */
#define TM_FREQ_1024 0x0003 /* one count per 1024 CPU cycles */
#define TM_CASCADE 0x0004   /* counts the overflows of the timer below */
#define TM_IRQ 0x0040
#define TM_ENABLE 0x0080

/* At 2^24 Hz and 1024 cycles a count: 16384 counts a second, 61 us each */
#define TIMER_TICKS_PER_SECOND 16384u
/* A time in microseconds as counts, rounded up; for constants only (the
 * division is done by the compiler) */
#define TIMER_TICKS_US(us) ((unsigned)(((unsigned long long)(us) * TIMER_TICKS_PER_SECOND + 999999u) / 1000000u))

#endif
