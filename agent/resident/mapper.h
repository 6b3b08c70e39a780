/* Mapper of rewritable cartridges: ROM pages and SRAM banks. */
#ifndef KARTEX_AGENT_MAPPER_H
#define KARTEX_AGENT_MAPPER_H

#include "agent/resident/types.h"

/* The write sequence that must precede each write to a mapper register */
void mapper_unlock(void);

/* Clear status and read array at each halfword the unlock sequence and
 * the register at register_address (0: none) touched: on a board without
 * the mapper they reached the ROM's chips as invalid commands */
void settle_chips(u32 register_address);

/* Writes the mapper only when the page differs from rom_page */
void select_rom_page(u16 page);

/* Writes the command register */
void mapper_command(u16 value);

/* Writes the mapper only when the bank differs from sram_bank */
void select_sram_bank(u32 bank);

#endif
