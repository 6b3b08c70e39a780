#include "examples/hostio/lib/hostio.h"

#include "examples/hostio/lib/link.h"
#include "contract/wire.h"

/* Text and paths go out of this buffer, NUL-terminated and zero-filled. */
static uint32_t text_words[SVC_TEXT_WORDS];

static void send(uint32_t word) { hio_link_exchange(word); }

static uint32_t receive(void) { return hio_link_exchange(0); }

static uint32_t string_length(const char *s)
{
  uint32_t n = 0;
  while (s[n])
    n++;
  return n;
}

/* Packs `length` bytes and a NUL into text_words; returns the word count. */
static uint32_t pack_text(const char *text, uint32_t length)
{
  for (uint32_t i = 0; i < SVC_TEXT_WORDS; i++)
    text_words[i] = 0;
  for (uint32_t i = 0; i < length; i++)
    text_words[i / 4] |= (uint32_t)(uint8_t)text[i] << (8 * (i % 4));
  return (length + 1 + 3) / 4;
}

static void send_words(const uint32_t *words, uint32_t count)
{
  for (uint32_t i = 0; i < count; i++)
    send(words[i]);
}

/* Bytes as little-endian words, the last one filled up with zeros. */
static void send_bytes(const uint8_t *bytes, uint32_t count)
{
  for (uint32_t i = 0; i < count; i += 4) {
    uint32_t word = 0;
    for (uint32_t k = 0; k < 4 && i + k < count; k++)
      word |= (uint32_t)bytes[i + k] << (8 * k);
    send(word);
  }
}

/* Takes every word the host sends for `count` bytes but stores no more
 * than `room` bytes: the padding of the last word stays out of the caller's buffer. */
static void receive_bytes(uint8_t *into, uint32_t count, uint32_t room)
{
  for (uint32_t i = 0; i < count; i += 4) {
    uint32_t word = receive();
    for (uint32_t k = 0; k < 4 && i + k < count; k++)
      if (i + k < room)
        into[i + k] = (uint8_t)(word >> (8 * k));
  }
}

void hio_init(void) { hio_link_init(); }

uint32_t hio_answer_variant(uint32_t variant)
{
  uint32_t code = receive();
  receive();
  receive();
  receive();
  if (code == REQ_CART_VARIANT)
    send(variant);
  return code;
}

void hio_print(const char *text)
{
  uint32_t left = string_length(text);
  do {
    uint32_t piece = left < SVC_TEXT_BYTES - 1 ? left : SVC_TEXT_BYTES - 1;
    uint32_t words = pack_text(text, piece);
    send(SVC_PRINT);
    send(words);
    send_words(text_words, words);
    text += piece;
    left -= piece;
  } while (left > 0);
}

int32_t hio_open(const char *path, uint32_t mode)
{
  uint32_t length = string_length(path);
  if (length >= SVC_TEXT_BYTES)
    return -1;
  uint32_t words = pack_text(path, length);
  send(SVC_OPEN);
  send(words);
  send_words(text_words, words);
  send(mode);
  return (int32_t)receive();
}

void hio_close(int32_t handle)
{
  send(SVC_CLOSE);
  send((uint32_t)handle);
}

int32_t hio_read(int32_t handle, void *into, uint32_t bytes)
{
  uint8_t *at = into;
  int32_t total = 0;
  /* One answer carries at most SVC_MAX_READ bytes. */
  while (bytes > 0) {
    uint32_t piece = bytes < SVC_MAX_READ ? bytes : SVC_MAX_READ;
    send(SVC_READ);
    send((uint32_t)handle);
    send(piece);
    int32_t got = (int32_t)receive();
    uint32_t count = got > 0 ? (uint32_t)got : 0;
    receive_bytes(at, count, piece);
    if (got < 0)
      return total > 0 ? total : -1;
    if (count > piece)
      count = piece;
    total += (int32_t)count;
    at += count;
    bytes -= count;
    if (count < piece)
      break;
  }
  return total;
}

void hio_write(int32_t handle, const void *from, uint32_t bytes)
{
  send(SVC_WRITE);
  send((uint32_t)handle);
  send(bytes);
  send_bytes(from, bytes);
}

int32_t hio_seek(int32_t handle, int32_t offset, uint32_t origin)
{
  send(SVC_SEEK);
  send((uint32_t)handle);
  send((uint32_t)offset);
  send(origin);
  return (int32_t)receive();
}
