#include "npvrgpc/text_seam.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>

namespace {

// How long an answer about the system-wide monitor stands.
const DWORD GPC_MONITOR_RECHECK_MS = 100;

enum { MONITOR_UNKNOWN, MONITOR_ABSENT, MONITOR_PRESENT };

// Every thread may write, so the answer is shared without a lock: a thread
// that reads the state and the time of two different checks only looks
// once more, or keeps an answer a little longer than 100 ms.
std::atomic<int> s_nMonitor{MONITOR_UNKNOWN};
std::atomic<DWORD> s_dwMonitorChecked{0};

// Whether the monitor's buffer exists: a monitor creates it when it starts
// and it goes when the monitor closes it.
bool MonitorRuns()
{
    DWORD dwNow = GetTickCount();
    int nState = s_nMonitor.load(std::memory_order_relaxed);
    if (nState != MONITOR_UNKNOWN && dwNow - s_dwMonitorChecked.load(std::memory_order_relaxed) < GPC_MONITOR_RECHECK_MS)
        return nState == MONITOR_PRESENT;
    // The callers read GetLastError() of their own calls after tracing them.
    DWORD dwError = GetLastError();
    HANDLE hMapping = OpenFileMappingA(FILE_MAP_READ, FALSE, "DBWIN_BUFFER");
    bool bRuns = hMapping != nullptr;
    if (hMapping)
        CloseHandle(hMapping);
    SetLastError(dwError);
    s_dwMonitorChecked.store(dwNow, std::memory_order_relaxed);
    s_nMonitor.store(bRuns ? MONITOR_PRESENT : MONITOR_ABSENT, std::memory_order_relaxed);
    return bRuns;
}

}  // namespace

int GpcIsLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) ? 1 : 0;
}

int GpcDebugListenerPresent()
{
    return IsDebuggerPresent() || MonitorRuns() ? 1 : 0;
}

void GpcDebugOutput(const char* lpszText)
{
    if (GpcDebugListenerPresent())
        OutputDebugStringA(lpszText ? lpszText : "");
}
#else
#include <cstdio>

int GpcIsLeadByte(unsigned char)
{
    return 0;
}

int GpcDebugListenerPresent()
{
    return 1;
}

void GpcDebugOutput(const char* lpszText)
{
    std::fputs(lpszText ? lpszText : "", stderr);
}
#endif
