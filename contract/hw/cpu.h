/* ARM7TDMI program status register and the BIOS calls the agent makes.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_CPU_H
#define KARTEX_CONTRACT_HW_CPU_H

/* CPSR mode field, and the I and F bits, kept set: the agent takes no interrupt */
#define PSR_MODE_MASK 0x1F
#define PSR_MODE_IRQ 0x12
#define PSR_MODE_SYS 0x1F
#define PSR_IRQS_MASKED 0xC0

/* Stacks as the BIOS sets them up; the agent uses the same places */
#define BIOS_SP_IRQ 0x03007FA0
#define BIOS_SP_SYS 0x03007F00

/* SoftReset restarts at 0x08000000 if this byte is 0, at 0x02000000 otherwise */
#define BIOS_RESET_FLAG 0x03007FFA
#define BIOS_RESET_TO_CART 0
#define BIOS_RESET_TO_EWRAM 1

/* BIOS function numbers; in ARM state the number sits in bits 16-23 of SWI */
#define BIOS_SOFT_RESET 0x00
#define BIOS_SWI_ARM(n) ((n) << 16)

#ifdef __ASSEMBLER__
/* Both stages start with the BIOS's stacks, ending in system mode with
 * IRQ and FIQ masked. Clobbers nothing but the two banked stack pointers. */
        .macro  set_up_stacks
        msr     cpsr_c, #(PSR_MODE_IRQ | PSR_IRQS_MASKED)
        ldr     sp, =BIOS_SP_IRQ
        msr     cpsr_c, #(PSR_MODE_SYS | PSR_IRQS_MASKED)
        ldr     sp, =BIOS_SP_SYS
        .endm
#endif

#endif
