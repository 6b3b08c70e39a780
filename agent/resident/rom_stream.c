/* Flash ROM block streamed in pieces (REQ_FLASH_STREAM): the link and the
 * chips work at once. The words of a block to be erased arrive while the
 * chips erase it; then each piece is programmed once its check word
 * matched, while the words of the pieces after it arrive into the next
 * part of the data buffer. After a piece that disagrees with its check
 * word nothing more is programmed, and the rest of the block is taken off
 * the link so that host and agent stay in step. */
#include "contract/wire.h"
#include "agent/resident/crc32.h"
#include "agent/resident/flash_modes.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"
#include "agent/resident/rom_erase.h"
#include "agent/resident/rom_program.h"
#include "agent/resident/rom_status.h"
#include "agent/resident/state.h"
#include "agent/resident/write_check.h"

#define PIECE_WORDS (STREAM_PIECE_BYTES / 4)
#define PIECE_HALFWORDS (STREAM_PIECE_BYTES / 2)

/* The block coming in: pieces whose words and check word are in, the
 * leading pieces that matched their check words, the words of piece `in`
 * still to come with the running CRC of those that came, and the link
 * words of the whole block still to come. While any is, the next one is
 * armed: it moves while the agent commands the chips. */
static struct {
  u32 offset;
  u32 pieces;
  u32 in;
  u32 good;
  u32 left;
  u32 crc;
  u32 to_come;
} stream;

static u32 recv_more(u32 n, void *at, u32 crc)
{
  stream.to_come -= n;
  return recv_armed_summed(n, at, crc, stream.to_come != 0);
}

/* Piece `in` is whole: its check word follows. Once one piece failed, no
 * later one counts as good, whatever its own check word says. */
static void piece_end(void)
{
  u32 check;
  recv_more(1, &check, CRC32_START);
  u32 offset = stream.offset + stream.in * STREAM_PIECE_BYTES;
  if (stream.good == stream.in && check_word(stream.crc, offset, STREAM_PIECE_BYTES) == check)
    stream.good++;
  stream.in++;
  stream.left = PIECE_WORDS;
  stream.crc = CRC32_START;
}

/* Takes up to `words` data words of the block, each piece's check word
 * with its last one; nothing once the block is in */
static void stream_take(u32 words)
{
  /* A program step's pull, within the piece coming in */
  if (words != 0 && words < stream.left && stream.in < stream.pieces) {
    u8 *at = data_buffer + stream.in * STREAM_PIECE_BYTES + (PIECE_WORDS - stream.left) * 4;
    stream.to_come -= words;
    stream.left -= words;
    stream.crc = recv_armed_summed(words, at, stream.crc, 1);
    return;
  }
  while (words != 0 && stream.in < stream.pieces) {
    u32 n = words < stream.left ? words : stream.left;
    u8 *at = data_buffer + stream.in * STREAM_PIECE_BYTES + (PIECE_WORDS - stream.left) * 4;
    stream.crc = recv_more(n, at, stream.crc);
    stream.left -= n;
    words -= n;
    if (stream.left == 0)
      piece_end();
  }
}

/* One piece between two status reads of the erase */
static void erase_pass_piece(void)
{
  stream_take(PIECE_WORDS);
}

/* Whole pieces of one erase block, from its start, within the ROM */
static int takes_stream(u32 offset, u32 bytes)
{
  if (erase_block == 0) /* no flash: nothing is written */
    return 0;
  return (offset & (erase_block - 1)) == 0 && bytes != 0 && (bytes & (STREAM_PIECE_BYTES - 1)) == 0 &&
         bytes <= erase_block && offset < rom_size && bytes <= rom_size - offset;
}

/* Returns the pieces programmed: all of them, or those before the first
 * that failed its check */
static u32 stream_block(u32 offset, u32 bytes, int erase)
{
  const u16 *data = (const u16 *)data_buffer;
  u32 h = offset >> 1;
  stream.offset = offset;
  stream.pieces = bytes / STREAM_PIECE_BYTES;
  stream.in = 0;
  stream.good = 0;
  stream.left = PIECE_WORDS;
  stream.crc = CRC32_START;
  stream.to_come = stream.pieces * (PIECE_WORDS + 1);
  link_arm();

  if (erase) {
    flash_erase_pass = erase_pass_piece;
    erase_at(offset);
    flash_erase_pass = 0;
    read_array_reset(h & WINDOW_HALFWORD_MASK);
  }
  u32 done = 0;
  for (; done < stream.pieces; done++) {
    if (stream.in == done)
      stream_take(stream.left); /* the rest of this piece and its check word */
    if (stream.good <= done) /* this piece failed its check */
      break;
    program_flash(h + done * PIECE_HALFWORDS, data + done * PIECE_HALFWORDS, PIECE_HALFWORDS, stream_take);
  }
  while (stream.in < stream.pieces)
    stream_take(stream.left);
  read_array_reset(h & WINDOW_HALFWORD_MASK);
  return done;
}

void req_flash_stream(u32 offset, u32 bytes, u32 check)
{
  u32 length = bytes & ~STREAM_ERASE;
  int erase = (bytes & STREAM_ERASE) != 0;
  u32 reply = WRITE_CHECK_FAILED;
  if (check_word(CRC32_START, offset, bytes) == check)
    reply = takes_stream(offset, length) ? STREAM_READY : UPDATE_REFUSED;
  send_words(1, &reply);
  if (reply != STREAM_READY)
    return;
  u32 done = stream_block(offset, length, erase);
  u32 end[STREAM_END_WORDS] = {erase ? UPDATE_ERASED : UPDATE_PROGRAMMED, done};
  if (done != length / STREAM_PIECE_BYTES)
    end[0] = WRITE_CHECK_FAILED;
  send_words(STREAM_END_WORDS, end);
}
