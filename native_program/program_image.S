/* The program image the native program runs: the same bytes the Windows launcher carries. */
    .section .rodata
    .balign 16
    .globl tessel_native_image
tessel_native_image:
    .incbin "program.img"
    .globl tessel_native_image_end
tessel_native_image_end:
    .section .note.GNU-stack,"",%progbits
