/* Link port primitives. The cable is the clock master: the console arms one
 * 32-bit exchange at a time and waits for it. These loops run once per word
 * at up to ~250 kB/s, so they keep everything in registers and touch the
 * port with halfword accesses only.
 */
#include "agent/resident/crc_step.h"
#include "agent/resident/link_port.h"

#define IDLE_LOW 0xAAAA  /* data register holds 0x5555AAAA until the first word */
#define IDLE_HIGH 0x5555

        .syntax unified
        .arm
        .text

/* One exchange: drop SO, arm with SO raised, wait until the cable has
 * clocked all 32 bits. base = port registers, prep/start = SIOCNT values. */
        .macro  exchange base, prep, start, tmp
        strh    \prep, [\base, #OFS_SIOCNT]
        strh    \start, [\base, #OFS_SIOCNT]
9:      ldrh    \tmp, [\base, #OFS_SIOCNT]
        tst     \tmp, #SIO_START
        bne     9b
        .endm

@ link_init: no arguments; clobbers r0, r1
/* The port goes to 32-bit normal mode first: SIODATA32 is the data register
 * only in that mode. */
        .section .text.link_init, "ax", %progbits
        .global link_init
        .type link_init, %function
link_init:
        ldr     r0, =SIO_BASE
        mov     r1, #R_MODE_SIO
        strh    r1, [r0, #OFS_RCNT]
        ldr     r1, =SIOCNT_LINK_INIT
        strh    r1, [r0, #OFS_SIOCNT]
        ldr     r1, =IDLE_LOW
        strh    r1, [r0, #OFS_DATA_L]
        ldr     r1, =IDLE_HIGH
        strh    r1, [r0, #OFS_DATA_H]
        bx      lr
        .size link_init, . - link_init
        .pool

@ recv_words: r0 = word count, r1 = destination (halfword aligned); clobbers r0-r3, r12
/* The data register is not reloaded: the console shifts out whatever it
 * holds, the idle word first, afterwards the last word moved. */
        .section .text.recv_words, "ax", %progbits
        .global recv_words
        .type recv_words, %function
recv_words:
        cmp     r0, #0
        bxeq    lr
        push    {r4}
        ldr     r2, =SIO_BASE
        mov     r3, #SIOCNT_LINK_PREPARE
        ldr     r12, =SIOCNT_LINK_START
1:      exchange r2, r3, r12, r4
        ldrh    r4, [r2, #OFS_DATA_L]
        strh    r4, [r1], #2
        ldrh    r4, [r2, #OFS_DATA_H]
        strh    r4, [r1], #2
        subs    r0, r0, #1
        bne     1b
        pop     {r4}
        bx      lr
        .size recv_words, . - recv_words
        .pool

@ recv_words_summed: r0 = word count, r1 = destination (halfword aligned),
@ r2 = running CRC; returns the running CRC over the words in r0; clobbers r1-r3, r12
/* The next word is armed as soon as the one that moved is read, with one
 * 32-bit load; it is stored and goes through the CRC while the next one
 * moves, so that checking a block costs no time beside the link's. */
        .section .text.recv_words_summed, "ax", %progbits
        .global recv_words_summed
        .type recv_words_summed, %function
recv_words_summed:
        push    {r4-r7}
        mov     r4, r2
        ldr     r2, =SIO_BASE
        mov     r3, #SIOCNT_LINK_PREPARE
        ldr     r12, =SIOCNT_LINK_START
        ldr     r5, =crc32_table
        cmp     r0, #0
        beq     8f
        strh    r3, [r2, #OFS_SIOCNT]
        strh    r12, [r2, #OFS_SIOCNT]
9:      ldrh    r7, [r2, #OFS_SIOCNT]
        tst     r7, #SIO_START
        bne     9b
        ldr     r6, [r2, #OFS_DATA_L]
        subs    r0, r0, #1
        strhne  r3, [r2, #OFS_SIOCNT]
        strhne  r12, [r2, #OFS_SIOCNT]
        strh    r6, [r1], #2
        lsr     r7, r6, #16
        strh    r7, [r1], #2
        crc_word r4, r6, r5, r7         @ keeps the flags
        bne     9b
8:      mov     r0, r4
        pop     {r4-r7}
        bx      lr
        .size recv_words_summed, . - recv_words_summed
        .pool

@ link_arm: no arguments; clobbers r0-r2
/* Arms the exchange of the next word and returns at once: the word moves
 * while the console works on something else, and recv_armed_summed takes
 * it. */
        .section .text.link_arm, "ax", %progbits
        .global link_arm
        .type link_arm, %function
link_arm:
        ldr     r0, =SIO_BASE
        mov     r1, #SIOCNT_LINK_PREPARE
        ldr     r2, =SIOCNT_LINK_START
        strh    r1, [r0, #OFS_SIOCNT]
        strh    r2, [r0, #OFS_SIOCNT]
        bx      lr
        .size link_arm, . - link_arm
        .pool

@ recv_armed_summed: r0 = word count (not 0), r1 = destination (halfword
@ aligned), r2 = running CRC, r3 = nonzero to arm the word after the last;
@ the first word is armed already. Returns the running CRC; clobbers r1-r3, r12
/* recv_words_summed, but the exchange in flight at the call is the first
 * word, and the one armed at the return is the next: a word keeps moving
 * while the console commands the chips between two calls. */
        .section .text.recv_armed_summed, "ax", %progbits
        .global recv_armed_summed
        .type recv_armed_summed, %function
recv_armed_summed:
        push    {r4-r8}
        mov     r4, r2
        mov     r8, r3
        ldr     r2, =SIO_BASE
        mov     r3, #SIOCNT_LINK_PREPARE
        ldr     r12, =SIOCNT_LINK_START
        ldr     r5, =crc32_table
9:      ldrh    r7, [r2, #OFS_SIOCNT]
        tst     r7, #SIO_START
        bne     9b
        ldr     r6, [r2, #OFS_DATA_L]
        cmp     r0, #1
        cmpeq   r8, #0                  @ Z: the last word, and none after it
        strhne  r3, [r2, #OFS_SIOCNT]
        strhne  r12, [r2, #OFS_SIOCNT]
        strh    r6, [r1], #2
        lsr     r7, r6, #16
        strh    r7, [r1], #2
        crc_word r4, r6, r5, r7
        subs    r0, r0, #1
        bne     9b
        mov     r0, r4
        pop     {r4-r8}
        bx      lr
        .size recv_armed_summed, . - recv_armed_summed
        .pool

@ send_words: r0 = word count, r1 = source (halfword aligned); clobbers r0-r3, r12
/* What the cable shifts in meanwhile is dropped. The next word is fetched
 * while this one moves, so that only the stores and the arming lie between
 * two words on the wire; nothing past the last word is read. */
        .section .text.send_words, "ax", %progbits
        .global send_words
        .type send_words, %function
send_words:
        cmp     r0, #0
        bxeq    lr
        push    {r4-r6}
        ldr     r2, =SIO_BASE
        mov     r3, #SIOCNT_LINK_PREPARE
        ldr     r12, =SIOCNT_LINK_START
        ldrh    r4, [r1], #2
        ldrh    r5, [r1], #2
1:      strh    r4, [r2, #OFS_DATA_L]
        strh    r5, [r2, #OFS_DATA_H]
        strh    r3, [r2, #OFS_SIOCNT]
        strh    r12, [r2, #OFS_SIOCNT]
        subs    r0, r0, #1
        ldrhne  r4, [r1], #2
        ldrhne  r5, [r1], #2
9:      ldrh    r6, [r2, #OFS_SIOCNT]
        tst     r6, #SIO_START
        bne     9b
        cmp     r0, #0
        bne     1b
        pop     {r4-r6}
        bx      lr
        .size send_words, . - send_words
        .pool

