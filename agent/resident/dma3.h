/* DMA channel 3, used synchronously: started and waited for. */
#ifndef KARTEX_AGENT_DMA3_H
#define KARTEX_AGENT_DMA3_H

#include "contract/hw/dma.h"
#include "agent/resident/types.h"

/* The barriers keep the compiler from moving stores to the source after
 * the start, or loads from the destination before the end: the DMA unit
 * reads and writes that memory behind the compiler's back. */
static inline void dma3_run(const volatile void *src, volatile void *dst, u32 control)
{
  __asm__ volatile("" ::: "memory");
  *(volatile u32 *)REG_DMA3SAD = (u32)src;
  *(volatile u32 *)REG_DMA3DAD = (u32)dst;
  *(volatile u32 *)REG_DMA3CNT = control;
  while (*(const volatile u32 *)REG_DMA3CNT & DMA_ENABLE)
    ;
  __asm__ volatile("" ::: "memory");
}

#endif
