// Progress windows: placeholder definitions so the extension links while
// the windows are being written.
#include "feedback/progress.h"

HWND OpenProgressWindow(GpcCookie, DLGPROC, LPARAM) { return nullptr; }
void PositionProgressWindow(HWND) {}
void CloseProgressWindow(HWND* phWnd)
{
    if (phWnd && *phWnd) {
        if (IsWindow(*phWnd)) DestroyWindow(*phWnd);
        *phWnd = nullptr;
    }
}

DWORD GetSecondsLeft(const GpcProgressCounters&) { return 0; }
void FormatTimeLeft(WORD, DWORD, char* lpszOut, int nSize)
{
    if (lpszOut && nSize > 0) lpszOut[0] = '\0';
}

void OpenInstallProgressWindow(CVRGpcInstallationMgr*) {}
void UpdateInstallProgress(CVRGpcInstallationMgr*, DWORD) {}
INT_PTR CALLBACK InstallProgressWndProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

int RegisterJobItem(GpcDownloadJob*, GpcInstallItem*) { return 0; }
void UpdateJobProgress(GpcDownloadJob*, DWORD) {}
INT_PTR CALLBACK JobProgressWndProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

CVRGpcProgressMgr::CVRGpcProgressMgr(GpcCookie pCookie, GpcHostTable* pHostTable,
                                     const GpcFileRequest& request)
    : Cookie(pCookie), HostTable(pHostTable), CallerContext(request.pContext),
      CallerCallback(request.pfnCallback), Request(request.pProgress), FailureNoted(0)
{
}
CVRGpcProgressMgr::~CVRGpcProgressMgr() { CloseProgressWindow(&ProgressWindow); }
void WINAPI CVRGpcProgressMgr::OnDownloadStatus(void*, void*, DWORD, ULONG_PTR) {}
void CVRGpcProgressMgr::UpdateProgress(DWORD) {}
void CVRGpcProgressMgr::CancelDownload() {}
INT_PTR CALLBACK FileProgressWndProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
LRESULT CALLBACK ProgressBarProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}
