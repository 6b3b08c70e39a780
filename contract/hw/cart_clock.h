/* The cartridge clock: the 4-bit GPIO port some games' ROM chips carry at
 * 0x080000C4-C9 and the 3-wire serial real-time clock behind it (GBATEK
 * "GBA Cart GPIO" and "GBA Cart Real-Time Clock"; the clock chip's data
 * sheet). Plain #defines: the agent's C and the C++ side include it. */
#ifndef KARTEX_CONTRACT_HW_CART_CLOCK_H
#define KARTEX_CONTRACT_HW_CART_CLOCK_H

/* ---- GPIO port registers (16-bit, in the ROM window) ---- */
#define REG_GPIO_DATA 0x080000C4      /* pins 0-3 */
#define REG_GPIO_DIRECTION 0x080000C6 /* a bit per pin: 1 = the console drives it */
#define REG_GPIO_CONTROL 0x080000C8   /* GPIO_CONTROL_READABLE: reads return the port */
#define GPIO_PORT_OFFSET 0xC4         /* the port's six bytes from the ROM's start */
#define GPIO_PORT_BYTES 6
#define GPIO_CONTROL_READABLE 0x1     /* 0 (power-on): reads return the ROM's bytes */
#define GPIO_PINS 0xF

/* Pins of the clock */
#define GPIO_PIN_SCK 0x1 /* serial clock: the chip takes SIO at its rising edge */
#define GPIO_PIN_SIO 0x2 /* serial data, both ways */
#define GPIO_PIN_CS 0x4  /* chip select: a transfer lasts while it is high */

/* ---- Clock commands: fixed code 0110, register in bits 1-3, read flag in
 * bit 0; sent most significant bit first, the bytes after them least
 * significant bit first ---- */
#define CLOCK_CMD_RESET 0x60          /* no bytes: status 0, 2000-01-01 00:00:00 */
#define CLOCK_CMD_STATUS_WRITE 0x62   /* 1 byte */
#define CLOCK_CMD_STATUS_READ 0x63
#define CLOCK_CMD_DATETIME_WRITE 0x64 /* 7 bytes: year, month, day, day of week, hour, minute, second (BCD) */
#define CLOCK_CMD_DATETIME_READ 0x65
#define CLOCK_CMD_TIME_WRITE 0x66     /* 3 bytes: hour, minute, second */
#define CLOCK_CMD_TIME_READ 0x67
#define CLOCK_CMD_CODE_MASK 0xF0
#define CLOCK_CMD_CODE 0x60
#define CLOCK_DATETIME_BYTES 7

/* Status register bits */
#define CLOCK_STATUS_24H 0x40        /* hours count 0-23 (else 0-11 with CLOCK_HOUR_PM) */
#define CLOCK_STATUS_POWER_LOST 0x80 /* the supply was lost; cleared when the status is read */
#define CLOCK_STATUS_WRITABLE 0x6A   /* bits 1, 3, 5, 6; bit 7 only reads */
#define CLOCK_STATUS_AFTER_POWER_LOSS 0x82 /* what a chip whose supply came back holds */
#define CLOCK_HOUR_PM 0x80           /* in the hour register: 12:00 or later */

#endif
