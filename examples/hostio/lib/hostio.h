/* Host file service for console programs loaded by the tool: text on the
 * host's terminal and files on the host's disk, over the link.
 *
 * Handles are the host's; -1 marks a failure. Paths use '/' on every host.
 */
#ifndef HOSTIO_H
#define HOSTIO_H

#include <stdint.h>

#include "host/hostio_protocol.h"

/* Sets up the link port. Call first. */
void hio_init(void);
/* Answers the cartridge-variant request that the tool sends right after it
 * started the program; returns the request code that came. */
uint32_t hio_answer_variant(uint32_t variant);

/* Prints text on the host (any length: long text goes in several requests). */
void hio_print(const char *text);
/* mode: OPEN_READ_ONLY, OPEN_WRITE_ONLY or OPEN_READ_WRITE, with
 * OPEN_APPEND, OPEN_CREATE, OPEN_TRUNCATE. Paths up to 255 characters. */
int32_t hio_open(const char *path, uint32_t mode);
void hio_close(int32_t handle);
/* Bytes read (fewer at the end of the file, 0 there), or -1. */
int32_t hio_read(int32_t handle, void *into, uint32_t bytes);
/* The host does not report whether the write succeeded. */
void hio_write(int32_t handle, const void *from, uint32_t bytes);
/* origin: ORIGIN_START, ORIGIN_CURRENT or ORIGIN_END; the new position or -1. */
int32_t hio_seek(int32_t handle, int32_t offset, uint32_t origin);

#endif
