/* Size and shape of the splash picture carried in the agent image.
 *
 * Plain #defines: included from the boot stage's assembly and from the
 * host-side generator that draws the picture.
 */
#ifndef KARTEX_AGENT_SPLASH_FORMAT_H
#define KARTEX_AGENT_SPLASH_FORMAT_H

#define SPLASH_WIDTH 232
#define SPLASH_HEIGHT 72
#define SPLASH_TILE_SIZE 8
#define SPLASH_TILES_WIDE (SPLASH_WIDTH / SPLASH_TILE_SIZE)   /* 29 */
#define SPLASH_TILES_HIGH (SPLASH_HEIGHT / SPLASH_TILE_SIZE)  /* 9 */
#define SPLASH_TILE_COUNT (SPLASH_TILES_WIDE * SPLASH_TILES_HIGH) /* 261 */
#define SPLASH_TILE_BYTES 64 /* 8 x 8 pixels, one byte each */

#define SPLASH_COLOURS 256
#define SPLASH_PALETTE_SIZE (SPLASH_COLOURS * 2)                    /* 512 */
#define SPLASH_TILES_SIZE (SPLASH_TILE_COUNT * SPLASH_TILE_BYTES)   /* 16,704 */

/* Colour index of everything around the picture: tile 0 is filled with it */
#define SPLASH_BACKGROUND 255

/* The picture's first tile in character block 0; tile 0 is the background */
#define SPLASH_FIRST_TILE 1

#endif
