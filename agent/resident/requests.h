/* Request handlers. Each takes the three argument words of the request;
 * arguments a request does not use are ignored. */
#ifndef KARTEX_AGENT_REQUESTS_H
#define KARTEX_AGENT_REQUESTS_H

#include "contract/wire.h"
#include "agent/resident/link.h"
#include "agent/resident/types.h"

typedef void (*request_handler)(u32 a1, u32 a2, u32 a3);

/* Takes nothing more from the link and sends nothing. */
void request_drop(u32 a1, u32 a2, u32 a3);

/* One handler per row of the request table (contract/wire.h) */
#define KARTEX_DECLARE_HANDLER(code, handler, arg1, arg2, arg3, streamed, reply) \
  void handler(u32 a1, u32 a2, u32 a3);
KARTEX_REQUESTS(KARTEX_DECLARE_HANDLER)
#undef KARTEX_DECLARE_HANDLER

/* An erase or a save block write is finished, whatever happened */
static inline void reply_done(void)
{
  u32 done = REPLY_DONE;
  send_words(1, &done);
}

/* BIOS SoftReset with the restart flag set (bios.S); does not return. */
void bios_soft_reset(u32 restart_flag) __attribute__((noreturn));

void request_loop(void) __attribute__((noreturn));

#endif
