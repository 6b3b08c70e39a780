/* Inner loops of the CRC-32 requests, from internal work RAM. Each byte
 * costs one table load and three ALU steps; the 1 KiB table lies in
 * internal work RAM too, so a load takes no wait state. A halfword is
 * XORed into the running CRC whole and then shifted out a byte at a time.
 */
#include "agent/resident/crc_step.h"

        .syntax unified
        .arm
        .text

/* One halfword from [ptr], ptr advanced */
        .macro  crc_half crc, ptr, table, tmp
        ldrh    \tmp, [\ptr], #2
        eor     \crc, \crc, \tmp
        crc_step \crc, \table, \tmp
        crc_step \crc, \table, \tmp
        .endm

/* One byte from [ptr], ptr advanced */
        .macro  crc_byte crc, ptr, table, tmp
        ldrb    \tmp, [\ptr], #1
        eor     \crc, \crc, \tmp
        crc_step \crc, \table, \tmp
        .endm

@ crc32_halfwords: r0 = running CRC, r1 = address (halfword aligned), r2 = halfwords;
@ returns the running CRC in r0; clobbers r1-r3, r12
        .section .text.crc32_halfwords, "ax", %progbits
        .global crc32_halfwords
        .type crc32_halfwords, %function
crc32_halfwords:
        ldr     r3, =crc32_table
        subs    r2, r2, #8
        blo     2f
1:      crc_half r0, r1, r3, r12        @ 16 bytes a pass
        crc_half r0, r1, r3, r12
        crc_half r0, r1, r3, r12
        crc_half r0, r1, r3, r12
        crc_half r0, r1, r3, r12
        crc_half r0, r1, r3, r12
        crc_half r0, r1, r3, r12
        crc_half r0, r1, r3, r12
        subs    r2, r2, #8
        bhs     1b
2:      adds    r2, r2, #8
        bxeq    lr
3:      crc_half r0, r1, r3, r12
        subs    r2, r2, #1
        bne     3b
        bx      lr
        .size crc32_halfwords, . - crc32_halfwords
        .pool

@ crc32_bytes: r0 = running CRC, r1 = address, r2 = bytes;
@ returns the running CRC in r0; clobbers r1-r3, r12
        .section .text.crc32_bytes, "ax", %progbits
        .global crc32_bytes
        .type crc32_bytes, %function
crc32_bytes:
        ldr     r3, =crc32_table
        subs    r2, r2, #16
        blo     2f
1:      .rept   16                      @ 16 bytes a pass: the loop's branch costs a cycle in 70
        crc_byte r0, r1, r3, r12
        .endr
        subs    r2, r2, #16
        bhs     1b
2:      adds    r2, r2, #16
        bxeq    lr
3:      crc_byte r0, r1, r3, r12
        subs    r2, r2, #1
        bne     3b
        bx      lr
        .size crc32_bytes, . - crc32_bytes
        .pool
