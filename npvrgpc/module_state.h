// The little process-wide state of the loaded library, all in one list.
// Nothing else is global, except these file-private values, each kept
// beside the one routine that needs it:
// - feedback/trace.cpp: the tracer window found last, the windows that
//   stopped answering, and the module name read once for trace lines;
// - feedback/trace_log.cpp: the administrator's log file, its cap and
//   whether it is on, read once;
// - feedback/messages.cpp: the 512-byte buffer of LoadLocalizedString;
// - feedback/report.cpp: the report time-out (tests shorten it);
// - install/installation.cpp: the call that records a move for the next
//   restart (tests put in one that fails);
// - install/live_context.cpp: the list of live download contexts and the
//   last number handed out.
#pragma once

#include <windows.h>

#include "npvrgpc/host_link.h"
#include "vrgpcext/host_table.h"

// Set by the entry point on every notification; used for resources and the
// library's own path.
extern HINSTANCE g_hModule;
// Stored by the first GpcInitInstance that gets past its refusal check; never cleared.
extern GpcCookie g_pGpcCookie;
// Only the exports and this module state read it; everyone else asks
// GetHostLink for a cookie's link.
extern GpcHostTable* g_pHostTable;
// Nonzero: a cookie argument of the resolving exports is a window handle
// whose window long 0 carries the cookie.
extern int g_nCookieTranslation;
// Set by every extension constructor and by GpcOdeConfig: job progress
// windows stay closed.
extern int g_nProgressSwitch;
// Set by every extension constructor: start-up creates no message window.
extern int g_nMessageWndSwitch;
// Gates TraceMessage; nothing in the library turns it off.
extern int g_bTraceEnabled;
// The tracer window; when it is null (or gone) TraceMessage looks for a
// top-level window of class "GPCTracer", keeps the one it found while that
// window lives and answers, and looks again only when it is gone. A window
// that does not take a line within a short time gets no more lines.
extern HWND g_hTracerWindow;

// The module whose resources and path the library uses: g_hModule, or the
// executable when the code is linked statically (unit tests).
HINSTANCE GetGpcModule();

// Full path of the library file (not of the host), at most 259 characters.
void GetGpcModulePath(char* lpszPath, int nSize);

// A cookie with the stored host table, read at the time of the call (the
// table may come and go between calls).
GpcHostLink GetHostLink(GpcCookie pCookie);

// Puts the process-wide state back to its load-time values (tests that link
// the code statically use it between cases).
void ResetModuleStateForTesting();
