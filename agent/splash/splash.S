/* The splash picture drawn by the host-side generator at build time:
 * palette, then tiles, straight after the boot stage code. */
        .section .splash.palette, "a", %progbits
        .balign 4
        .incbin "splash_palette.bin"

        .section .splash.tiles, "a", %progbits
        .incbin "splash_tiles.bin"
