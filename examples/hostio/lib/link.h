/* The console's end of the link: the cable drives the clock, the console
 * arms one 32-bit exchange at a time and waits for it. */
#ifndef HOSTIO_LINK_H
#define HOSTIO_LINK_H

#include <stdint.h>

/* Sets up the serial port: normal 32-bit mode, external clock. */
void hio_link_init(void);
/* Arms one exchange with `out` in the data register and waits until the
 * cable has clocked it; returns the word that came in. */
uint32_t hio_link_exchange(uint32_t out);

#endif
