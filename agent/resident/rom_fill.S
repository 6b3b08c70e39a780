/* A flash chip's write buffer (or a pair's) filled from the data buffer in
 * bursts: four words are read from work RAM with one block load and reach
 * the cartridge as one block store, eight halfword writes at consecutive
 * addresses of which only the first is non-sequential. A pair of chips at
 * even and odd halfwords each sees its own halfwords in order, one write
 * each, as with single halfword stores. */

        .syntax unified
        .arm
        .text

@ rom_fill: r0 = ROM address (word aligned), r1 = source (word aligned),
@ r2 = words (a multiple of 4, not 0); clobbers r0-r3, r12
        .section .text.rom_fill, "ax", %progbits
        .global rom_fill
        .type rom_fill, %function
rom_fill:
        push    {r4, r5}
1:      ldmia   r1!, {r3, r4, r5, r12}
        stmia   r0!, {r3, r4, r5, r12}
        subs    r2, r2, #4
        bne     1b
        pop     {r4, r5}
        bx      lr
        .size rom_fill, . - rom_fill
