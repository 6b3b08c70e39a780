/* Boot stage: runs where the cable loaded the image, in external work RAM.
 * Shows the splash picture, copies the cold code into video RAM and the
 * resident stage into internal work RAM, and jumps there. Video and palette RAM take no 8-bit stores, so every
 * store to them here is a halfword.
 *
 * The image starts with a multiboot header, so that it runs whether the
 * cable jumps to its first word or hands it to the console's BIOS: the BIOS
 * checks the logo, the fixed byte and the complement, overwrites the first
 * word with a branch to 0xC0 and the bytes at 0xC4/0xC5, and enters at
 * 0xC0. Both entries lead to boot_start.
 */
#include "contract/wire.h"
#include "contract/hw/cart_header.h"
#include "contract/hw/cpu.h"
#include "contract/hw/display.h"
#include "contract/hw/dma.h"
#include "contract/hw/irq.h"
#include "agent/splash/splash_format.h"

/* Top-left pixel of the picture sits at the screen's centre offset */
#define SPLASH_HOFS ((-((SCREEN_WIDTH - SPLASH_WIDTH) / 2)) & 0xFFFF)
#define SPLASH_VOFS ((-((SCREEN_HEIGHT - SPLASH_HEIGHT) / 2)) & 0xFFFF)
#define SPLASH_SBB 31
#define SPLASH_MAP (MEM_VRAM + SPLASH_SBB * SBB_SIZE)
#define SPLASH_BG0CNT (BG_8BPP | BG_CBB(0) | BG_SBB(SPLASH_SBB) | BG_REG_32x32)
#define TILE0_FILL ((SPLASH_BACKGROUND << 8) | SPLASH_BACKGROUND)

/* The resident stage always travels as RESIDENT_MAX_SIZE bytes, whatever its size */
#define RESIDENT_COPY (DMA_ENABLE | DMA_NOW | DMA_32 | DMA_COUNT(RESIDENT_MAX_SIZE / 4))

        .syntax unified

/* One DMA3 transfer, started at once; r4 = REG_DMA3SAD; clobbers r0 */
        .macro dma3_copy source, dest, control
        ldr     r0, =\source
        str     r0, [r4, #(REG_DMA3SAD - REG_DMA3SAD)]
        ldr     r0, =\dest
        str     r0, [r4, #(REG_DMA3DAD - REG_DMA3SAD)]
        ldr     r0, =\control
        str     r0, [r4, #(REG_DMA3CNT - REG_DMA3SAD)]
        .endm
        .arm
        .section .boot.entry, "ax", %progbits

        .global boot_entry
        .type boot_entry, %function
boot_entry:
        b       boot_start                      @ HDR_ENTRY
        .byte   CART_LOGO_BYTES                 @ HDR_LOGO
        .ascii  "KARTEX AGENT"                  @ HDR_TITLE
        .ascii  "KXAG"                          @ HDR_GAME_CODE
        .ascii  "KX"                            @ HDR_MAKER
        .byte   HDR_FIXED_VALUE                 @ HDR_FIXED
        .fill   10, 1, 0                        @ unit, device type, reserved, version
        .byte   0x25                            @ HDR_COMPLEMENT of the bytes from HDR_TITLE
        .fill   2, 1, 0                         @ reserved
        b       boot_start                      @ MB_ENTRY
        .byte   0, 0                            @ MB_BOOT_MODE, MB_SLAVE_ID: written by the BIOS
        .fill   MB_JOYBUS_ENTRY - MB_SLAVE_ID - 1, 1, 0
        b       boot_start                      @ MB_JOYBUS_ENTRY: not used over the normal-mode link

boot_start:
        set_up_stacks
        quiet_interrupts

        mov     r4, #REG_BASE
        ldr     r0, =SPLASH_HOFS
        strh    r0, [r4, #(REG_BG0HOFS - REG_BASE)]
        ldr     r0, =SPLASH_VOFS
        strh    r0, [r4, #(REG_BG0VOFS - REG_BASE)]
        ldr     r0, =SPLASH_BG0CNT
        strh    r0, [r4, #(REG_BG0CNT - REG_BASE)]

        ldr     r0, =__splash_palette
        mov     r1, #MEM_PAL
        mov     r2, #(SPLASH_PALETTE_SIZE / 2)
        bl      copy_halfwords

        /* Map rows of 29 entries, tile numbers 1 to 261 in row order */
        ldr     r1, =SPLASH_MAP
        mov     r3, #SPLASH_FIRST_TILE
        mov     r5, #SPLASH_TILES_HIGH
1:      mov     r6, #SPLASH_TILES_WIDE
2:      strh    r3, [r1], #2
        add     r3, r3, #1
        subs    r6, r6, #1
        bne     2b
        add     r1, r1, #(2 * (SBB_WIDTH - SPLASH_TILES_WIDE))
        subs    r5, r5, #1
        bne     1b

        ldr     r0, =__splash_tiles
        ldr     r1, =(MEM_VRAM + SPLASH_FIRST_TILE * TILE8_SIZE)
        ldr     r2, =(SPLASH_TILES_SIZE / 2)
        bl      copy_halfwords

        /* Tile 0 in the background colour: every other map entry shows it */
        mov     r1, #MEM_VRAM
        ldr     r3, =TILE0_FILL
        mov     r2, #(TILE8_SIZE / 2)
3:      strh    r3, [r1], #2
        subs    r2, r2, #1
        bne     3b

        mov     r0, #(DCNT_MODE0 | DCNT_BG0)
        strh    r0, [r4, #(REG_DISPCNT - REG_BASE)]

        /* The cold code first: the resident stage calls into it */
        ldr     r4, =REG_DMA3SAD
        dma3_copy __cold_load, __cold_start, __cold_copy

        dma3_copy __resident_load, __resident_start, RESIDENT_COPY

        ldr     r0, =__resident_start
        bx      r0
        .size boot_entry, . - boot_entry

@ copy_halfwords: r0 = source, r1 = destination, r2 = halfword count (> 0); clobbers r0-r3
        .type copy_halfwords, %function
copy_halfwords:
        ldrh    r3, [r0], #2
        strh    r3, [r1], #2
        subs    r2, r2, #1
        bne     copy_halfwords
        bx      lr
        .size copy_halfwords, . - copy_halfwords

        .pool
