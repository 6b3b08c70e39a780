/* Requests that end the agent: the BIOS restarts the processor in another
 * program. Nothing is replied and nothing else is reset. */
#include "contract/wire.h"
#include "contract/hw/cpu.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"

/* The program overwrites the boot stage and the data buffer; this code runs
 * from internal work RAM and is not touched. */
void req_run_program(u32 bytes, u32 unused2, u32 unused3)
{
  (void)unused2;
  (void)unused3;
  recv_words(words_for_bytes(bytes), (void *)EWRAM_BASE);
  bios_soft_reset(BIOS_RESET_TO_EWRAM);
}

void req_boot_cart(u32 unused1, u32 unused2, u32 unused3)
{
  (void)unused1;
  (void)unused2;
  (void)unused3;
  bios_soft_reset(BIOS_RESET_TO_CART);
}
