/* Display control, background 0, palette RAM and video RAM.
 *
 * Plain #defines: included from the agent's C and assembly.
 */
#ifndef KARTEX_CONTRACT_HW_DISPLAY_H
#define KARTEX_CONTRACT_HW_DISPLAY_H

#include "contract/hw/memory.h"

#define SCREEN_WIDTH 240
#define SCREEN_HEIGHT 160

/* ---- Registers ---- */
#define REG_BASE 0x04000000
#define REG_DISPCNT 0x04000000
#define REG_DISPSTAT 0x04000004
#define REG_VCOUNT 0x04000006 /* the line being drawn; read only */
#define REG_BG0CNT 0x04000008
#define REG_BG0HOFS 0x04000010
#define REG_BG0VOFS 0x04000012

/* DISPCNT */
#define DCNT_MODE_MASK 0x0007
#define DCNT_MODE_SHIFT 0
#define DCNT_MODE(n) ((n) << DCNT_MODE_SHIFT)
#define DCNT_MODE0 DCNT_MODE(0)
#define DCNT_MODE4 DCNT_MODE(4) /* one byte per pixel, two pages */
#define DCNT_PAGE 0x0010 /* modes 4 and 5: the second page shown */
#define DCNT_BLANK 0x0080 /* forced blank: the screen white, memory free to the CPU */
#define DCNT_BG0 0x0100
#define DCNT_BG2 0x0400 /* the bitmap modes draw on background 2 */

/* DISPSTAT */
#define DSTAT_VBL_IRQ 0x0008 /* raise the vertical blank interrupt */

/* BGxCNT */
#define BG_CBB_MASK 0x000C
#define BG_CBB_SHIFT 2
#define BG_CBB(n) ((n) << BG_CBB_SHIFT) /* character base block, 16 KiB each */
#define BG_8BPP 0x0080
#define BG_SBB_MASK 0x1F00
#define BG_SBB_SHIFT 8
#define BG_SBB(n) ((n) << BG_SBB_SHIFT) /* screen base block, 2 KiB each */
#define BG_SIZE_MASK 0xC000
#define BG_SIZE_SHIFT 14
#define BG_REG_32x32 (0 << BG_SIZE_SHIFT) /* 256 x 256 pixels */

/* ---- Memory ---- */
#define CBB_SIZE 0x4000
#define SBB_SIZE 0x800
#define SBB_WIDTH 32 /* map entries per row of a 32 x 32 screen block */
#define TILE8_SIZE 64 /* bytes of one 8 x 8 tile at 8 bits per pixel */
#define M4_PAGE_SIZE (SCREEN_WIDTH * SCREEN_HEIGHT) /* a mode-4 page, a byte per pixel */
#define BITMAP_PAGE1_OFFSET 0xA000 /* the second page of modes 4 and 5, from the start of video RAM */
#define PAL_BG_ENTRIES 256 /* 15-bit colours: bits 0-4 red, 5-9 green, 10-14 blue */

#endif
