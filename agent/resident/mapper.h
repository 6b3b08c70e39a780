/* Mapper of rewritable cartridges: ROM pages and SRAM banks. */
#ifndef KARTEX_AGENT_MAPPER_H
#define KARTEX_AGENT_MAPPER_H

#include "agent/resident/types.h"

/* The write sequence that must precede each write to a mapper register */
void mapper_unlock(void);

/* Writes the mapper only when the page differs from rom_page */
void select_rom_page(u16 page);

/* Writes the command register */
void mapper_command(u16 value);

/* Always writes the mapper: the bank is not cached */
void select_sram_bank(u32 bank);

#endif
