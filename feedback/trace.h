// Trace lines: "(<module>:<pid>:<tid>)<message>" to the debugger output
// while a debugger or a debug-output monitor listens, and to a tracer window
// (class "GPCTracer") as WM_COPYDATA.
#pragma once

#include <windows.h>

// g_bTraceEnabled and g_hTracerWindow (the module state) steer it.
#include "npvrgpc/module_state.h"

constexpr char GPC_TRACER_CLASS[] = "GPCTracer";
// dwData of the WM_COPYDATA record: module name found / "UNKNOWN" used.
enum { GPC_TRACE_DATA_MODULE = 1000, GPC_TRACE_DATA_UNKNOWN = 999 };

void TraceMessage(const char* lpszFormat, ...)
#ifdef __GNUC__
    __attribute__((format(ms_printf, 1, 2)))
#endif
    ;

// Trace arguments are never null: the runtime's "%s" of null is not
// something a log reader should have to interpret. TraceText gives "" for
// an absent text; Printable writes "(null)", as the lines that tell an
// absent text from an empty one always have.
inline const char* TraceText(const char* lpszText)
{
    return lpszText ? lpszText : "";
}
inline const char* Printable(const char* lpszText)
{
    return lpszText ? lpszText : "(null)";
}
