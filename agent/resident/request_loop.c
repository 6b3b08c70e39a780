#include "contract/wire.h"
#include "agent/resident/link.h"
#include "agent/resident/requests.h"

/* Every request code is REQ_CODE_HIGH plus a slot number. Slots without a
 * code, and codes not yet served, go to request_drop: the four words have
 * been taken and the link is in step for the next request. */
#define REQ_SLOT(code) ((code) - REQ_CODE_HIGH)

#define KARTEX_DISPATCH_ROW(code, handler, arg1, arg2, arg3, streamed, reply) \
  [REQ_SLOT(code)] = handler,

static const request_handler request_table[] = {KARTEX_REQUESTS(KARTEX_DISPATCH_ROW)};

#define REQUEST_SLOTS (sizeof request_table / sizeof request_table[0])

void request_drop(u32 a1, u32 a2, u32 a3)
{
  (void)a1;
  (void)a2;
  (void)a3;
}

void request_loop(void)
{
  u32 words[CMD_REQUEST_WORDS]; /* code, a1, a2, a3 */

  for (;;) {
    recv_words(CMD_REQUEST_WORDS, words);
    u32 slot = REQ_SLOT(words[0]);
    request_handler handler = request_drop;
    if (slot < REQUEST_SLOTS && request_table[slot])
      handler = request_table[slot];
    handler(words[1], words[2], words[3]);
  }
}
