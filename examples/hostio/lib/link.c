#include "examples/hostio/lib/link.h"

#include "contract/hw/sio.h"
#include "contract/wire.h"

#define REG16(addr) (*(volatile uint16_t *)(addr))

void hio_link_init(void)
{
  /* Until the first word moves, the port shifts out the idle word. */
  /* 32-bit normal mode first: only then is SIODATA32 the data register */
  REG16(REG_RCNT) = R_MODE_SIO;
  REG16(REG_SIOCNT) = SIOCNT_LINK_INIT;
  REG16(REG_SIODATA32_L) = (uint16_t)LINK_IDLE_WORD;
  REG16(REG_SIODATA32_H) = (uint16_t)(LINK_IDLE_WORD >> 16);
}

uint32_t hio_link_exchange(uint32_t out)
{
  REG16(REG_SIODATA32_L) = (uint16_t)out;
  REG16(REG_SIODATA32_H) = (uint16_t)(out >> 16);
  /* SO drops, then rises with the start bit: the cable sees one edge per word. */
  REG16(REG_SIOCNT) = SIOCNT_LINK_PREPARE;
  REG16(REG_SIOCNT) = SIOCNT_LINK_START;
  while (REG16(REG_SIOCNT) & SIO_START)
    ;
  return (uint32_t)REG16(REG_SIODATA32_L) | (uint32_t)REG16(REG_SIODATA32_H) << 16;
}
