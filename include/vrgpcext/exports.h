// The fifteen exports of the library, all stdcall with 32-bit arguments,
// exported by their plain names. docs/host.md holds the same text.
//
// Calling order, per cookie: GpcInitInstance first; then GpcHeartbeat
// periodically (downloads, installation and the main component's load
// advance only on heartbeats and download callbacks); the other exports at
// any time in between; GpcExitInstance last.
//
// Threading: the library creates no threads and takes no locks. Every export
// and every callback into the library must come from one thread at a time
// (in practice the host's window thread); the library calls the host back
// only from inside an export or a callback. No C++ exception leaves an
// export: a failure inside one gives the export's failure result.
//
// Cookie resolution: the exports marked "resolves" take their first argument
// as the window of the host's plug-in (its window long 0 holds the cookie)
// while the translation switch is on (from load until GpcOdeConfig(0, ...));
// an argument that is no window, or a null cookie, means the cookie of the
// first GpcInitInstance. Without one they return 0.
#pragma once

#include "vrgpcext/host_table.h"
#include "vrgpcext/messages.h"

// What GpcGetFileAtUrlEx's caller hands over (its last argument): expected
// size and caption.
struct GpcProgressRequest {
    DWORD dwTotalSize;        // expected size in bytes; 0: no progress window
    const char* lpszCaption;  // the window's caption, or null
};

// Results of GpcInitInstance.
enum GpcInitResult {
    GPC_INIT_OK = 0,                  // the instance was created and started
    GPC_INIT_NO_MEMORY = 20005,       // the instance could not be allocated
    GPC_INIT_ALREADY_RUNNING = 20100, // this loaded library already made an instance
};

extern "C" {

// Creates the instance for pCookie and starts it: reads the page's
// parameters, then asks the host for the per-OS manifest (or takes the
// dependency-list, standard-download or suppressed path). pTable is kept,
// not copied: it must stay valid while the library is loaded.
// Returns GPC_INIT_OK (also when the start-up then fails: that failure is
// shown and reported, and the heartbeat ends it), GPC_INIT_NO_MEMORY, or
// GPC_INIT_ALREADY_RUNNING: one instance per loaded library, even after the
// first has exited; the refusal's text (message GPC_MSG_ALREADY_RUNNING) is
// shown through slot 19 of the pTable of this call.
int WINAPI GpcInitInstance(GpcCookie pCookie, GpcHostTable* pTable);

// Ends the instance of pCookie: runs "GpcExitCall", unloads the main
// component, closes the progress windows (also those of downloads the host
// never ended), deletes the temporary manifest copy and destroys the
// instance. Downloads delivered afterwards are dropped. Always 0.
int WINAPI GpcExitInstance(GpcCookie pCookie);

// One step of the instance's state machine: check the downloads, install,
// register, load the main component, send notification 2. Call it
// periodically (the reference host calls it from a window timer). Always 0.
int WINAPI GpcHeartbeat(GpcCookie pCookie);

// A notification for the main component: dwMessage picks the script of
// "GpcActions" at that position (from 0) and is its %WPARAM, dwParam its
// %LPARAM; the component's NotifyControl export is called first. Always 0.
int WINAPI GpcActionNotify(GpcCookie pCookie, DWORD dwMessage, DWORD dwParam);

// Downloads and installs the files of a manifest section on demand (no
// cookie resolution). lpszIniFile: the manifest's local path, or null for
// the start-up's manifest. pfnCallback (may be null) gets, with pContext,
// GPC_ODE_PROGRESS notices, one GPC_ODE_FILE_DONE per file and one
// GPC_ODE_SECTION_DONE with the lowest counted GpcOdeResult. Returns 1 when
// the request was taken (also for an empty section, which sends nothing),
// 0 without an instance, with a null section, while the start-up is still
// installing, or when a configured key refuses the manifest.
int WINAPI GpcStdDownloadExt(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                             GpcOdeCallback pfnCallback, void* pContext);
// As GpcOdeDownload2 with no file name.
int WINAPI GpcOdeDownload(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                          GpcOdeCallback pfnCallback, void* pContext);
// As GpcStdDownloadExt, after cookie resolution; lpszFileName (or null)
// limits the request to the section's item of that name.
int WINAPI GpcOdeDownload2(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                           const char* lpszFileName, GpcOdeCallback pfnCallback, void* pContext);

// As GpcOdeGetSectionIntegrity2 with no file name.
int WINAPI GpcOdeGetSectionIntegrity(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName);
// Resolves the cookie, then as GpcOdeGetSectionIntegrityExt.
int WINAPI GpcOdeGetSectionIntegrity2(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                                      const char* lpszFileName);
// Whether a section (or its item lpszFileName) is installed and current:
// 1 intact, 0 an update is needed (or no section, no instance), 2 a
// download is still running (ask again later). Downloads nothing.
int WINAPI GpcOdeGetSectionIntegrityExt(GpcCookie pCookie, const char* lpszIniFile,
                                        const char* lpszSectionName, const char* lpszFileName);

// dwValue1 switches the cookie translation (0: cookies are taken as they
// are); progress windows are allowed from now on. dwValue2 and dwValue3 are
// only traced. Always 1.
int WINAPI GpcOdeConfig(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3);

// Resolves the cookie and hands the download to the host (slot 11) with
// the caller's callback and context. 1 when the host took it, else 0.
int WINAPI GpcGetFileAtUrl(GpcCookie pCookie, GpcDownloadCallback pfnCallback, void* pContext,
                           const char* lpszUrl);
// As GpcGetFileAtUrl; with a GpcProgressRequest whose size is not 0 (and
// "GpcSuppressProgressBar" not "True") a progress window follows the
// download, and the caller's callback is called before the window moves.
// pProgressRequest may be null.
int WINAPI GpcGetFileAtUrlEx(GpcCookie pCookie, GpcDownloadCallback pfnCallback, void* pContext,
                             const char* lpszUrl, void* pProgressRequest);

// Resolves the cookie; with a null lpszTarget opens lpszUrl in a new
// browser window, otherwise navigates that target ("_self", "_blank", a
// frame). lpszUrl "#LPARAM"/"$LPARAM" take the current notification's
// entry of "GpcUrls" / text. 1 on success, else 0.
int WINAPI GpcOpenLocation(GpcCookie pCookie, const char* lpszUrl, const char* lpszTarget, void* pIgnored);

// Resolves the cookie. nIndex > 0: sends GPC_WM_CANCEL_DOWNLOAD with that
// index to the host's window (slot 14); nIndex <= 0: asks the instance's
// running on-demand request to cancel (its files then end with
// GPC_ODE_RESULT_CANCELLED). 1 when sent or asked, else 0.
int WINAPI GpcCancelFileIndex(GpcCookie pCookie, int nIndex);
}
