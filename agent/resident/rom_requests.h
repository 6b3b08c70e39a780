/* Flash ROM request handlers: erase, write, program, erased end. Each
 * takes the three argument words of the request. */
#ifndef KARTEX_AGENT_ROM_REQUESTS_H
#define KARTEX_AGENT_ROM_REQUESTS_H

#include "agent/resident/types.h"

void req_flash_erase(u32 a1, u32 a2, u32 a3);
void req_flash_write(u32 a1, u32 a2, u32 a3);
void req_flash_program(u32 a1, u32 a2, u32 a3);
void req_flash_free(u32 a1, u32 a2, u32 a3);

#endif
