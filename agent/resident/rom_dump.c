/* ROM dump: the range block by block, each block either sent with its
 * CRC-32 or, when all its halfwords hold one value, named by that value
 * alone, which the host fills in. */
#include "contract/wire.h"
#include "contract/hw/mapper.h"
#include "agent/resident/bus.h"
#include "agent/resident/crc32.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/requests.h"
#include "agent/resident/rom_dump.h"

static void send_header(u32 header)
{
  u32 pair[DUMP_HEADER_WORDS] = {header, ~header};
  send_words(DUMP_HEADER_WORDS, pair);
}

/* The arguments are checked before any word goes back: a byte count or
 * an offset changed on the link would change the length of the reply. */
void req_rom_dump(u32 offset, u32 bytes, u32 check)
{
  u32 args[2] = {offset, bytes};
  if (~crc32_bytes(CRC32_START, (u32)args, sizeof args) != check) {
    send_header(DUMP_REFUSED);
    return;
  }
  offset &= ~3u;
  u32 words = words_for_bytes(bytes);
  while (words != 0) {
    /* words to the block's end */
    u32 room = (DUMP_BLOCK_BYTES - (offset & (DUMP_BLOCK_BYTES - 1))) >> 2;
    u32 n = words < room ? words : room;
    select_rom_page((u16)ROM_PAGE_OF_OFFSET(offset));
    u32 address = ROM_BASE + (offset & ROM_WINDOW_MASK);
    if (rom_uniform(address, n)) {
      send_header(DUMP_FILL | bus_read16(address));
    } else {
      send_header(DUMP_SENT);
      u32 crc = ~send_rom_summed(n, address, CRC32_START);
      send_words(1, &crc);
    }
    offset += n << 2;
    words -= n;
  }
}
