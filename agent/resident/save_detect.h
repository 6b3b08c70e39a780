/* Which save memory the cartridge carries. */
#ifndef KARTEX_AGENT_SAVE_DETECT_H
#define KARTEX_AGENT_SAVE_DETECT_H

/* Sets save_type (and save_chip for the FLASH saves). Every probe puts back
 * what it changed in the save memory. */
void detect_save_type(void);

#endif
