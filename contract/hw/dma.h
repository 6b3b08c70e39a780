/* DMA registers; channel 3 is the agent's.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_DMA_H
#define KARTEX_CONTRACT_HW_DMA_H

#define REG_DMA0SAD 0x040000B0 /* channel n at + n * DMA_CHANNEL_STRIDE: SAD, DAD, CNT */
#define DMA_CHANNEL_STRIDE 12
#define DMA_CHANNELS 4
#define REG_DMA3SAD 0x040000D4 /* source address */
#define REG_DMA3DAD 0x040000D8 /* destination address */
#define REG_DMA3CNT 0x040000DC /* unit count (low half) and control (high half) */

/* DMA3CNT as one 32-bit word */
#define DMA_COUNT_MASK 0x0000FFFF
#define DMA_COUNT_SHIFT 0
#define DMA_COUNT(n) ((n) << DMA_COUNT_SHIFT)
#define DMA_DST_INC 0x00000000  /* bits 21-22 = 0: destination address increments */
#define DMA_SRC_INC 0x00000000  /* bits 23-24 = 0: source address increments */
#define DMA_16 0x00000000
#define DMA_32 0x04000000       /* bit 26: 32-bit units */
#define DMA_TIMING_MASK 0x30000000
#define DMA_IRQ 0x40000000 /* bit 30: interrupt at the end */
#define DMA_TIMING_SHIFT 28
#define DMA_NOW (0 << DMA_TIMING_SHIFT) /* start at once */
#define DMA_ENABLE 0x80000000   /* bit 31: set to start, reads 0 once the transfer is done */

/* A block of halfwords moved at once, both addresses incrementing */
#define DMA_COPY16_NOW(n) (DMA_ENABLE | DMA_NOW | DMA_16 | DMA_SRC_INC | DMA_DST_INC | DMA_COUNT(n))

#endif
