/* The word-program steps of the JEDEC chips and of the status-register
 * pair, one after the other while the chips show them in at once. What
 * stands between the end of one program and the start of the next is one
 * status read and the next step's bus writes: the next halfword is loaded,
 * the link's next word pulled and the pointers moved while the chips work,
 * and the writes of a step follow its read with no jump between. A step
 * the chips do not show done at the second read goes back to the caller,
 * whose bounded wait tells a slow step from a failed one. */
#include "contract/hw/rom_flash.h"

        .syntax unified
        .arm
        .text

/* The JEDEC unlock addresses as a base and an 8-bit offset each */
#define ADDR_1_BASE (JEDEC_ADDR_1 & ~0xFF)
#define ADDR_1_OFS (JEDEC_ADDR_1 & 0xFF)
#define ADDR_2_BASE (JEDEC_ADDR_2 & ~0xFF)
#define ADDR_2_OFS (JEDEC_ADDR_2 & 0xFF)

/* Both halves of a pair's status: ready, and the error bits */
#define PAIR_READY (SR_STATUS_READY * 0x10001)
#define PAIR_CHECKED ((SR_STATUS_READY | SR_STATUS_ERRORS) * 0x10001)

/* The steps' return: r4 is one step past the last one started, which is
 * not counted; the count is of steps of `bytes` bytes from the first
 * (pushed with the callee-saved registers) */
        .macro  steps_counted bytes, shift
        sub     r4, r4, #\bytes
        pop     {r0}
        sub     r0, r4, r0
        lsr     r0, r0, #\shift
        pop     {r4-r11, lr}
        bx      lr
        .endm

@ jedec_steps and bypass_steps: r0 = ROM address of the first halfword,
@ r1 = source (halfword aligned), r2 = halfwords (not 0), r3 = pull;
@ return the halfwords seen in from the first; clobber r0-r3, r12
/* One word is pulled while each halfword at an odd ROM halfword programs.
 * The count returned is short of r2: the halfword after those counted was
 * started, the last one or one that did not read back at the second read,
 * and its wait is the caller's. `unlocked` 1: each step is the unlock, the
 * program command and the data; 0: the chip is in its unlock bypass and a
 * step is the command and the data, two bus writes fewer. */
        .macro  jedec_loop unlocked
        push    {r0, r4-r11, lr}        @ r0: the first halfword's address, for the count
        mov     r4, r0
        mov     r5, r1
        add     r6, r1, r2, lsl #1
        mov     r7, r3
        ldr     r8, =ADDR_1_BASE
        .if \unlocked
        ldr     r9, =ADDR_2_BASE
        mov     r10, #JEDEC_UNLOCK_1
        mov     r11, #JEDEC_UNLOCK_2
        .endif
        mov     r0, #JEDEC_CMD_PROGRAM
        ldrh    r1, [r5], #2
        b       2f
        @ r3 = the halfword in programming at r4 - 2
1:      ldrh    r2, [r4, #-2]
        cmp     r2, r3
        ldrhne  r2, [r4, #-2]
        cmpne   r2, r3
        bne     6f
        @ r1 = the next halfword, r0 = the program command
2:      tst     r4, #2
        .if \unlocked
        strh    r10, [r8, #ADDR_1_OFS]
        strh    r11, [r9, #ADDR_2_OFS]
        .endif
        strh    r0, [r8, #ADDR_1_OFS]
        strh    r1, [r4], #2
        bne     4f
3:      mov     r3, r1
        cmp     r5, r6
        ldrhne  r1, [r5], #2
        bne     1b
        b       6f                      @ the last one: the caller waits for it
4:      mov     r0, #1
        mov     lr, pc
        bx      r7
        mov     r0, #JEDEC_CMD_PROGRAM
        ldrh    r1, [r5, #-2]
        b       3b
6:      steps_counted 2, 1              @ not seen in: not counted
        .endm

        .section .text.jedec_steps, "ax", %progbits
        .global jedec_steps
        .type jedec_steps, %function
jedec_steps:
        jedec_loop 1
        .size jedec_steps, . - jedec_steps
        .pool

        .section .text.bypass_steps, "ax", %progbits
        .global bypass_steps
        .type bypass_steps, %function
bypass_steps:
        jedec_loop 0
        .size bypass_steps, . - bypass_steps
        .pool

@ pair_steps: r0 = ROM address of the first pair (word aligned), r1 =
@ source (word aligned), r2 = pairs (not 0), r3 = pull; returns the pairs
@ seen ready without error bits, from the first; clobbers r0-r3, r12
/* Each step is one 32-bit store of the program command and one of the
 * data: each reaches the bus as two halfword writes, one to each chip. One
 * 32-bit load reads both statuses. One word is pulled while each pair
 * programs. The count returned is short of r2: the pair after those counted
 * was started, the last one or one not seen done at the second read, and
 * its wait is the caller's. */
        .section .text.pair_steps, "ax", %progbits
        .global pair_steps
        .type pair_steps, %function
pair_steps:
        push    {r0, r4-r11, lr}
        mov     r4, r0
        mov     r5, r1
        add     r6, r1, r2, lsl #2
        mov     r7, r3
        ldr     r8, =SR_CMD_PROGRAM * 0x10001
        ldr     r9, =PAIR_CHECKED
        ldr     r10, =PAIR_READY
        ldr     r1, [r5], #4
        b       2f
        @ the pair in programming at r4 - 4
1:      ldr     r2, [r4, #-4]
        and     r2, r2, r9
        cmp     r2, r10
        ldrne   r2, [r4, #-4]
        andne   r2, r2, r9
        cmpne   r2, r10
        bne     6f
        @ r1 = the next pair's data
2:      str     r8, [r4]
        str     r1, [r4], #4
        bl      4f
        cmp     r5, r6
        ldrne   r1, [r5], #4
        bne     1b
        b       6f                      @ the last one: the caller waits for it
4:      mov     r0, #1
        bx      r7                      @ returns to the step
6:      steps_counted 4, 2              @ not seen done: not counted
        .size pair_steps, . - pair_steps
        .pool
