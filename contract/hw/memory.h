/* The console's memory map: where each memory starts and how large it is.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_MEMORY_H
#define KARTEX_CONTRACT_HW_MEMORY_H

#define MEM_BIOS 0x00000000
#define MEM_EWRAM 0x02000000 /* where a multiboot image is received and run */
#define MEM_IWRAM 0x03000000
#define MEM_IO 0x04000000
#define MEM_PAL 0x05000000 /* background palette, 256 halfwords, then the objects' */
#define MEM_VRAM 0x06000000
#define MEM_OAM 0x07000000
#define MEM_ROM 0x08000000 /* wait state 0; 1 and 2 follow every 32 MiB */
#define MEM_SRAM 0x0E000000 /* the save window, 8 bits wide */

#define BIOS_SIZE 0x4000
#define EWRAM_SIZE 0x40000
#define IWRAM_SIZE 0x8000
#define PAL_SIZE 0x400
#define VRAM_SIZE 0x18000
#define OAM_SIZE 0x400
#define ROM_WINDOW_SIZE 0x2000000u /* 32 MiB: a mapper pages larger ROMs through it */
#define SRAM_WINDOW_SIZE 0x10000

#endif
