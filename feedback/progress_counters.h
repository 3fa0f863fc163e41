// The counters every progress-window owner keeps (installation manager,
// on-demand download job, single-file progress manager).
#pragma once

#include <windows.h>

struct GpcProgressCounters {
    DWORD TotalBytes = 0;      // bytes announced for everything the window covers
    DWORD ReceivedBytes = 0;   // bytes received so far
    DWORD BytesPerSecond = 0;  // average rate since StartTick
    DWORD StartTick = 0;       // tick of the first request / window opening; 0: not yet
    HWND ProgressWindow = nullptr;
};
