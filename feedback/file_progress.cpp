// The progress window of one file fetched through GpcGetFileAtUrlEx. The
// manager stands between the host and the caller's callback, and deletes
// itself when the host reports the end of the download.
#include "feedback/messages.h"
#include "feedback/progress.h"
#include "feedback/progress_internal.h"
#include "feedback/trace.h"
#include "npvrgpc/module_state.h"

CVRGpcProgressMgr* CVRGpcProgressMgr::s_pFirstLive = nullptr;

CVRGpcProgressMgr::CVRGpcProgressMgr(GpcCookie pCookie, GpcHostTable* pHostTable,
                                     const GpcFileRequest& request)
    : Cookie(pCookie), HostTable(pHostTable), CallerContext(request.pContext),
      CallerCallback(request.pfnCallback), Request(request.pProgress), FailureNoted(0)
{
    m_pNextLive = s_pFirstLive;
    if (s_pFirstLive) s_pFirstLive->m_pPrevLive = this;
    s_pFirstLive = this;

    if (Request) TotalBytes += Request->dwTotalSize;
    StartTick = GetTickCount();

    WORD wLang = GetLocalLangId(Cookie);
    HRSRC hResource = FindResourceExA(GetGpcModule(), RT_DIALOG, MAKEINTRESOURCEA(IDD_GPC_PROGRESS), wLang);
    TraceMessage("Get localized progress resource: %x,local setting:%x",
                 static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hResource)), static_cast<unsigned>(wLang));
    if (!hResource)
        hResource = FindLocalizedResource(GPC_LANG_ENGLISH, RT_DIALOG, MAKEINTRESOURCEA(IDD_GPC_PROGRESS));
    ProgressWindow = CreateProgressDialog(hResource, FileProgressWndProc, reinterpret_cast<LPARAM>(this));
    TraceMessage("Create download progress wnd,%x", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(ProgressWindow)));
    if (!HasLiveWindow(*this)) return;

    PositionProgressWindow(ProgressWindow);
    const char* lpszCaption = Request ? Request->lpszCaption : nullptr;
    if (!lpszCaption) lpszCaption = GpcHostLink(Cookie, HostTable).GetParam("GpcProgressBarTitle");
    if (lpszCaption) SetWindowTextA(ProgressWindow, lpszCaption);
}

CVRGpcProgressMgr::~CVRGpcProgressMgr()
{
    CloseProgressWindow(&ProgressWindow);
    if (m_pPrevLive) m_pPrevLive->m_pNextLive = m_pNextLive;
    else if (s_pFirstLive == this) s_pFirstLive = m_pNextLive;
    if (m_pNextLive) m_pNextLive->m_pPrevLive = m_pPrevLive;
}

// A host that never ends a download would otherwise keep the window after
// the library is unloaded, with its window procedure in unmapped code.
void CVRGpcProgressMgr::CloseAllWindows(const char* lpszWhen)
{
    for (CVRGpcProgressMgr* p = s_pFirstLive; p; p = p->m_pNextLive) {
        if (!HasLiveWindow(*p)) continue;
        TraceMessage("Close download progress wnd,%x: download still running at %s",
                     static_cast<unsigned>(reinterpret_cast<UINT_PTR>(p->ProgressWindow)), lpszWhen);
        // The caller hears nothing more of the window; the download's own
        // end, should the host still report it, goes on as before.
        p->FailureNoted = 1;
        CloseProgressWindow(&p->ProgressWindow);
    }
}

void WINAPI CVRGpcProgressMgr::OnDownloadStatus(void* /*pIgnored*/, void* pManager, DWORD dwStatus, ULONG_PTR value)
{
    CVRGpcProgressMgr* pThis = static_cast<CVRGpcProgressMgr*>(pManager);
    if (!pThis) return;
    // The caller hears of every notice first, the last one included.
    if (pThis->CallerCallback) pThis->CallerCallback(pThis->Cookie, pThis->CallerContext, dwStatus, value);
    if (dwStatus != 0) {
        pThis->UpdateProgress(static_cast<DWORD>(value));
        return;
    }
    if (value == 0 && !pThis->FailureNoted) {
        TraceMessage("download file failed");
        pThis->FailureNoted = 1;
    }
    delete pThis;
}

void CVRGpcProgressMgr::UpdateProgress(DWORD dwBytes)
{
    CountProgressBytes(*this, dwBytes);
    if (!HasLiveWindow(*this)) return;
    DWORD dwSeconds = GetSecondsLeft(*this);
    if (dwSeconds > 0) {
        TraceMessage("dwMinutes = %d,dwSeconds = %d", static_cast<int>(MinutesLeft(dwSeconds)),
                     static_cast<int>(dwSeconds % 60));
    }
    char achText[GPC_TIME_TEXT_SIZE];
    ShowTimeLeft(ProgressWindow, GetLocalLangId(Cookie), dwSeconds, achText);
    TraceMessage("downloadedSize = %d,totalsize = %d,Progress Text:%s", static_cast<int>(ReceivedBytes),
                 static_cast<int>(TotalBytes), achText);
    RefreshProgressBar(ProgressWindow, false);
}

// The caller fetched this file on its own account: no failure report. The
// manager lives on until the host ends the download.
void CVRGpcProgressMgr::CancelDownload()
{
    FailureNoted = 1;
    CloseProgressWindow(&ProgressWindow);
    // Last on purpose: a host may end the download inside this message,
    // and the manager deletes itself then.
    SendCancelToHost(GpcHostLink(Cookie, HostTable));
}

INT_PTR CALLBACK FileProgressWndProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
        CVRGpcProgressMgr* pMgr = reinterpret_cast<CVRGpcProgressMgr*>(lParam);
        AttachProgressOwner(hDlg, pMgr, pMgr, true);
        return FALSE;
    }
    case WM_COMMAND:
        if (wParam == IDCANCEL) {
            CVRGpcProgressMgr* pMgr = reinterpret_cast<CVRGpcProgressMgr*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA));
            if (pMgr) pMgr->CancelDownload();
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        DetachProgressOwner(hDlg, reinterpret_cast<CVRGpcProgressMgr*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA)));
        return FALSE;
    default:
        return FALSE;
    }
}
