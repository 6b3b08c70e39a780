/* The link port's registers as the assembly loops address them: offsets
 * from the 32-bit data register, the first of the block. */
#ifndef KARTEX_AGENT_LINK_PORT_H
#define KARTEX_AGENT_LINK_PORT_H

#include "contract/hw/sio.h"

#define SIO_BASE REG_SIODATA32_L
#define OFS_DATA_L (REG_SIODATA32_L - SIO_BASE)
#define OFS_DATA_H (REG_SIODATA32_H - SIO_BASE)
#define OFS_SIOCNT (REG_SIOCNT - SIO_BASE)
#define OFS_RCNT (REG_RCNT - SIO_BASE)

#endif
