/* Byte copies to the save window. Its bus is 8 bits wide: every store is
 * one byte and costs the window's wait states, so the loop keeps the rest
 * of each byte to one shift, and reads the source a word at a time.
 */
        .syntax unified
        .arm
        .text

/* The four bytes of a word to [ptr], low byte first, ptr advanced */
        .macro  store_word word, ptr, tmp
        strb    \word, [\ptr], #1
        lsr     \tmp, \word, #8
        strb    \tmp, [\ptr], #1
        lsr     \tmp, \word, #16
        strb    \tmp, [\ptr], #1
        lsr     \tmp, \word, #24
        strb    \tmp, [\ptr], #1
        .endm

@ sram_copy: r0 = save window address, r1 = source, r2 = bytes; clobbers r0-r3, r12
        .section .text.sram_copy, "ax", %progbits
        .global sram_copy
        .type sram_copy, %function
sram_copy:
        tst     r1, #3                  @ a source off a word: byte by byte
        bne     3f
1:      subs    r2, r2, #4
        ldrhs   r3, [r1], #4
        blo     2f
        store_word r3, r0, r12
        b       1b
2:      add     r2, r2, #4              @ the last bytes
3:      subs    r2, r2, #1
        bxlo    lr
        ldrb    r3, [r1], #1
        strb    r3, [r0], #1
        b       3b
        .size sram_copy, . - sram_copy
