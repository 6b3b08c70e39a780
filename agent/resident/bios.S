#include "contract/hw/cpu.h"

        .syntax unified
        .arm

@ bios_soft_reset: r0 = restart flag (0: cartridge, else 0x02000000); clobbers r1, sp; never returns
        .section .text.bios_soft_reset, "ax", %progbits
        .global bios_soft_reset
        .type bios_soft_reset, %function
bios_soft_reset:
        ldr     r1, =BIOS_RESET_FLAG
        strb    r0, [r1]
        ldr     sp, =BIOS_SP_SYS
        swi     BIOS_SWI_ARM(BIOS_SOFT_RESET)
        .size bios_soft_reset, . - bios_soft_reset
        .pool
