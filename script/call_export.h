// Calls an exported function with a number of 32-bit arguments decided at
// run time. The caller restores its own stack pointer afterwards, so the
// callee may be stdcall (removes its arguments) or cdecl (leaves them).
#pragma once

#include <windows.h>

// Pushes rgArgs[nArgs-1] .. rgArgs[0] (so rgArgs[0] is the first parameter),
// calls pfn and returns EAX.
LONG GpcCallExport(FARPROC pfn, const ULONG_PTR* rgArgs, int nArgs);

// 1 when nArgs 32-bit arguments, plus a generous reserve for the callee,
// fit into what is left of this thread's stack; 0 when pushing them would
// run into the end of the stack. A script with tens of thousands of
// arguments must end in a failure, not in a stack overflow.
int GpcStackHasRoomFor(int nArgs);
