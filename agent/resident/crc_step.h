/* The CRC-32 step the agent's assembly loops share. */
#ifndef KARTEX_AGENT_CRC_STEP_H
#define KARTEX_AGENT_CRC_STEP_H

#ifdef __ASSEMBLER__
/* One byte of the running CRC through the table: crc = T[crc & 0xFF] ^ crc >> 8 */
        .macro  crc_step crc, table, tmp
        and     \tmp, \crc, #0xFF
        ldr     \tmp, [\table, \tmp, lsl #2]
        eor     \crc, \tmp, \crc, lsr #8
        .endm

/* A whole word into the running CRC, low byte first */
        .macro  crc_word crc, word, table, tmp
        eor     \crc, \crc, \word
        crc_step \crc, \table, \tmp
        crc_step \crc, \table, \tmp
        crc_step \crc, \table, \tmp
        crc_step \crc, \table, \tmp
        .endm
#endif

#endif
