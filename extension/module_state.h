// The little process-wide state of the loaded library. Nothing else is global.
#pragma once

#include "extension/host_table.h"

// Set by the entry point on every notification; used for resources and the
// library's own path.
extern HINSTANCE g_hModule;
// Stored by the first GpcInitInstance that gets past its refusal check; never cleared.
extern GpcCookie g_pGpcCookie;
extern GpcHostTable* g_pHostTable;
// Nonzero: a cookie argument of the resolving exports is a window handle
// whose window long 0 carries the cookie.
extern int g_nCookieTranslation;
// Set by every extension constructor and by GpcOdeConfig: job progress
// windows stay closed.
extern int g_nProgressSwitch;
// Set by every extension constructor: start-up creates no message window.
extern int g_nMessageWndSwitch;

// The module whose resources and path the library uses: g_hModule, or the
// executable when the code is linked statically (unit tests).
HINSTANCE GetGpcModule();

// Full path of the library file (not of the host), at most 259 characters.
void GetGpcModulePath(char* lpszPath, int nSize);

// Reads a page parameter of a cookie through the stored table's slot 8;
// null when there is no table, no slot or no such parameter.
const char* GetHostParam(GpcCookie pCookie, const char* lpszName);

// Puts the process-wide state back to its load-time values (tests that link
// the code statically use it between cases).
void ResetModuleStateForTesting();
