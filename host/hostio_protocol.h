/* Host file service and clock stamp: values shared by the host tool and the
 * console programs that use the service.
 *
 * This header is included from C++ and from the console side's C, so it
 * holds plain #defines only. Every value here travels on the link or sits
 * at a fixed place in a program image.
 */
#ifndef KARTEX_HOST_HOSTIO_PROTOCOL_H
#define KARTEX_HOST_HOSTIO_PROTOCOL_H

/* ---- Request codes: the first word a program sends ---- */
#define SVC_PRINT 0xF0F0F000 /* n, n words of text */
#define SVC_OPEN 0xF0F0F001  /* n, n words of path, mode; answer: handle or -1 */
#define SVC_CLOSE 0xF0F0F002 /* handle */
#define SVC_READ 0xF0F0F003  /* handle, byte count; answer: count read or -1, then the data */
#define SVC_WRITE 0xF0F0F004 /* handle, byte count, the data */
#define SVC_SEEK 0xF0F0F005  /* handle, offset, origin; answer: new position or -1 */
#define SVC_IDLE 0x5555AAAA  /* what an idle link port shifts out; ignored */

#define SVC_FAILED 0xFFFFFFFF /* -1: the answer of a failed request */

/* Text and paths travel in a buffer of 64 words and end with a NUL. */
#define SVC_TEXT_WORDS 64
#define SVC_TEXT_BYTES (SVC_TEXT_WORDS * 4)
/* One read answers at most one transfer of 65,535 words. */
#define SVC_MAX_READ 262140

/* ---- Open mode word of SVC_OPEN ---- */
#define OPEN_ACCESS_MASK 0x0003
#define OPEN_READ_WRITE 0x0000 /* 3 also means read and write */
#define OPEN_READ_ONLY 0x0001
#define OPEN_WRITE_ONLY 0x0002
#define OPEN_APPEND 0x0100   /* every write goes to the end of the file */
#define OPEN_CREATE 0x0200   /* create the file if it does not exist */
#define OPEN_TRUNCATE 0x0400 /* empty an existing file */

/* ---- Seek origins of SVC_SEEK ---- */
#define ORIGIN_START 0
#define ORIGIN_CURRENT 1
#define ORIGIN_END 2

/* ---- Clock stamp: the title field of a program image's header ---- */
#define CLOCK_STAMP_OFFSET 160
#define CLOCK_STAMP_SIZE 12
#define CLOCK_STAMP_MAGIC "RTCD"
#define CLOCK_STAMP_MAGIC_SIZE 4
/* Offsets inside the stamp: plain binary bytes, not BCD */
#define STAMP_YEAR 4    /* year modulo 100 */
#define STAMP_MONTH 5   /* 1 to 12 */
#define STAMP_DAY 6     /* 1 to 31 */
#define STAMP_WEEKDAY 7 /* 0 to 6, 0 being Sunday */
#define STAMP_HOUR 8
#define STAMP_MINUTE 9
#define STAMP_SECOND 10

#endif
