// Calls an exported function with a number of 32-bit arguments decided at
// run time. The caller restores its own stack pointer afterwards, so the
// callee may be stdcall (removes its arguments) or cdecl (leaves them).
#pragma once

#include <windows.h>

// Pushes rgArgs[nArgs-1] .. rgArgs[0] (so rgArgs[0] is the first parameter),
// calls pfn and returns EAX.
LONG GpcCallExport(FARPROC pfn, const ULONG_PTR* rgArgs, int nArgs);
