/* One pass of the delay: 62 single-cycle moves, a single-cycle subtract
 * and a taken branch (3 cycles), 66 cycles in all, all fetched from
 * internal work RAM without wait states and touching no other memory, so
 * that neither the cartridge's wait states nor a cache can change it. */
#include "contract/hw/save_chips.h"
#include "agent/resident/save_delay.h"

__attribute__((noinline)) void save_delay(u32 passes)
{
  if (passes == 0)
    return;
  __asm__ volatile("1:\n\t"
                   ".rept 62\n\t"
                   "mov r0, r0\n\t"
                   ".endr\n\t"
                   "subs %0, %0, #1\n\t"
                   "bne 1b\n"
                   : "+r"(passes)
                   :
                   : "cc");
}
