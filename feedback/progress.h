// Progress windows (dialog template 102) for the start-up downloads, the
// on-demand download jobs and single-file downloads.
#pragma once

#include <windows.h>

#include "feedback/progress_counters.h"
#include "npvrgpc/host_link.h"
#include "npvrgpc/npbase.h"
#include "vrgpcext/exports.h"

// Whoever a start-up or on-demand progress window stands for: the window
// shows its counters, speaks the language of its cookie, and tells it when
// the user presses Cancel. The installation manager and the download jobs
// implement it.
struct IGpcProgressOwner : GpcProgressCounters {
    virtual GpcCookie ProgressCookie() const = 0;
    // The window's Cancel button was pressed.
    virtual void CancelProgress() = 0;

protected:
    ~IGpcProgressOwner() = default;
};

// Opens template 102 in the cookie's language (1033 fallback), modeless and
// without parent, and positions it. Null when no window could be made.
HWND OpenProgressWindow(GpcCookie pCookie, DLGPROC pfnProc, LPARAM lOwner);
void PositionProgressWindow(HWND hWnd);
// Destroys the window if there is one and clears the handle.
void CloseProgressWindow(HWND* phWnd);

// Whether the owner still has a live window. A handle whose window is gone
// (destroyed behind the owner's back) is cleared here.
bool HasLiveWindow(GpcProgressCounters& counters);

// Sends GPC_WM_CANCEL_DOWNLOAD (0, 0) to the host window of a cookie.
void SendCancelToHost(const GpcHostLink& host);

// "GpcSuppressProgressBar" is "True" in any letter case: no progress
// window opens for the page.
bool IsProgressSuppressed(const char* lpszValue);

// Seconds to go at the current rate; 0 when unknown or done.
DWORD GetSecondsLeft(const GpcProgressCounters& counters);
// The time text for a number of seconds ("less than 1 minute",
// "about %lu minutes") in a language; empty for 0 seconds.
void FormatTimeLeft(WORD wLang, DWORD dwSeconds, char* lpszOut, int nSize);

// Start-up pass (installation manager).
void OpenInstallProgressWindow(IGpcProgressOwner* pMgr);
void UpdateInstallProgress(IGpcProgressOwner* pMgr, DWORD dwBytes);
INT_PTR CALLBACK InstallProgressWndProc(HWND, UINT, WPARAM, LPARAM);

// On-demand jobs. The window opens with the first file of a job (unless the
// switch keeps job windows closed), captioned after the page's title or the
// section; the section's page parameter is its status text.
void OpenJobProgressWindow(IGpcProgressOwner* pJob, const CGpcString& sectionName);
void UpdateJobProgress(IGpcProgressOwner* pJob, DWORD dwBytes);
INT_PTR CALLBACK JobProgressWndProc(HWND, UINT, WPARAM, LPARAM);

// The three-field request GpcGetFileAtUrlEx builds for the progress manager.
struct GpcFileRequest {
    void* pContext;
    GpcDownloadCallback pfnCallback;
    GpcProgressRequest* pProgress;
};

// One file fetched through GpcGetFileAtUrlEx, with its own window. Deletes
// itself when the host reports the end of the download.
class CVRGpcProgressMgr : public GpcProgressCounters {
public:
    CVRGpcProgressMgr(GpcCookie pCookie, GpcHostTable* pHostTable, const GpcFileRequest& request);
    virtual ~CVRGpcProgressMgr();
    CVRGpcProgressMgr(const CVRGpcProgressMgr&) = delete;
    CVRGpcProgressMgr& operator=(const CVRGpcProgressMgr&) = delete;

    static void WINAPI OnDownloadStatus(void* pIgnored, void* pManager, DWORD dwStatus, ULONG_PTR value);
    void UpdateProgress(DWORD dwBytes);
    void CancelDownload();
    // Closes the window of every file whose download has not ended yet. The
    // managers themselves stay: the host still holds them as the context of
    // its downloads and may end them later.
    static void CloseAllWindows(const char* lpszWhen);

    GpcCookie Cookie;
    GpcHostTable* HostTable;
    void* CallerContext;
    GpcDownloadCallback CallerCallback;
    GpcProgressRequest* Request;
    int FailureNoted;

private:
    // Every live manager of this loaded library, newest first.
    CVRGpcProgressMgr* m_pNextLive = nullptr;
    CVRGpcProgressMgr* m_pPrevLive = nullptr;
    static CVRGpcProgressMgr* s_pFirstLive;
};
INT_PTR CALLBACK FileProgressWndProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ProgressBarProc(HWND, UINT, WPARAM, LPARAM);
