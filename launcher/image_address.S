/* ProgramImageAddress: the address of the program image's first byte, taken from the position
   of this code at run time plus the distance to the image, which the linker fixes. No stored
   pointer is read. cdecl, no arguments, result in eax. */
    .text
    .globl _ProgramImageAddress
_ProgramImageAddress:
    call 1f
1:  popl %eax
    addl $(_tessel_image - 1b), %eax
    ret
