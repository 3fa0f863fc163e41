#include "feedback/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "feedback/trace_log.h"
#include "npvrgpc/module_state.h"
#include "npvrgpc/npbase.h"
#include "npvrgpc/text_seam.h"

namespace {

// How long one line may wait for a tracer window. A viewer that is busy for
// longer loses the line and gets no more: the host's thread must never wait
// on somebody else's message loop.
const UINT GPC_TRACER_TIMEOUT_MS = 100;

// The tracer window found last; looked up again only once it is gone or has
// stopped answering. Every thread may trace, so the cache is shared without
// a lock: a stale read costs at most one lookup more.
std::atomic<HWND> s_hTracer{nullptr};

// Windows that did not answer in time. A few slots suffice: a viewer that
// hangs is rare, and a slot that is overwritten only costs one more short wait.
enum { GPC_SILENT_TRACERS = 8 };
std::atomic<HWND> s_ahSilent[GPC_SILENT_TRACERS];
std::atomic<unsigned> s_nNextSilent{0};

bool IsSilent(HWND hWnd)
{
    for (const auto& slot : s_ahSilent) {
        if (slot.load(std::memory_order_relaxed) == hWnd) return true;
    }
    return false;
}

void MarkSilent(HWND hWnd)
{
    unsigned n = s_nNextSilent.fetch_add(1, std::memory_order_relaxed);
    s_ahSilent[n % GPC_SILENT_TRACERS].store(hWnd, std::memory_order_relaxed);
    HWND hExpected = hWnd;
    s_hTracer.compare_exchange_strong(hExpected, nullptr);
}

// A tracer window of this process wins, so that several programs tracing at
// once (tests, a host and a viewer) do not read each other's lines; any other
// "GPCTracer" window is the fallback. Windows that stopped answering are
// passed over.
HWND FindTracerWindow()
{
    if (g_hTracerWindow && IsWindow(g_hTracerWindow)) return g_hTracerWindow;
    HWND hCached = s_hTracer.load(std::memory_order_relaxed);
    if (hCached && IsWindow(hCached)) return hCached;

    DWORD dwSelf = GetCurrentProcessId();
    HWND hFirst = nullptr;
    HWND hWnd = nullptr;
    while ((hWnd = FindWindowExA(nullptr, hWnd, GPC_TRACER_CLASS, nullptr)) != nullptr) {
        if (IsSilent(hWnd)) continue;
        DWORD dwPid = 0;
        GetWindowThreadProcessId(hWnd, &dwPid);
        if (dwPid == dwSelf) {
            hFirst = hWnd;
            break;
        }
        if (!hFirst) hFirst = hWnd;
    }
    s_hTracer.store(hFirst, std::memory_order_relaxed);
    return hFirst;
}

// The module name after the last "\" that is a real separator (not the trail
// byte of a double-byte character); null when there is none.
const char* ModuleNameOf(const char* lpszPath)
{
    const char* pSeparator = GpcFindLastSeparator(lpszPath, "\\");
    return pSeparator ? pSeparator + 1 : nullptr;
}

// The prefix name of every line and its copy-data code.
struct TraceModuleName {
    char achName[GPC_MAX_PATH];
    ULONG_PTR dwData;
};

void FindModuleName(TraceModuleName* pOut)
{
    char achPath[GPC_MAX_PATH];
    GetGpcModulePath(achPath, sizeof(achPath));
    const char* pName = ModuleNameOf(achPath);
    pOut->dwData = GPC_TRACE_DATA_MODULE;
    if (!pName) {
        pName = "UNKNOWN";
        pOut->dwData = GPC_TRACE_DATA_UNKNOWN;
    }
    lstrcpynA(pOut->achName, pName, sizeof(pOut->achName));
}

// The library's file name cannot change while it is loaded, so it is found
// once. The first caller claims the slot and publishes it when it is
// complete; a thread that comes meanwhile finds the name for itself.
enum { NAME_NONE, NAME_FILLING, NAME_READY };
std::atomic<int> s_nNameState{NAME_NONE};
TraceModuleName s_ModuleName;

const TraceModuleName* GetModuleName(TraceModuleName* pLocal)
{
    if (s_nNameState.load(std::memory_order_acquire) == NAME_READY) return &s_ModuleName;
    int nExpected = NAME_NONE;
    if (s_nNameState.compare_exchange_strong(nExpected, NAME_FILLING, std::memory_order_acquire)) {
        FindModuleName(&s_ModuleName);
        s_nNameState.store(NAME_READY, std::memory_order_release);
        return &s_ModuleName;
    }
    FindModuleName(pLocal);
    return pLocal;
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

    TraceModuleName local;
    const TraceModuleName* pName = GetModuleName(&local);

    char achLine[2048];
    _snprintf(achLine, sizeof(achLine) - 1, "(%s:%d:%d)%s", pName->achName, static_cast<int>(GetCurrentProcessId()),
              static_cast<int>(GetCurrentThreadId()), achMessage);
    achLine[sizeof(achLine) - 1] = '\0';
    WriteTraceLog(achLine);

    // The debugger output only while someone listens: without a listener
    // each write still costs a raised exception and a look for the monitor.
    GpcDebugOutput(achLine);

    HWND hTracer = FindTracerWindow();
    if (hTracer) {
        COPYDATASTRUCT cds;
        cds.dwData = pName->dwData;
        cds.cbData = static_cast<DWORD>(std::strlen(achLine) + 1);
        cds.lpData = achLine;
        DWORD_PTR dwResult = 0;
        // Synchronous, but never at the mercy of a viewer that does not read
        // its messages: SMTO_BLOCK keeps the wait from running other
        // messages into this thread, and a window that times out is dropped.
        if (!SendMessageTimeoutA(hTracer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds),
                                 SMTO_ABORTIFHUNG | SMTO_BLOCK, GPC_TRACER_TIMEOUT_MS, &dwResult))
            MarkSilent(hTracer);
    }
}
