#include "tessel/headless/stdcall.h"
#include "tessel/runtime/services.h"

// The arguments are pushed right to left below a zeroed guard area, which lies below the saved
// registers; after the call a stdcall function has popped them all, so the stack pointer is back
// at the guard area. A function given fewer arguments than it takes reads (and may write) the
// guard's zero words as its missing ones, never the saved registers or the return address, and
// the imbalance is then found after it returns.
asm(R"(
    .text
    .set tessel_stdcall_guard_words, 64
    .globl _tessel_call_stdcall
_tessel_call_stdcall:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl %esp, %edi
    movl $tessel_stdcall_guard_words, %ecx
3:  pushl $0
    decl %ecx
    jnz 3b
    movl 12(%ebp), %ecx
    movl 16(%ebp), %esi
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  call *8(%ebp)
    movl %esp, %ebx
    subl %edi, %ebx
    addl $(tessel_stdcall_guard_words * 4), %ebx
    movl %edi, %esp
    movl 20(%ebp), %ecx
    movl %ebx, (%ecx)
    popl %ebx
    popl %edi
    popl %esi
    popl %ebp
    ret
)");

namespace tessel::platform {

Word CallStdcallChecked(void* function, std::uint32_t argCount, const Word* args) {
    std::int32_t delta = 0;
    const std::uint32_t result = tessel_call_stdcall(function, argCount, args, &delta);
    if (delta != 0) RaiseRuntimeError(runtime_error::kStackUnbalanced);
    return result;
}

}  // namespace tessel::platform
