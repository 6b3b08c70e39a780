/* ROM dump loops. While a word moves (32 bit times of the cable's clock),
 * the console reads the next one and adds the one moving to the block's
 * CRC, so that the summing costs no link time; only the stores that load
 * and arm the port lie between two words on the wire.
 */
#include "contract/hw/sio.h"
#include "agent/resident/crc_step.h"

#define SIO_BASE REG_SIODATA32_L
#define OFS_DATA_L (REG_SIODATA32_L - SIO_BASE)
#define OFS_SIOCNT (REG_SIOCNT - SIO_BASE)

        .syntax unified
        .arm
        .text

/* The next ROM word as two halfword reads, low half first */
        .macro  rom_word word, ptr, tmp
        ldrh    \word, [\ptr], #2
        ldrh    \tmp, [\ptr], #2
        orr     \word, \word, \tmp, lsl #16
        .endm

@ send_rom_summed: r0 = words (not 0), r1 = ROM address (word aligned), r2 = running CRC;
@ returns the running CRC in r0; clobbers r1-r3, r12
/* The port is loaded with one 32-bit store, then armed; the carry flag
 * says whether another word follows the one armed (the port's poll keeps
 * it), so the arming is followed at once by the branch that decides. */
        .section .text.send_rom_summed, "ax", %progbits
        .global send_rom_summed
        .type send_rom_summed, %function
send_rom_summed:
        push    {r4-r7}
        mov     r4, r2
        ldr     r2, =SIO_BASE
        mov     r3, #SIOCNT_LINK_PREPARE
        ldr     r12, =SIOCNT_LINK_START
        ldr     r5, =crc32_table
        rom_word r6, r1, r7
        sub     r0, r0, #1              @ words after the one armed next
        cmp     r0, #1                  @ carry set: another follows
        b       2f
1:      ldrh    r7, [r2, #OFS_SIOCNT]
        tst     r7, #SIO_START          @ an immediate without rotation: carry kept
        bne     1b
2:      str     r6, [r2, #OFS_DATA_L]
        strh    r3, [r2, #OFS_SIOCNT]
        strh    r12, [r2, #OFS_SIOCNT]
        bcc     3f
        crc_word r4, r6, r5, r7
        rom_word r6, r1, r7
        sub     r0, r0, #1
        cmp     r0, #1
        b       1b
3:      crc_word r4, r6, r5, r7         @ the last word, while it moves
9:      ldrh    r7, [r2, #OFS_SIOCNT]
        tst     r7, #SIO_START
        bne     9b
        mov     r0, r4
        pop     {r4-r7}
        bx      lr
        .size send_rom_summed, . - send_rom_summed
        .pool

@ rom_uniform: r0 = ROM address (word aligned), r1 = words (not 0);
@ returns 1 or 0 in r0; clobbers r1-r3, r12
/* Four words a pass in one burst; data that is not uniform stops the scan
 * within the first pass. */
        .section .text.rom_uniform, "ax", %progbits
        .global rom_uniform
        .type rom_uniform, %function
rom_uniform:
        push    {r4, r5}
        ldrh    r2, [r0]
        orr     r3, r2, r2, lsl #16     @ the first halfword in both halves
        subs    r1, r1, #4
        blo     2f
1:      ldmia   r0!, {r2, r4, r5, r12}
        cmp     r2, r3
        cmpeq   r4, r3
        cmpeq   r5, r3
        cmpeq   r12, r3
        bne     8f
        subs    r1, r1, #4
        bhs     1b
2:      adds    r1, r1, #4
        beq     7f
3:      ldr     r2, [r0], #4
        cmp     r2, r3
        bne     8f
        subs    r1, r1, #1
        bne     3b
7:      mov     r0, #1
        pop     {r4, r5}
        bx      lr
8:      mov     r0, #0
        pop     {r4, r5}
        bx      lr
        .size rom_uniform, . - rom_uniform
        .pool
