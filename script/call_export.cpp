// Variable-argument call of an exported function.
//
// Library scripts name exports whose parameter count is known only at run
// time, and the library may declare them stdcall (the callee pops its
// parameters) or cdecl (the caller pops them). One helper serves both: it
// keeps the stack pointer in a callee-saved register across the call and
// puts it back afterwards, whatever the callee did with its parameters.
#include "script/call_export.h"

namespace {

// What is kept free below the arguments for the callee's own frames and for
// the system's exception handling near the guard page.
const ULONGLONG GPC_CALLEE_RESERVE = 64 * 1024;

}  // namespace

// noinline: the asm changes ESP, and the compiler must not blend it into a
// caller whose locals it addresses relative to ESP.
__attribute__((noinline)) LONG GpcCallExport(FARPROC pfn, const ULONG_PTR* rgArgs, int nArgs)
{
    if (pfn == nullptr)
        return 0;
    if (nArgs < 0 || rgArgs == nullptr)
        nArgs = 0;

    LONG lResult;
    // Every operand lives in a register: once ESP moves, ESP-relative
    // addressing of locals (-fomit-frame-pointer) would be wrong.
    //   EBX  the caller's ESP (callee-saved, so it survives the call)
    //   ECX  number of arguments still to push
    //   ESI  argument array (callee-saved)
    //   EDX  the export's address
    // The stack is aligned so that ESP is a multiple of 16 at the call
    // instruction, after the arguments have been pushed.
    __asm__ __volatile__(
        "movl   %%esp, %%ebx\n\t"
        "leal   0(,%%ecx,4), %%eax\n\t"    // EAX = bytes of arguments
        "subl   %%eax, %%esp\n\t"
        "andl   $-16, %%esp\n\t"           // where ESP must be at the call
        "addl   %%eax, %%esp\n\t"          // back up by the arguments' size
        "testl  %%ecx, %%ecx\n\t"
        "jz     2f\n"
        "1:\n\t"
        "pushl  -4(%%esi,%%ecx,4)\n\t"     // last argument first
        "decl   %%ecx\n\t"
        "jnz    1b\n"
        "2:\n\t"
        "call   *%%edx\n\t"
        "movl   %%ebx, %%esp\n\t"          // stdcall or cdecl: back to our ESP
        : "=a"(lResult), "+c"(nArgs), "+d"(pfn)
        : "S"(rgArgs)
        : "ebx", "memory", "cc");
    return lResult;
}

int GpcStackHasRoomFor(int nArgs)
{
    if (nArgs < 0)
        return 0;
    // The stack is one reservation: its allocation base is the lowest
    // address the stack can grow to.
    MEMORY_BASIC_INFORMATION mbi;
    char chHere = 0;
    if (VirtualQuery(&chHere, &mbi, sizeof(mbi)) == 0)
        return 0;
    ULONGLONG cbLeft = static_cast<ULONGLONG>(reinterpret_cast<ULONG_PTR>(&chHere) -
                                              reinterpret_cast<ULONG_PTR>(mbi.AllocationBase));
    // Arguments plus the alignment padding (at most 15 bytes).
    ULONGLONG cbNeeded = static_cast<ULONGLONG>(nArgs) * 4 + 16 + GPC_CALLEE_RESERVE;
    return cbNeeded < cbLeft ? 1 : 0;
}
