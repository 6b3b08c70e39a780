/* The checked SRAM write, streamed: nothing waits for the whole block.
 * Each word is stored as it arrives and read back into the check, the old
 * bytes kept in the data buffer; a block that fails its check has them
 * put back, so a word corrupted on the link leaves the save as it was.
 * SRAM takes any number of writes, so storing before the check costs the
 * chip nothing. The link leaves the agent time beside each word's stores:
 * REQ_SAVE_WRITE_AHEAD spends it summing the blocks after the range, so
 * that the host learns whether they differ without a compare pass. */
#include "contract/wire.h"
#include "contract/hw/save_chips.h"
#include "agent/resident/bus.h"
#include "agent/resident/crc32.h"
#include "agent/resident/link.h"
#include "agent/resident/mapper.h"
#include "agent/resident/save_units.h"
#include "agent/resident/save_window.h"
#include "agent/resident/state.h"
#include "agent/resident/write_check.h"

/* One word whose bytes do not all lie in one bank, or the block's last
 * word that is only partly data: byte by byte, the bank chosen for each */
static u32 store_word_bytewise(u32 pos, u32 count, u8 *old, u32 crc)
{
  u32 word;
  recv_words(1, &word);
  for (u32 i = 0; i < count; i++, word >>= 8) {
    sram_select_bank_of(pos + i);
    u32 at = save_window_address(pos + i);
    old[i] = bus_read8(at);
    bus_write8(at, (u8)word);
    crc = crc32_byte(crc, bus_read8(at));
  }
  return crc;
}

/* The blocks after the range being summed: the save offset of the next
 * byte, the bytes of its block and of the blocks after it still to sum,
 * where each block's CRC goes. */
struct ahead_state {
  struct stream_sums sums;
  u32 pos;
  u32 block_left;
  u32 rest;
  u32 *out;
};

static void ahead_start(struct ahead_state *a, u32 pos, u32 blocks, u32 *out)
{
  a->sums.ahead_crc = CRC32_START;
  a->pos = pos;
  a->block_left = blocks ? SAVE_AHEAD_BLOCK : 0;
  a->rest = blocks ? (blocks - 1) * SAVE_AHEAD_BLOCK : 0;
  a->out = out;
}

static void ahead_advance(struct ahead_state *a, u32 bytes)
{
  a->pos += bytes;
  a->block_left -= bytes;
  if (a->block_left != 0)
    return;
  *a->out++ = ~a->sums.ahead_crc;
  a->sums.ahead_crc = CRC32_START;
  a->block_left = a->rest < SAVE_AHEAD_BLOCK ? a->rest : SAVE_AHEAD_BLOCK;
  a->rest -= a->block_left;
}

/* Words of the next part that may sum bytes ahead as they arrive: those
 * whose four bytes ahead lie in the same bank and in one block */
static u32 words_with_ahead(const struct ahead_state *a, u32 pos, u32 words)
{
  if (a->block_left == 0 || (a->pos >> SAVE_BANK_SHIFT) != (pos >> SAVE_BANK_SHIFT))
    return 0;
  u32 n = unit_part(a->pos, a->block_left, SAVE_WINDOW_SIZE) >> 2;
  return words < n ? words : n;
}

/* context: the ahead state; the part lies in one bank, selected */
static void ahead_part(u32 window, u32 count, void *context)
{
  struct ahead_state *a = context;
  while (count != 0 && a->block_left != 0) {
    u32 n = count < a->block_left ? count : a->block_left;
    a->sums.ahead_crc = crc32_bytes(a->sums.ahead_crc, window, n);
    window += n;
    count -= n;
    ahead_advance(a, n);
  }
}

int sram_write_streamed_ahead(u32 offset, u32 bytes, u32 check_bytes, u32 check, u32 ahead, u32 *crcs)
{
  u8 *old = data_buffer;
  struct ahead_state a;
  a.sums.crc = CRC32_START;
  ahead_start(&a, offset + bytes, ahead, crcs);
  for (u32 done = 0; done < bytes;) {
    u32 pos = offset + done;
    u32 left = bytes - done;
    u32 words = unit_part(pos, left, SAVE_WINDOW_SIZE) >> 2;
    if (words) {
      sram_select_bank_of(pos);
      u32 summing = words_with_ahead(&a, pos, words);
      if (summing) {
        a.sums.ahead = save_window_address(a.pos);
        recv_words_to_save_ahead(summing, save_window_address(pos), old + done, &a.sums);
        ahead_advance(&a, 4 * summing);
        done += 4 * summing;
      } else {
        a.sums.crc = recv_words_to_save(words, save_window_address(pos), old + done, a.sums.crc);
        done += 4 * words;
      }
    } else {
      u32 count = left < 4 ? left : 4;
      a.sums.crc = store_word_bytewise(pos, count, old + done, a.sums.crc);
      done += count;
    }
  }
  int ok = check_word(a.sums.crc, offset, check_bytes) == check;
  if (!ok)
    sram_write(offset, bytes); /* the old bytes, from the data buffer */
  else if (a.block_left != 0) /* what lay in another bank, or past a ragged end */
    save_window_visit(a.pos, a.block_left + a.rest, ahead_part, &a);
  sram_select_bank_of(0);
  return ok;
}

int sram_write_streamed(u32 offset, u32 bytes, u32 check)
{
  return sram_write_streamed_ahead(offset, bytes, bytes, check, 0, 0);
}

/* SRAM only: the other saves keep the request they had */
void req_save_write_ahead(u32 offset, u32 bytes_word, u32 check)
{
  u32 bytes = bytes_word & SAVE_AHEAD_BYTES_MASK;
  u32 ahead = bytes_word >> SAVE_AHEAD_SHIFT;
  u32 crcs[SAVE_AHEAD_MAX];
  u32 reply = UPDATE_REFUSED;
  if ((save_type != SAVE_TYPE_SRAM_32K && save_type != SAVE_TYPE_SRAM_LARGE) || ahead > SAVE_AHEAD_MAX) {
    recv_checked(offset, bytes); /* taken off the link, kept nowhere */
    send_words(1, &reply);
    return;
  }
  reply = sram_write_streamed_ahead(offset, bytes, bytes_word, check, ahead, crcs) ? REPLY_DONE
                                                                                  : WRITE_CHECK_FAILED;
  send_words(1, &reply);
  if (reply == REPLY_DONE && ahead != 0)
    send_words(ahead, crcs);
}
