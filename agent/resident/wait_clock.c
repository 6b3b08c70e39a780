/* Timers 2 and 3 as one 32-bit clock (wait_clock.h) */
#include "agent/resident/bus.h"
#include "agent/resident/wait_clock.h"

void wait_clock_start(void)
{
  /* Stopped, then started from reload 0: the high half first, so that it
   * counts every overflow of the low one */
  bus_write16(REG_TM2CNT_H, 0);
  bus_write16(REG_TM3CNT_H, 0);
  bus_write16(REG_TM2CNT_L, 0);
  bus_write16(REG_TM3CNT_L, 0);
  bus_write16(REG_TM3CNT_H, TM_ENABLE | TM_CASCADE);
  bus_write16(REG_TM2CNT_H, TM_ENABLE | TM_FREQ_1024);
}

u32 wait_clock_ticks(void)
{
  /* The low half may overflow between the two reads: read again until the
   * high half stands still around it */
  u32 high, low;
  do {
    high = bus_read16(REG_TM3CNT_L);
    low = bus_read16(REG_TM2CNT_L);
  } while (bus_read16(REG_TM3CNT_L) != high);
  return high << 16 | low;
}
