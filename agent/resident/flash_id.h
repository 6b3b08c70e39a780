/* Which flash chips, or mask ROM, hold the cartridge ROM. */
#ifndef KARTEX_AGENT_FLASH_ID_H
#define KARTEX_AGENT_FLASH_ID_H

/* Sets rom_kind, rom_size, erase_block and top_boot. Uses variant (for the
 * page probe of the largest pairs), so the variant probe runs first. Chips
 * may be left in identifier mode. */
void identify_flash(void);

#endif
