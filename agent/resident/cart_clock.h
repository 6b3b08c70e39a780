/* The cartridge clock's GPIO port (cart_clock.c), as the flash code needs
 * it on boards that carry both: a write to ROM bytes 0xC4-0xC9 reaches the
 * port as well as the chip, and while the port is readable it answers
 * reads there in the ROM's place. */
#ifndef KARTEX_AGENT_CART_CLOCK_H
#define KARTEX_AGENT_CART_CLOCK_H

#include "agent/resident/types.h"
#include "contract/hw/cart_clock.h"

/* The port's halfwords as halfword indexes of the window */
#define CLOCK_PORT_FIRST_HALFWORD (GPIO_PORT_OFFSET / 2)
#define CLOCK_PORT_END_HALFWORD ((GPIO_PORT_OFFSET + GPIO_PORT_BYTES) / 2)

/* Whether the cartridge may carry the clock: a mask ROM, or a flash chip
 * that takes the port's writes as no command */
int clock_port_possible(void);

/* The port back to its state after power-on, which the agent leaves after
 * every clock request and a game expects: the chip-select low first (all
 * pins inputs), then the pins low, then reads from the ROM. On a flash
 * board the chip must be in read mode, where it ignores these writes. */
void clock_port_release(void);

#endif
