#include "feedback/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "extension/module_state.h"
#include "npvrgpc/npbase.h"

int g_bTraceEnabled = 1;
HWND g_hTracerWindow = nullptr;

namespace {

// A tracer window of this process wins, so that several programs tracing at
// once (tests, a host and a viewer) do not read each other's lines; any other
// "GPCTracer" window is the fallback.
HWND FindTracerWindow()
{
    if (g_hTracerWindow && IsWindow(g_hTracerWindow)) return g_hTracerWindow;
    DWORD dwSelf = GetCurrentProcessId();
    HWND hFirst = nullptr;
    HWND hWnd = nullptr;
    while ((hWnd = FindWindowExA(nullptr, hWnd, GPC_TRACER_CLASS, nullptr)) != nullptr) {
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hWnd, &dwPid);
        if (dwPid == dwSelf) return hWnd;
        if (!hFirst) hFirst = hWnd;
    }
    return hFirst;
}

// The module name after the last "\" that is a real separator (not the trail
// byte of a double-byte character); null when there is none.
const char* ModuleNameOf(const char* lpszPath)
{
    const char* pName = nullptr;
    for (const char* p = lpszPath; *p; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
            ++p;
            continue;
        }
        if (*p == '\\') pName = p + 1;
    }
    return pName;
}

}  // namespace

void TraceMessage(const char* lpszFormat, ...)
{
    if (!g_bTraceEnabled || !lpszFormat) return;

    char achMessage[1024];
    std::memset(achMessage, 0, sizeof(achMessage));
    va_list args;
    va_start(args, lpszFormat);
    _vsnprintf(achMessage, sizeof(achMessage) - 1, lpszFormat, args);
    va_end(args);
    achMessage[sizeof(achMessage) - 1] = '\0';

    char achPath[GPC_MAX_PATH];
    GetGpcModulePath(achPath, sizeof(achPath));
    const char* pName = ModuleNameOf(achPath);
    ULONG_PTR dwData = GPC_TRACE_DATA_MODULE;
    if (!pName) {
        pName = "UNKNOWN";
        dwData = GPC_TRACE_DATA_UNKNOWN;
    }

    char achLine[2048];
    _snprintf(achLine, sizeof(achLine) - 1, "(%s:%d:%d)%s", pName, static_cast<int>(GetCurrentProcessId()),
              static_cast<int>(GetCurrentThreadId()), achMessage);
    achLine[sizeof(achLine) - 1] = '\0';

    OutputDebugStringA(achLine);

    HWND hTracer = FindTracerWindow();
    if (hTracer) {
        COPYDATASTRUCT cds;
        cds.dwData = dwData;
        cds.cbData = static_cast<DWORD>(std::strlen(achLine) + 1);
        cds.lpData = achLine;
        DWORD_PTR dwResult = 0;
        // Synchronous, but a hung viewer in another process must not hang the host.
        SendMessageTimeoutA(hTracer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_NORMAL, 5000,
                            &dwResult);
    }
}
