/* A block received straight into the save window: each word goes to the
 * chip while the next one moves on the link, so that an SRAM write costs
 * the link's time and no copy after it. Per byte, the old value is kept
 * (a block that fails its check is put back), the new one stored and read
 * back, and what the chip holds goes through the running CRC: a block
 * whose check passes is in the chip as sent. About 190 cycles a word at
 * the window's 8 wait states, against the 268 a word takes on the link.
 * The next word is armed first: it moves while this one's bytes are stored.
 */
#include "agent/resident/crc_step.h"
#include "agent/resident/link_port.h"

        .syntax unified
        .arm
        .text

/* The low byte of \word to [\window], its old value to [\old] (advanced),
 * what reads back into \crc; \word shifted on to the next byte. */
        .macro  store_byte word, window, old, crc, table, tmp, back
        ldrb    \tmp, [\window]
        strb    \tmp, [\old], #1
        strb    \word, [\window]
        ldrb    \back, [\window], #1
        eor     \crc, \crc, \back
        crc_step \crc, \table, \tmp
        lsr     \word, \word, #8
        .endm

/* The receive loop's head, shared by both loops below: the first word armed,
 * then for each word (its label 1): wait for it, arm the next unless r0
 * counts down to the last, store its four bytes. The flags of the count
 * stay for the loop's closing `bne 1b`. r0 = word count, r1 = save window,
 * r2 = old bytes, r3 = running CRC; uses r4-r9, r12. */
        .macro  recv_store_words_head
        ldr     r4, =SIO_BASE
        mov     r5, #SIOCNT_LINK_PREPARE
        ldr     r6, =SIOCNT_LINK_START
        ldr     r7, =crc32_table
        strh    r5, [r4, #OFS_SIOCNT]
        strh    r6, [r4, #OFS_SIOCNT]
1:      ldrh    r12, [r4, #OFS_SIOCNT]
        tst     r12, #SIO_START
        bne     1b
        ldr     r8, [r4, #OFS_DATA_L]
        subs    r0, r0, #1              @ the next word moves while this one is stored
        strhne  r5, [r4, #OFS_SIOCNT]
        strhne  r6, [r4, #OFS_SIOCNT]
        store_byte r8, r1, r2, r3, r7, r12, r9  @ none of them sets the flags
        store_byte r8, r1, r2, r3, r7, r12, r9
        store_byte r8, r1, r2, r3, r7, r12, r9
        store_byte r8, r1, r2, r3, r7, r12, r9
        .endm

@ recv_words_to_save: r0 = word count (at least 1), r1 = save window address,
@ r2 = where the old bytes go, r3 = running CRC; returns the running CRC of
@ the bytes read back in r0; clobbers r1-r3, r12
        .section .text.recv_words_to_save, "ax", %progbits
        .global recv_words_to_save
        .type recv_words_to_save, %function
recv_words_to_save:
        push    {r4-r9}
        recv_store_words_head
        bne     1b
        mov     r0, r3
        pop     {r4-r9}
        bx      lr
        .size recv_words_to_save, . - recv_words_to_save
        .pool

/* The low byte at [\at] (advanced) into \crc */
        .macro  sum_byte at, crc, table, tmp
        ldrb    \tmp, [\at], #1
        eor     \crc, \crc, \tmp
        crc_step \crc, \table, \tmp
        .endm

@ recv_words_to_save_ahead: as recv_words_to_save, and for each word four
@ bytes of what lies ahead summed too, in the time the link still takes
@ for the next word. r0 = word count (at least 1), r1 = save window
@ address, r2 = where the old bytes go, r3 = struct stream_sums (the
@ running CRC, the CRC ahead, the window address ahead), updated;
@ clobbers r0-r3, r12
        .section .text.recv_words_to_save_ahead, "ax", %progbits
        .global recv_words_to_save_ahead
        .type recv_words_to_save_ahead, %function
recv_words_to_save_ahead:
        push    {r3-r11, lr}
        ldr     r10, [r3, #8]
        ldr     r11, [r3, #4]
        ldr     r3, [r3]
        recv_store_words_head
        sum_byte r10, r11, r7, r12
        sum_byte r10, r11, r7, r12
        sum_byte r10, r11, r7, r12
        sum_byte r10, r11, r7, r12
        bne     1b
        ldr     r12, [sp]
        str     r3, [r12]
        str     r11, [r12, #4]
        str     r10, [r12, #8]
        pop     {r3-r11, lr}
        bx      lr
        .size recv_words_to_save_ahead, . - recv_words_to_save_ahead
        .pool
