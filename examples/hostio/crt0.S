/* Start-up of the example program, loaded at 0x02000000 and started there
 * in ARM state, at its first word or, through the console's BIOS, at the
 * multiboot entry 0xC0. The image begins with a cartridge-style header that
 * the BIOS checks, whose title field receives the tool's clock stamp (the
 * tool mends the complement after stamping). Sets up the stacks, clears
 * .bss and calls main (Thumb); if main returns the program idles.
 */
#include "contract/hw/cart_header.h"
#include "contract/hw/cpu.h"
#include "contract/hw/irq.h"
#include "host/hostio_protocol.h"

        .syntax unified
        .arm
        .section .header, "ax", %progbits

        .global _start
        .type _start, %function
_start:
        b       start
        .byte   CART_LOGO_BYTES

        .global clock_stamp
clock_stamp:
        .ascii  "HOSTIO DEMO"                   @ title field, 12 bytes
        .byte   0
        .ascii  "KHIO"                          @ game code
        .ascii  "00"                            @ maker code
        .byte   HDR_FIXED_VALUE                 @ fixed value
        .fill   10, 1, 0                        @ unit, device type, reserved, version
        .byte   0xAB                            @ header complement of the bytes from the title
        .fill   2, 1, 0                         @ reserved
        .size clock_stamp, CLOCK_STAMP_SIZE
        b       start                           @ MB_ENTRY
        .byte   0, 0                            @ boot mode and slave number: the BIOS writes them
        .fill   MB_JOYBUS_ENTRY - MB_SLAVE_ID - 1, 1, 0
        b       start                           @ MB_JOYBUS_ENTRY

        .section .text.start, "ax", %progbits
@ start: no arguments; never returns
start:
        set_up_stacks
        quiet_interrupts    @ the program polls; the loader's interrupts must not fire

        ldr     r0, =__bss_start
        ldr     r1, =__bss_end
        mov     r2, #0
1:      cmp     r0, r1
        strlo   r2, [r0], #4
        blo     1b

        ldr     r0, =main
        mov     lr, pc
        bx      r0
2:      b       2b
        .size start, . - start
        .pool
