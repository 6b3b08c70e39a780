/* ROM read: the mapper page that holds the address, then the words
 * straight from the window, so that the link sets the pace. */
#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"

/* a1 = ROM_BASE + ROM offset; the page stays selected afterwards */
void req_rom_read(u32 address, u32 bytes, u32 unused)
{
  (void)unused;
  u32 offset = address - ROM_BASE;
  select_rom_page((u16)ROM_PAGE_OF_OFFSET(offset));
  send_words(words_for_bytes(bytes), (const void *)(ROM_BASE + (offset & ROM_WINDOW_MASK)));
}
