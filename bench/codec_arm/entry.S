/* The codec program's start: interrupts off, the agent's ROM wait states,
 * a stack, the job list, then an undefined instruction, which stops the
 * simulated CPU so that the host can read the answers. */
#include "contract/hw/system.h"

        .section .text.entry, "ax"
        .arm
        .global codec_entry
codec_entry:
        mov     r0, #0x04000000
        mov     r1, #0
        str     r1, [r0, #0x208]        @ IME
        ldr     r0, =REG_WAITCNT
        ldr     r1, =WAITCNT_AGENT
        strh    r1, [r0]
        ldr     sp, =0x03007F00
        bl      codec_main
        .word   0xE7F000F0              @ undefined: the list is done
        .pool

/* copy_burst(src, dst, words): eight words a load and a store, as a
 * dump would bring a block from ROM; words is a multiple of 8. */
        .text
        .global copy_burst
copy_burst:
        push    {r4-r10}
1:      ldmia   r0!, {r3-r10}
        stmia   r1!, {r3-r10}
        subs    r2, r2, #8
        bhi     1b
        pop     {r4-r10}
        bx      lr
