// Trace lines: "(<module>:<pid>:<tid>)<message>" to the debugger output and
// to a tracer window (class "GPCTracer") as WM_COPYDATA.
#pragma once

#include <windows.h>

// Gates TraceMessage; nothing in the library turns it off.
extern int g_bTraceEnabled;
// The tracer window; when it is null (or gone) TraceMessage looks for a
// top-level window of class "GPCTracer", keeps the one it found while that
// window lives and answers, and looks again only when it is gone. A window
// that does not take a line within a short time gets no more lines.
extern HWND g_hTracerWindow;

#define GPC_TRACER_CLASS "GPCTracer"
// dwData of the WM_COPYDATA record: module name found / "UNKNOWN" used.
enum { GPC_TRACE_DATA_MODULE = 1000, GPC_TRACE_DATA_UNKNOWN = 999 };

void TraceMessage(const char* lpszFormat, ...)
#ifdef __GNUC__
    __attribute__((format(ms_printf, 1, 2)))
#endif
    ;
