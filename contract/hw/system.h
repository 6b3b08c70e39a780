/* System control: cartridge bus wait states.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_SYSTEM_H
#define KARTEX_CONTRACT_HW_SYSTEM_H

#define REG_WAITCNT 0x04000204

/* WAITCNT: cycles per access of save memory and the three ROM wait states */
#define WS_SRAM_MASK 0x0003
#define WS_SRAM_SHIFT 0
#define WS_SRAM_4 0x0000
#define WS_SRAM_8 0x0003
#define WS_ROM0_N_MASK 0x000C
#define WS_ROM0_N_SHIFT 2
#define WS_ROM0_N4 0x0000
#define WS_ROM0_N3 0x0004
#define WS_ROM0_S_MASK 0x0010
#define WS_ROM0_S_SHIFT 4
#define WS_ROM0_S2 0x0000
#define WS_ROM0_S1 0x0010
#define WS_ROM1_N_MASK 0x0060
#define WS_ROM1_N_SHIFT 5
#define WS_ROM1_N4 0x0000
#define WS_ROM1_S_MASK 0x0080
#define WS_ROM1_S_SHIFT 7
#define WS_ROM1_S4 0x0000
#define WS_ROM2_N_MASK 0x0300
#define WS_ROM2_N_SHIFT 8
#define WS_ROM2_N8 0x0300
#define WS_ROM2_S_MASK 0x0400
#define WS_ROM2_S_SHIFT 10
#define WS_ROM2_S8 0x0000
#define WS_PREFETCH 0x4000

/* Slow enough for every flash chip and the EEPROM in wait state 2, and for
 * every FLASH save part in the save window (the slowest want 8 cycles, and
 * identification wants 8 on all of them); prefetch stays off so that flash
 * command sequences reach the bus as written. Wait state 0 takes 4 and 2:
 * GBATEK finds 3 and 1 unstable on some flash cartridges, and the link,
 * not the ROM, bounds every transfer. */
#define WAITCNT_AGENT \
  (WS_SRAM_8 | WS_ROM0_N4 | WS_ROM0_S2 | WS_ROM1_N4 | WS_ROM1_S4 | WS_ROM2_N8 | WS_ROM2_S8)

#endif
