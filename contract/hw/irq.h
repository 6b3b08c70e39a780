/* Interrupt control and the DMA channels a loader may leave running.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_IRQ_H
#define KARTEX_CONTRACT_HW_IRQ_H

#define REG_IE 0x04000200  /* sources enabled */
#define REG_IF 0x04000202  /* sources raised; writing 1 acknowledges */
#define REG_IME 0x04000208 /* bit 0: the master enable */

/* IE and IF */
#define IRQ_VBLANK 0x0001
#define IRQ_SERIAL 0x0080
#define IRQ_DMA0 0x0100 /* channel n: IRQ_DMA0 << n */
#define IRQ_MASK 0x3FFF /* the fourteen sources */
/* IME */
#define IME_ON 0x0001

/* Control halves of DMA channels 0-2 (channel 3 is the agent's own) */
#define REG_DMA0CNT_H 0x040000BA
#define REG_DMA1CNT_H 0x040000C6
#define REG_DMA2CNT_H 0x040000D2

#ifdef __ASSEMBLER__
/* The agent polls and never takes an interrupt: whatever the loader left
 * enabled (IME, IE, a timed DMA) is switched off before anything else, so
 * that nothing fires into a vector that no longer holds a handler, least of
 * all in the middle of a flash command sequence. Clobbers r0, r1. */
        .macro  quiet_interrupts
        ldr     r0, =REG_IE
        mov     r1, #0
        strh    r1, [r0, #(REG_IME - REG_IE)]
        strh    r1, [r0]
        ldr     r1, =0xFFFF
        strh    r1, [r0, #(REG_IF - REG_IE)]
        mov     r1, #0
        ldr     r0, =REG_DMA0CNT_H
        strh    r1, [r0]
        strh    r1, [r0, #(REG_DMA1CNT_H - REG_DMA0CNT_H)]
        strh    r1, [r0, #(REG_DMA2CNT_H - REG_DMA0CNT_H)]
        .endm
#endif

#endif
