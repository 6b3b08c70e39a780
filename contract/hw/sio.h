/* Serial (link) port registers, normal 32-bit mode.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_SIO_H
#define KARTEX_CONTRACT_HW_SIO_H

#define REG_SIODATA32_L 0x04000120 /* data, low halfword */
#define REG_SIODATA32_H 0x04000122 /* data, high halfword */
#define REG_SIOCNT 0x04000128
#define REG_RCNT 0x04000134

/* SIOCNT in normal mode */
#define SIO_CLK_INT 0x0001     /* bit 0: internal clock; clear = the cable clocks */
#define SIO_SO_HIGH 0x0008     /* bit 3: SO level while no transfer runs */
#define SIO_START 0x0080       /* bit 7: set to arm, reads 1 until all bits moved */
#define SIO_MODE_MASK 0x3000
#define SIO_MODE_SHIFT 12
#define SIO_MODE(n) ((n) << SIO_MODE_SHIFT)
#define SIO_MODE_8BIT SIO_MODE(0)
#define SIO_MODE_32BIT SIO_MODE(1)
#define SIO_IRQ 0x4000 /* bit 14: interrupt at the end of a transfer */

/* RCNT: 0 selects the SIO modes on the link port */
#define R_MODE_SIO 0x0000
#define R_MODE_GPIO 0x8000 /* bit 15 set: the port's pins are general purpose, SIOCNT's modes off */

/* The agent's settings: the cable clocks, 32-bit words. Each exchange
 * drops SO, then raises it together with the start bit, so the cable sees
 * an edge for every word the console is ready to move. The cable clocks a
 * word at each rise of SO: SO stays low from the set-up to the first
 * exchange, for a rise without the start bit would have a word that the
 * host already sent clocked into a port that takes none. */
#define SIOCNT_LINK_INIT SIO_MODE_32BIT
#define SIOCNT_LINK_PREPARE SIO_MODE_32BIT
#define SIOCNT_LINK_START (SIO_MODE_32BIT | SIO_START | SIO_SO_HIGH)

#endif
