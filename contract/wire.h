/* Every value that travels between the host tool and the console agent.
 *
 * This header is included from C++, from the agent's C and from its
 * assembly, so it holds plain #defines only. Every value here travels on
 * the cable or is a fixed address in the console's memory map.
 */
#ifndef KARTEX_CONTRACT_WIRE_H
#define KARTEX_CONTRACT_WIRE_H

/* The ROM kinds, variants and save types that the replies carry */
#include "contract/cart_facts.h"
#include "contract/hw/display.h"

/* ---- Command forms on the command pipe (first byte) ---- */
#define CMD_REQUEST 0x00 /* 18-byte agent request record */
#define CMD_READ 0x01    /* count of words clocked from the console */
#define CMD_WRITE 0x02   /* count of words clocked to the console */
#define CMD_REG 0x03     /* register index, bit 7 set for a write */

#define CMD_REG_WRITE_FLAG 0x80
#define CMD_REQUEST_WORDS 0x04  /* words that follow in a request record */
#define CMD_REQUEST_SIZE 18     /* bytes of one request record */
#define CMD_READ_LONG_SIZE 64   /* bytes of the long read header */
#define CMD_READ_LONG_MODE 0x07 /* value in bytes 3-4 of the long read header */
#define CMD_MAX_WORDS 0xFFFF    /* the count field is 16 bits */

/* ---- Cable registers (indexes 0-127) ---- */
#define CABLE_REG_STATUS 0
#define CABLE_REG_SESSION 1
#define CABLE_REG_BOOT 2
#define CABLE_REG_SAVE_TYPE 3
#define CABLE_REG_ROM_KIND 4
#define CABLE_REG_ROM_SIZE 5
#define CABLE_REG_ERASE_BLOCK 6
#define CABLE_REG_CART_FINGERPRINT 7 /* ours: the fingerprint of the cartridge identified */
#define CABLE_REG_COUNT 128

/* CABLE_REG_STATUS bits */
#define STATUS_LINK_UP 0x3     /* bits 0 and 1: console ready, handshake done */
#define STATUS_NO_WORD 0x4     /* bit 2: no console word waiting to be clocked */

#define SESSION_MARKER 0x12345678 /* agent loaded and cartridge identified */
#define BOOT_PATTERN 0xFEDCBA98   /* written to CABLE_REG_BOOT to start the handshake */

/* ---- Agent requests: code, then three argument words ---- */
#define REQ_CODE_HIGH 0xFFFF0000 /* high half of every request code */
#define REQ_CART_INFO 0xFFFF0001
#define REQ_RUN_PROGRAM 0xFFFF0002
#define REQ_FLASH_ERASE 0xFFFF0003
#define REQ_FLASH_PROGRAM 0xFFFF0004
#define REQ_FLASH_WRITE 0xFFFF0005
#define REQ_MEM_READ 0xFFFF0006
#define REQ_MEM_WRITE 0xFFFF0007
#define REQ_MEM_SEARCH 0xFFFF0008
#define REQ_BOOT_CART 0xFFFF0009
#define REQ_SRAM_BANK_LOAD 0xFFFF000A
#define REQ_SRAM_BANK_STORE 0xFFFF000B
#define REQ_SAVE_TYPE 0xFFFF000C
#define REQ_SAVE_READ 0xFFFF000D
#define REQ_EEPROM_READ 0xFFFF000E
#define REQ_EEPROM_WRITE 0xFFFF000F
#define REQ_SRAM_WRITE 0xFFFF0010
#define REQ_FLASH_SAVE_WRITE 0xFFFF0011
#define REQ_ROM_READ 0xFFFF0012
#define REQ_FLASH_FREE 0xFFFF0020
#define REQ_CART_VARIANT 0xFFFF0021

/* Requests of ours, beside the set above. The tool sends them only to an
 * agent whose identity word it recognises (AGENT_ID_ADDR). */
#define REQ_ROM_CRC32 0xFFFF0030    /* ROM offset, bytes, block: one CRC-32 per block */
#define REQ_SAVE_CRC32 0xFFFF0031   /* save offset, bytes, block: one CRC-32 per block */
#define REQ_FLASH_UPDATE 0xFFFF0032 /* block offset, bytes, check: erase only if needed */
#define REQ_CART_FINGERPRINT 0xFFFF0033 /* one word: CRC-32 of the header and chip IDs */

/* A video frame as changes to a mode-4 page: page (0 or 1), payload bytes,
 * and the display control value written once the page is whole. The
 * payload is a stream of halfwords: an op halfword (VIDEO_OP_* in bits
 * 14-15, a count of pixel pairs in bits 0-12), then its operands. The agent keeps
 * at most VIDEO_FRAME_MAX_WORDS of it and takes the rest off the link. */
#define REQ_VIDEO_FRAME 0xFFFF0034
#define VIDEO_FRAME_MAX_WORDS 9600   /* one whole page */
#define VIDEO_PAGE_BYTES M4_PAGE_SIZE         /* 240 x 160 pixels, a byte each */
#define VIDEO_PAGE1_OFFSET BITMAP_PAGE1_OFFSET /* page 1 from the start of video RAM */
#define VIDEO_OP_SHIFT 14
#define VIDEO_OP_SKIP 0    /* count pairs stay as the page holds them */
#define VIDEO_OP_FILL 1    /* one operand: the pair repeated count times */
#define VIDEO_OP_LITERAL 2 /* count operands, one pair each */
#define VIDEO_OP_COPY 3    /* one operand: the byte offset of the source */
#define VIDEO_COUNT_MASK 0x1FFF
#define VIDEO_COPY_OTHER 0x2000 /* copy op: the source is the other page */

/* Flash ROM failures since the tool last asked: three words, the count,
 * the ROM offset of the first and its cause; the record starts anew. */
#define REQ_FLASH_FAILURES 0xFFFF0038
#define FLASH_FAIL_STATUS_MASK 0x00FF /* the status the chip showed */
#define FLASH_FAIL_ERASE 0x0100
#define FLASH_FAIL_PROGRAM 0x0200
#define FLASH_FAIL_TIMEOUT 0x0400     /* it never reported ready */
#define FLASH_FAIL_PROTECTED 0x0800   /* a protected sector: the chip ignored it */

/* The check word of a block write of ours (REQ_FLASH_UPDATE,
 * REQ_SAVE_WRITE_CHECKED, and REQ_ROM_DUMP over no data): the CRC-32 of the block's bytes followed by the
 * request's offset and byte count words, little-endian, so that a bit
 * flipped on the link in the data or in those arguments is caught before
 * anything reaches the chip. */
#define UPDATE_REWRITE 0x80000000 /* REQ_FLASH_UPDATE bytes: erase and program even if it holds the data */

/* A save block written once its data matched its check word: save offset,
 * bytes, check word; the method is the one of the save type the agent
 * found. Replies REPLY_DONE, WRITE_CHECK_FAILED with nothing written, or
 * SAVE_WRITE_FAILED when a FLASH save sector of the block did not take. */
#define REQ_SAVE_WRITE_CHECKED 0xFFFF0039

/* What the agent learnt of a kind-10 chip: CFI_INFO_WORDS words. Word 0:
 * maker (low half) and device (high half) of autoselect; 1: autoselect
 * words 0x0E (low) and 0x0F (high); 2: the command set (low half),
 * CFI_INFO_D0D1 when the board swaps D0 and D1; 3: write buffer bytes (0:
 * none); 4: region count; 5-8: regions, blocks (low half) and block bytes
 * / 256 (high half); 9-11: the maximum word program, buffer program (us)
 * and block erase (ms) the tables give. All 0 for other kinds. */
#define REQ_CFI_INFO 0xFFFF003A
#define CFI_INFO_WORDS 12
#define CFI_INFO_D0D1 0x10000
#define CFI_MAX_REGIONS 4
/* Command sets a CFI table names (word 2 of REQ_CFI_INFO) */
#define CFI_SET_INTEL_EXTENDED 0x0001 /* status register, block locks */
#define CFI_SET_AMD 0x0002            /* unlock prefix, data polling */
#define CFI_SET_INTEL_STANDARD 0x0003 /* status register */

/* The cartridge clock (contract/hw/cart_clock.h): CLOCK_INFO_WORDS words.
 * Word 0: CLOCK_PRESENT with the status register in bits 0-7, or 0 when
 * there is none (the port is probed on a mask ROM only: on a flash ROM its
 * writes would reach the chip as commands); 1: year, month, day, day of
 * week; 2: hour, minute, second (the chip's BCD registers, a byte each from
 * the low end; reading the status clears its power-lost flag). */
#define REQ_CLOCK_READ 0xFFFF003B
#define CLOCK_INFO_WORDS 3
#define CLOCK_PRESENT 0x100
/* Sets the clock: the status register's writable bits, then the date and
 * time words as REQ_CLOCK_READ gives them. Replies REPLY_DONE, or
 * CLOCK_ABSENT with nothing written. */
#define REQ_CLOCK_WRITE 0xFFFF003C
/* A ROM range as a dump reads it: ROM offset and byte count (multiples of
 * 4), and the check word of a block write of ours over no data (the CRC-32
 * of the two argument words), so that an argument changed on the link
 * cannot change how many words come back. Blocks of DUMP_BLOCK_BYTES lie on
 * their own grid, so none spans two mapper pages. Each block of the range
 * comes as a header word and its complement, then:
 * - DUMP_SENT: the block's words, then the CRC-32 of them, summed on the
 *   console while each word moves;
 * - DUMP_FILL with a halfword in the low half: every halfword of the block
 *   holds it, and nothing more follows.
 * A request whose check word disagrees gets the pair of DUMP_REFUSED alone.
 * The tags differ in many bits, so that a bit flipped in the header or in
 * its complement still tells the host how many words follow. */
#define REQ_ROM_DUMP 0xFFFF003D
#define DUMP_BLOCK_BYTES 0x10000
#define DUMP_TAG_MASK 0xFFFF0000
#define DUMP_SENT 0x5E7D0000
#define DUMP_FILL 0xF1110000
#define DUMP_REFUSED 0x0BAD0000
#define DUMP_HEADER_WORDS 2

/* One erase block of a flash ROM that the chips program while the rest of
 * it streams in: block offset, bytes (whole pieces, at most the block)
 * with STREAM_ERASE when the block is erased first, and the check word of
 * a block write of ours over no data, so that a flipped bit on the link
 * can neither turn the erase on nor move the range. The agent answers
 * STREAM_READY, or UPDATE_REFUSED or WRITE_CHECK_FAILED and takes nothing
 * more. Then each piece of STREAM_PIECE_BYTES: its words, then its own
 * check word (the form above over the piece, its ROM offset and
 * STREAM_PIECE_BYTES). A piece is programmed only once its check word
 * matched; after one that did not, nothing more is programmed and the
 * rest is taken off the link. Two words end it: UPDATE_PROGRAMMED,
 * UPDATE_ERASED or WRITE_CHECK_FAILED, then the count of pieces programmed
 * from the start of the block. */
#define REQ_FLASH_STREAM 0xFFFF003E
#define STREAM_ERASE 0x80000000 /* REQ_FLASH_STREAM bytes: erase the block first */
#define STREAM_PIECE_BYTES 0x800
#define STREAM_READY 0x5A3C0F96 /* differs from every other reply word in many bits */
#define STREAM_END_WORDS 2

/* The checked SRAM write of REQ_SAVE_WRITE_CHECKED that also sums what
 * follows it, so that the host learns whether the next blocks differ
 * without a compare pass of its own: save offset, bytes with the count of
 * SAVE_AHEAD_BLOCK blocks right after the range (at most SAVE_AHEAD_MAX)
 * in bits SAVE_AHEAD_SHIFT up, and the check word over the data, the
 * offset and that whole bytes word. The agent sums the blocks ahead while
 * the range's words arrive where they lie in the range's bank, the rest
 * after it. Replies REPLY_DONE then one CRC-32 per block ahead, of what
 * those blocks hold; WRITE_CHECK_FAILED alone with nothing written; or
 * UPDATE_REFUSED alone, nothing written, on a save that is not SRAM or a
 * count above SAVE_AHEAD_MAX. */
#define REQ_SAVE_WRITE_AHEAD 0xFFFF0040
#define SAVE_AHEAD_BLOCK 0x1000
#define SAVE_AHEAD_SHIFT 24
#define SAVE_AHEAD_BYTES_MASK 0x00FFFFFF
#define SAVE_AHEAD_MAX 16

/* One row per request: its code, the agent's handler, what its three
 * argument words carry, what the host streams to the console after it and
 * what comes back. The agent's dispatch table and its handler declarations
 * are built from these rows, and the host's request type takes only a code
 * listed here, so a request one side knows and the other does not fails to
 * build. Argument words: NONE (sent as 0), ROM_OFFSET (from the start of the
 * ROM), ROM_ADDRESS (ROM_BASE + ROM offset), SAVE_OFFSET (from the start of
 * the save, whatever window the type is read through), ADDRESS (any console
 * address), BYTES (a byte count), and the request's own words. */
#define KARTEX_REQUESTS(X)                                                                          \
  X(REQ_CART_INFO, req_cart_info, NONE, NONE, NONE, "", "3 words: rom_kind, rom_size, erase_block") \
  X(REQ_RUN_PROGRAM, req_run_program, BYTES, NONE, NONE, "the program", "none: the agent ends")      \
  X(REQ_FLASH_ERASE, req_flash_erase, ROM_OFFSET, NONE, NONE, "", "REPLY_DONE after the erase")      \
  X(REQ_FLASH_PROGRAM, req_flash_program, ROM_OFFSET, BYTES, NONE, "the data, streamed", "none")     \
  X(REQ_FLASH_WRITE, req_flash_write, ROM_OFFSET, BYTES, NONE, "the data, streamed", "none")         \
  X(REQ_MEM_READ, req_mem_read, ADDRESS, BYTES, NONE, "", "the words read from a1")                  \
  X(REQ_MEM_WRITE, req_mem_write, ADDRESS, BYTES, NONE, "the words stored from a1", "none")          \
  X(REQ_MEM_SEARCH, req_mem_search, ADDRESS, BYTES, STEP_AND_LENGTH, "the pattern",                  \
    "the address of the first match, or 0")                                                          \
  X(REQ_BOOT_CART, req_boot_cart, NONE, NONE, NONE, "", "none: the cartridge starts")                \
  X(REQ_SRAM_BANK_LOAD, req_sram_bank_load, BANK, NONE, NONE, "", "none")                            \
  X(REQ_SRAM_BANK_STORE, req_sram_bank_store, BANK, NONE, NONE, "", "none")                          \
  X(REQ_SAVE_TYPE, req_save_type, NONE, NONE, NONE, "", "1 word: save_type")                         \
  X(REQ_SAVE_READ, req_save_read, SAVE_OFFSET, BYTES, NONE, "", "the block")                         \
  X(REQ_EEPROM_READ, req_eeprom_read, SAVE_OFFSET, BYTES, NONE, "", "the block")                     \
  X(REQ_EEPROM_WRITE, req_eeprom_write, SAVE_OFFSET, BYTES, NONE, "the block", "REPLY_DONE")         \
  X(REQ_SRAM_WRITE, req_sram_write, SAVE_OFFSET, BYTES, NONE, "the block", "REPLY_DONE")             \
  X(REQ_FLASH_SAVE_WRITE, req_flash_save_write, SAVE_OFFSET, BYTES, NONE, "the block", "REPLY_DONE") \
  X(REQ_ROM_READ, req_rom_read, ROM_ADDRESS, BYTES, NONE, "", "the range, behind the long header")    \
  X(REQ_FLASH_FREE, req_flash_free, NONE, NONE, NONE, "", "1 word: bytes of the erased end")         \
  X(REQ_CART_VARIANT, req_cart_variant, NONE, NONE, NONE, "", "1 word: variant")                     \
  X(REQ_ROM_CRC32, req_rom_crc32, ROM_OFFSET, BYTES, BYTES, "", "one CRC-32 per block")              \
  X(REQ_SAVE_CRC32, req_save_crc32, SAVE_OFFSET, BYTES, BYTES, "", "one CRC-32 per block")           \
  X(REQ_FLASH_UPDATE, req_flash_update, ROM_OFFSET, BYTES_AND_FLAG, CHECK_WORD, "the data",          \
    "UPDATE_KEPT, _PROGRAMMED, _ERASED, _REFUSED or WRITE_CHECK_FAILED")                             \
  X(REQ_CART_FINGERPRINT, req_cart_fingerprint, NONE, NONE, NONE, "", "1 word: the fingerprint")     \
  X(REQ_VIDEO_FRAME, req_video_frame, PAGE, BYTES, DISPLAY_CONTROL, "the change stream", "none")     \
  X(REQ_FLASH_FAILURES, req_flash_failures, NONE, NONE, NONE, "", "3 words: count, offset, cause")   \
  X(REQ_SAVE_WRITE_CHECKED, req_save_write_checked, SAVE_OFFSET, BYTES, CHECK_WORD, "the block",     \
    "REPLY_DONE, WRITE_CHECK_FAILED or SAVE_WRITE_FAILED")                                           \
  X(REQ_CFI_INFO, req_cfi_info, NONE, NONE, NONE, "", "CFI_INFO_WORDS words: what the CFI chip told") \
  X(REQ_CLOCK_READ, req_clock_read, NONE, NONE, NONE, "", "CLOCK_INFO_WORDS words: the clock or none")   \
  X(REQ_CLOCK_WRITE, req_clock_write, CLOCK_STATUS, CLOCK_DATE, CLOCK_TIME, "",                        \
    "REPLY_DONE, or CLOCK_ABSENT with nothing written")                                                \
  X(REQ_ROM_DUMP, req_rom_dump, ROM_OFFSET, BYTES, CHECK_WORD, "",                                          \
    "per block: a header pair, then the words and their CRC-32, or nothing for a filled one; "         \
    "DUMP_REFUSED's pair alone")                                                                   \
  X(REQ_FLASH_STREAM, req_flash_stream, ROM_OFFSET, BYTES_AND_FLAG, CHECK_WORD,                      \
    "the pieces, each followed by its check word",                                                   \
    "STREAM_READY (or UPDATE_REFUSED, WRITE_CHECK_FAILED); after the pieces the outcome and the "    \
    "count of pieces programmed")                                                                  \
  X(REQ_SAVE_WRITE_AHEAD, req_save_write_ahead, SAVE_OFFSET, BYTES_AND_AHEAD, CHECK_WORD, "the block", \
    "REPLY_DONE and a CRC-32 per block ahead, WRITE_CHECK_FAILED or UPDATE_REFUSED")

/* ---- Reply words ---- */
#define REPLY_DONE 0x12345678 /* an erase or a save block write finished */
#define LINK_IDLE_WORD 0x5555AAAA /* what a console that loaded nothing shifts out */

/* Reply words that end a write request (flash update, checked save write, clock set) */
#define UPDATE_KEPT 0x55AA0000       /* the block already held the data */
#define UPDATE_PROGRAMMED 0x55AA0001 /* programmed without an erase */
#define UPDATE_ERASED 0x55AA0002     /* erased, then programmed */
#define UPDATE_REFUSED 0x55AA00FF    /* no flash ROM: nothing written */
#define WRITE_CHECK_FAILED 0x55AA00FE /* the data disagreed with its check word: nothing written */
#define SAVE_WRITE_FAILED 0x55AA00FD  /* a FLASH save sector read back wrong after every try */
#define CLOCK_ABSENT 0x55AA00FC       /* no clock on the cartridge: nothing written */

/* ---- Console addresses ---- */
#define EWRAM_BASE 0x02000000  /* upload address and the agent's data buffer */
#define EWRAM_SIZE 0x40000
#define IWRAM_BASE 0x03000000  /* resident stage of the agent */
#define IWRAM_SIZE 0x8000
#define RESIDENT_MAX_SIZE 0x6000 /* the boot stage copies 24 KiB: IWRAM less the state and the stack */
/* A word of the resident stage that the tool fills, before the upload, with
 * the identity of its agent image; a later run reads it back to learn
 * whether the agent still running is the one it knows. */
#define AGENT_ID_ADDR (IWRAM_BASE + 4)
/* The agent's code that runs once per request (identification, detection,
 * failure bookkeeping) lies in video RAM where no page of the bitmap modes
 * reaches: the object tiles from 512 up, which no display of the agent
 * shows. The boot stage copies it there from the image. */
#define AGENT_COLD_BASE 0x06014000
#define AGENT_COLD_MAX_SIZE 0x4000
#define ROM_BASE 0x08000000
#define FLASH8M_BASE 0x09F00000 /* ROM-resident save, read through the ROM window */
#define SAVE_BASE 0x0E000000

#endif
