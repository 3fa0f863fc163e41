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

// The record passed with on-demand notifications (ten 32-bit fields): the
// file's manifest item, valid only during the callback.
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
    const char* lpszUnpackedFile;  // a temporary expanded copy when the file could not be
                                   // installed (-2, -3), or null; deleted after the callback
};

// On-demand notifications (GpcStdDownloadExt, GpcOdeDownload,
// GpcOdeDownload2), called with the caller's context on the host's thread:
//   GPC_ODE_FILE_DONE     one file finished; nResult a GpcOdeResult
//                         (vrgpcext/messages.h), pInfo its item
//   GPC_ODE_SECTION_DONE  the request finished; lpszFileName and pInfo null,
//                         nResult the lowest result of the files whose
//                         failure control counts (present, not "ignore";
//                         every file once cancelled), or 0
//   GPC_ODE_PROGRESS      bytes arrived; nResult 0, pInfo's sizes hold the
//                         request's total and received bytes
// A request halted by the update settings gets one GPC_ODE_FILE_DONE with a
// null context and names and GPC_ODE_RESULT_NOT_DOWNLOADED.
enum { GPC_ODE_FILE_DONE = 0, GPC_ODE_SECTION_DONE = 1, GPC_ODE_PROGRESS = 2 };
typedef void (WINAPI* GpcOdeCallback)(void* pContext, int nKind, const char* lpszFileName,
                                      const char* lpszSectionName, int nResult, GpcOdeFileInfo* pInfo);

// The host's callback table: at least 20 stdcall function pointers. The
// extension keeps the host's pointer, never a copy, and hands it on to the
// main component and to progress windows. Slots 0, 2-5, 7 and 15 are the
// main component's business; slot 1 is only tested for null. A slot the
// library needs that is null makes the export or step that needs it fail
// quietly. Every call is made on the thread that called into the library.
struct GpcHostTable {
    FARPROC pfnSlot0;
    // 1: never called. Non-null marks a browser plug-in host: the version
    // parameters are checked, the network monitor is loaded, and the
    // installation log records the host as "NS" + the host program's
    // product version; null: none of these, and the log says "Internet
    // Explorer".
    FARPROC HostPluginMarker;
    FARPROC pfnSlot2;
    FARPROC pfnSlot3;
    FARPROC pfnSlot4;
    FARPROC pfnSlot5;
    // 6: the number of page parameters (asked again before each one).
    int (WINAPI* HostGetParamCount)(GpcCookie);
    FARPROC pfnSlot7;
    // 8: a page parameter's value, or null when the page has none. Read at
    // once, never freed by the library.
    const char* (WINAPI* HostGetParam)(GpcCookie, const char* lpszName);
    // 9: the parameter at nIndex (from 0): nonzero with both pointers set.
    int (WINAPI* HostGetParamAt)(GpcCookie, int nIndex, const char** ppName, const char** ppValue);
    // 10: navigate the browser window or frame lpszTarget ("_self",
    // "_blank", a frame name) to lpszUrl.
    int (WINAPI* HostNavigate)(GpcCookie, const char* lpszTarget, const char* lpszUrl);
    // 11: start downloading lpszUrl; 0 when started (anything else is a
    // failed download). Later, on the same thread: any number of progress
    // calls (status != 0), then one completion (status 0) with the local
    // file's path, or null when the download failed.
    int (WINAPI* HostDownloadUrl)(GpcCookie, GpcDownloadCallback, void* pContext, const char* lpszUrl);
    // 12: expand a downloaded compressed file (a plain file is copied) into
    // lpszDest, a temporary name the library then moves into place; 0 (or 1)
    // on success.
    int (WINAPI* HostUnpackFile)(GpcCookie, const char* lpszSource, const char* lpszDest);
    // 13: the host reports socket contexts to the callback (for the network
    // monitor); set to null at exit.
    int (WINAPI* HostSetSocketCallback)(GpcCookie, GpcSocketCallback, void* pContext);
    // 14: the host's window: parent of progress windows and of an ActiveX
    // main component, receiver of GPC_WM_CANCEL_DOWNLOAD.
    HWND (WINAPI* HostGetWindow)(GpcCookie);
    FARPROC pfnSlot15;
    // 16: the host's directory (no cookie), the root of product folders;
    // nSize is 260.
    int (WINAPI* HostGetDirectory)(char* lpszBuffer, int nSize);
    // 17: keep pInstance for the cookie (called by GpcInitInstance).
    int (WINAPI* HostSetInstance)(GpcCookie, void* pInstance);
    // 18: the pointer kept by slot 17, or null; after GpcExitInstance the
    // host must not return it again.
    void* (WINAPI* HostGetInstance)(GpcCookie);
    // 19: show lpszText to the user; used only for a refused second
    // GpcInitInstance, on that call's table.
    int (WINAPI* HostShowMessage)(GpcCookie, const char* lpszText);
};
static_assert(sizeof(GpcHostTable) == 20 * sizeof(void*), "the host table is 20 pointers");

// Message the host's window receives to cancel a download: wParam = file
// index, or 0 for the current one.
enum { GPC_WM_CANCEL_DOWNLOAD = WM_USER + 12 };
