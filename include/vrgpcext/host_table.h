// The host boundary: the host's opaque per-instance cookie, its table of
// callbacks and the callback types the extension hands to the host.
#pragma once

#include <windows.h>

// The host's opaque 32-bit per-instance handle; never interpreted.
typedef void* GpcCookie;

// Download progress and completion. status != 0: progress, value = bytes
// received since the previous notice. status == 0: completion, value = local
// path (const char*) or 0 when the download failed.
typedef void (WINAPI* GpcDownloadCallback)(void* pIgnored, void* pContext, DWORD dwStatus, ULONG_PTR value);

// Socket context reports from the host, handed to HostSetSocketCallback.
typedef int (WINAPI* GpcSocketCallback)(void* pContext, DWORD dwValue1, DWORD dwValue2);

// The record passed with on-demand notifications (ten 32-bit fields).
struct GpcOdeFileInfo {
    const char* lpszSourceName;
    const char* lpszUrl;
    const char* lpszTarget;
    const char* lpszVersion;
    DWORD dwFileSize;        // progress notice: the request's total bytes
    DWORD dwCompressedSize;  // progress notice: the request's received bytes
    const char* lpszAction;
    const char* lpszUpdateControl;
    const char* lpszFailureControl;
    const char* lpszUnpackedFile;
};

// On-demand notifications: kind 0 one file finished, 1 section finished,
// 2 progress of one file.
enum { GPC_ODE_FILE_DONE = 0, GPC_ODE_SECTION_DONE = 1, GPC_ODE_PROGRESS = 2 };
typedef void (WINAPI* GpcOdeCallback)(void* pContext, int nKind, const char* lpszFileName,
                                      const char* lpszSectionName, int nResult, GpcOdeFileInfo* pInfo);

// The host's callback table: at least 20 stdcall function pointers. The
// extension keeps the host's pointer, never a copy. Slots 0, 2-5, 7 and 15
// are the main component's business; slot 1 is only tested for null.
struct GpcHostTable {
    FARPROC pfnSlot0;
    FARPROC HostPluginMarker;                                                          // 1
    FARPROC pfnSlot2;
    FARPROC pfnSlot3;
    FARPROC pfnSlot4;
    FARPROC pfnSlot5;
    int (WINAPI* HostGetParamCount)(GpcCookie);                                        // 6
    FARPROC pfnSlot7;
    const char* (WINAPI* HostGetParam)(GpcCookie, const char* lpszName);               // 8
    int (WINAPI* HostGetParamAt)(GpcCookie, int nIndex, const char** ppName, const char** ppValue);  // 9
    int (WINAPI* HostNavigate)(GpcCookie, const char* lpszTarget, const char* lpszUrl); // 10
    int (WINAPI* HostDownloadUrl)(GpcCookie, GpcDownloadCallback, void* pContext, const char* lpszUrl);  // 11
    int (WINAPI* HostUnpackFile)(GpcCookie, const char* lpszSource, const char* lpszDest);  // 12
    int (WINAPI* HostSetSocketCallback)(GpcCookie, GpcSocketCallback, void* pContext);  // 13
    HWND (WINAPI* HostGetWindow)(GpcCookie);                                           // 14
    FARPROC pfnSlot15;
    int (WINAPI* HostGetDirectory)(char* lpszBuffer, int nSize);                       // 16
    int (WINAPI* HostSetInstance)(GpcCookie, void* pInstance);                         // 17
    void* (WINAPI* HostGetInstance)(GpcCookie);                                        // 18
    int (WINAPI* HostShowMessage)(GpcCookie, const char* lpszText);                    // 19
};
static_assert(sizeof(GpcHostTable) == 20 * sizeof(void*), "the host table is 20 pointers");

// Message the host's window receives to cancel a download: wParam = file
// index, or 0 for the current one.
enum { GPC_WM_CANCEL_DOWNLOAD = WM_USER + 12 };
