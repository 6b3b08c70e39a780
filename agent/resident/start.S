/* Resident stage entry at the start of internal work RAM. The boot stage
 * copied resident stage here, code and initialised data; the agent state lies
 * above that copy and is cleared here before the request loop starts.
 */
#include "contract/wire.h"
#include "contract/hw/cpu.h"
#include "contract/hw/system.h"

        .syntax unified
        .arm
        .section .resident.entry, "ax", %progbits

        .global resident_entry
        .type resident_entry, %function
resident_entry:
        b       1f
        /* AGENT_ID_ADDR: the tool writes its image's identity here before
         * the upload and reads it back on later runs */
        .global agent_id
agent_id:
        .word   0
1:      set_up_stacks

        ldr     r0, =__state_start
        ldr     r1, =__state_end
        mov     r2, #0
2:      cmp     r0, r1
        strlo   r2, [r0], #4
        blo     2b

        ldr     r0, =REG_WAITCNT
        ldr     r1, =WAITCNT_AGENT
        strh    r1, [r0]

        bl      link_init
        bl      state_init
        b       request_loop
        .size resident_entry, . - resident_entry

        .pool
