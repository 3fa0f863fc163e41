// Progress windows: the shared dialog machinery (template 102, placement,
// the bar painter, the time-remaining text) and the two owners that live
// in the extension: the installation manager's start-up pass and the
// on-demand download jobs.
#include "feedback/progress.h"

#include "extension/extension.h"
#include "extension/module_state.h"
#include "feedback/messages.h"
#include "feedback/progress_internal.h"
#include "feedback/report.h"
#include "feedback/trace.h"
#include "install/installation_mgr.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/npbase.h"

namespace {

// Marks a bar whose painting is traced (the single-file window's).
const char kBarTraceProp[] = "GpcProgressBarTrace";

// Left edge of every progress window, in pixels.
const int kProgressLeft = 15;

// Caption and status texts are cut to this size.
const int kCaptionSize = 1024;

GpcCookie CookieOf(CVRGpcExtension* pExtension)
{
    return pExtension ? pExtension->m_pGpcCookie : g_pGpcCookie;
}

// Substitutes the whole number for the first integer conversion of a
// localized format ("about %lu minutes"). The text comes from a resource
// that translators edit, so it is never handed to printf: any other
// conversion is copied as it stands and cannot read a missing argument.
void FormatMinutesText(const char* lpszFormat, DWORD dwMinutes, char* lpszOut, int nSize)
{
    if (!lpszOut || nSize <= 0) return;
    lpszOut[0] = '\0';
    if (!lpszFormat) return;
    char achNumber[16];
    GpcFormat(achNumber, sizeof(achNumber), "%lu", static_cast<unsigned long>(dwMinutes));
    bool bUsed = false;
    char achPiece[2] = {0, 0};
    for (const char* p = lpszFormat; *p; ++p) {
        if (*p == '%') {
            if (p[1] == '%') {
                GpcAppendString(lpszOut, nSize, "%");
                ++p;
                continue;
            }
            const char* q = p + 1;
            while (*q == '-' || *q == '0' || *q == ' ' || *q == '+') ++q;
            while (*q >= '0' && *q <= '9') ++q;
            if (*q == 'l') ++q;
            if (!bUsed && (*q == 'u' || *q == 'd' || *q == 'i')) {
                GpcAppendString(lpszOut, nSize, achNumber);
                bUsed = true;
                p = q;
                continue;
            }
        }
        achPiece[0] = *p;
        GpcAppendString(lpszOut, nSize, achPiece);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared machinery

HWND CreateProgressDialog(HRSRC hResource, DLGPROC pfnProc, LPARAM lOwner)
{
    if (!hResource) return nullptr;
    HINSTANCE hModule = GetGpcModule();
    HGLOBAL hTemplate = LoadResource(hModule, hResource);
    if (!hTemplate) return nullptr;
    const DLGTEMPLATE* pTemplate = static_cast<const DLGTEMPLATE*>(LockResource(hTemplate));
    if (!pTemplate) return nullptr;
    return CreateDialogIndirectParamA(hModule, pTemplate, nullptr, pfnProc, lOwner);
}

HWND OpenProgressWindow(GpcCookie pCookie, DLGPROC pfnProc, LPARAM lOwner)
{
    WORD wLang = GetLocalLangId(pCookie);
    HRSRC hResource = FindLocalizedResource(wLang, RT_DIALOG, MAKEINTRESOURCEA(IDD_GPC_PROGRESS));
    HWND hWnd = CreateProgressDialog(hResource, pfnProc, lOwner);
    if (hWnd) PositionProgressWindow(hWnd);
    return hWnd;
}

void PositionProgressWindow(HWND hWnd)
{
    if (!hWnd || !IsWindow(hWnd)) return;
    RECT rc;
    if (!GetWindowRect(hWnd, &rc)) return;
    int nHeight = rc.bottom - rc.top;
    SetForegroundWindow(hWnd);
    // The template opens centred; downloads keep the window out of the way
    // at the left edge, vertically centred on the primary screen.
    int nTop = (GetSystemMetrics(SM_CYSCREEN) - nHeight) / 2;
    SetWindowPos(hWnd, HWND_TOPMOST, kProgressLeft, nTop, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

void CloseProgressWindow(HWND* phWnd)
{
    if (!phWnd) return;
    HWND hWnd = *phWnd;
    *phWnd = nullptr;
    if (hWnd && IsWindow(hWnd)) DestroyWindow(hWnd);
}

void CountProgressBytes(GpcProgressCounters& counters, DWORD dwBytes)
{
    CountProgressBytesAt(counters, dwBytes, GetTickCount());
}

void CountProgressBytesAt(GpcProgressCounters& counters, DWORD dwBytes, DWORD dwNow)
{
    counters.ReceivedBytes += dwBytes;
    DWORD dwElapsed = static_cast<DWORD>(TickDelta(counters.StartTick, dwNow));
    if (dwElapsed == 0) dwElapsed = 1;
    // Beyond 4,294,967 bytes the product with 1000 no longer fits 32 bits.
    ULONGLONG ullRate = static_cast<ULONGLONG>(counters.ReceivedBytes) * 1000u / dwElapsed;
    counters.BytesPerSecond = static_cast<DWORD>(ullRate);
}

DWORD GetSecondsLeft(const GpcProgressCounters& counters)
{
    if (counters.BytesPerSecond == 0 || counters.ReceivedBytes >= counters.TotalBytes) return 0;
    return (counters.TotalBytes - counters.ReceivedBytes) / counters.BytesPerSecond;
}

DWORD MinutesLeft(DWORD dwSeconds)
{
    return dwSeconds / 60 + (dwSeconds % 60 ? 1 : 0);
}

void FormatTimeLeft(WORD wLang, DWORD dwSeconds, char* lpszOut, int nSize)
{
    if (!lpszOut || nSize <= 0) return;
    lpszOut[0] = '\0';
    if (dwSeconds == 0) return;
    DWORD dwMinutes = MinutesLeft(dwSeconds);
    char achText[GPC_TIME_TEXT_SIZE] = {0};
    if (dwMinutes <= 1) {
        LoadStringInLanguage(wLang, IDS_GPC_LESS_THAN_MINUTE, achText, sizeof(achText));
        GpcCopyString(lpszOut, nSize, achText);
    } else {
        LoadStringInLanguage(wLang, IDS_GPC_ABOUT_MINUTES, achText, sizeof(achText));
        FormatMinutesText(achText, dwMinutes, lpszOut, nSize);
    }
}

bool HasLiveWindow(GpcProgressCounters& counters)
{
    if (!counters.ProgressWindow) return false;
    if (IsWindow(counters.ProgressWindow)) return true;
    counters.ProgressWindow = nullptr;
    return false;
}

void AttachProgressOwner(HWND hDlg, void* pOwner, GpcProgressCounters* pCounters, bool bTraceBar)
{
    SetWindowLongPtrA(hDlg, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pOwner));
    HWND hBar = GetDlgItem(hDlg, IDC_GPC_PROGRESS_BAR);
    if (!hBar) return;
    SetWindowLongPtrA(hBar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pCounters));
    if (bTraceBar) SetPropA(hBar, kBarTraceProp, reinterpret_cast<HANDLE>(1));
    // The static control's own painting is not wanted: the bar paints itself.
    SetWindowLongPtrA(hBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressBarProc));
}

void DetachProgressOwner(HWND hDlg, GpcProgressCounters* pCounters)
{
    SetWindowLongPtrA(hDlg, GWLP_USERDATA, 0);
    if (HWND hBar = GetDlgItem(hDlg, IDC_GPC_PROGRESS_BAR))
        SetWindowLongPtrA(hBar, GWLP_USERDATA, 0);
    if (pCounters && pCounters->ProgressWindow == hDlg) pCounters->ProgressWindow = nullptr;
}

void ShowTimeLeft(HWND hDlg, WORD wLang, DWORD dwSeconds, char* lpszText)
{
    lpszText[0] = '\0';
    if (dwSeconds == 0) return;  // no estimate: the previous text stays
    FormatTimeLeft(wLang, dwSeconds, lpszText, GPC_TIME_TEXT_SIZE);
    if (IsWindow(hDlg)) SetDlgItemTextA(hDlg, IDC_GPC_TIME_TEXT, lpszText);
}

void RefreshProgressBar(HWND hDlg, bool bNow)
{
    if (!IsWindow(hDlg)) return;
    HWND hBar = GetDlgItem(hDlg, IDC_GPC_PROGRESS_BAR);
    if (!hBar) return;
    InvalidateRect(hBar, nullptr, FALSE);
    if (bNow) UpdateWindow(hBar);
}

void SendCancelToHost(GpcHostTable* pTable, GpcCookie pCookie)
{
    if (!pTable || !pTable->HostGetWindow) return;
    HWND hHost = pTable->HostGetWindow(pCookie);
    if (hHost && IsWindow(hHost)) SendMessageA(hHost, GPC_WM_CANCEL_DOWNLOAD, 0, 0);
}

bool IsProgressSuppressed(const char* lpszValue)
{
    return lpszValue && lstrcmpiA(lpszValue, "True") == 0;
}

LRESULT CALLBACK ProgressBarProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_NCDESTROY) {
        RemovePropA(hWnd, kBarTraceProp);
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
    if (uMsg != WM_PAINT) return DefWindowProcA(hWnd, uMsg, wParam, lParam);

    const GpcProgressCounters* pCounters =
        reinterpret_cast<const GpcProgressCounters*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (!pCounters) {
        // Validate anyway, or the paint message would come back for ever.
        ValidateRect(hWnd, nullptr);
        return 0;
    }

    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hWnd, &ps);
    RECT rc;
    GetClientRect(hWnd, &rc);
    rc.left += 4;
    rc.right -= 4;
    rc.top += 2;
    rc.bottom -= 2;
    // A zero total means nothing is known yet: the bar stays empty.
    double dFraction = pCounters->TotalBytes
        ? static_cast<double>(pCounters->ReceivedBytes) / static_cast<double>(pCounters->TotalBytes)
        : 0.0;
    double dWidth = dFraction * static_cast<double>(rc.right - rc.left);
    // More bytes than announced fill the bar and no further.
    double dRight = static_cast<double>(rc.left) + dWidth;
    if (dRight < static_cast<double>(rc.right)) rc.right = static_cast<LONG>(dRight);
    if (GetPropA(hWnd, kBarTraceProp)) {
        TraceMessage("progressber,rc,%d,%d,%d,%d,%f,%f", static_cast<int>(rc.left), static_cast<int>(rc.right),
                     static_cast<int>(rc.top), static_cast<int>(rc.bottom), dFraction, dWidth);
    }
    if (hdc && rc.right > rc.left && rc.bottom > rc.top) {
        CGpcBrush brush(CreateSolidBrush(GPC_PROGRESS_FILL_COLOR));
        if (brush) FillRect(hdc, &rc, brush.Get());
    }
    EndPaint(hWnd, &ps);
    return 0;
}

// ---------------------------------------------------------------------------
// Installation manager (start-up pass)

void OpenInstallProgressWindow(CVRGpcInstallationMgr* pMgr)
{
    if (!pMgr || HasLiveWindow(*pMgr)) return;
    GpcCookie pCookie = CookieOf(pMgr->Owner);
    if (IsProgressSuppressed(GetHostParam(pCookie, "GpcSuppressProgressBar"))) return;
    pMgr->ProgressWindow = OpenProgressWindow(pCookie, InstallProgressWndProc, reinterpret_cast<LPARAM>(pMgr));
    if (!HasLiveWindow(*pMgr)) return;
    if (const char* lpszTitle = GetHostParam(pCookie, "GpcProgressBarTitle"))
        SetWindowTextA(pMgr->ProgressWindow, lpszTitle);
}

void UpdateInstallProgress(CVRGpcInstallationMgr* pMgr, DWORD dwBytes)
{
    if (!pMgr) return;
    CountProgressBytes(*pMgr, dwBytes);
    if (!HasLiveWindow(*pMgr)) return;
    char achText[GPC_TIME_TEXT_SIZE];
    ShowTimeLeft(pMgr->ProgressWindow, GetLocalLangId(CookieOf(pMgr->Owner)), GetSecondsLeft(*pMgr), achText);
    RefreshProgressBar(pMgr->ProgressWindow, false);
}

namespace {

// The user gave up the start-up downloads: the extension fails, the host is
// asked to stop its download and the server hears of it.
void CancelInstallDownload(CVRGpcInstallationMgr* pMgr)
{
    CVRGpcExtension* pExtension = pMgr->Owner;
    if (pExtension) pExtension->m_bFailed = 1;
    CloseProgressWindow(&pMgr->ProgressWindow);
    SendCancelToHost(g_pHostTable, CookieOf(pExtension));
    if (pExtension) ReportFailureToServer(pExtension, GPC_REPORT_CANCELLED, nullptr);
}

}  // namespace

INT_PTR CALLBACK InstallProgressWndProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
        CVRGpcInstallationMgr* pMgr = reinterpret_cast<CVRGpcInstallationMgr*>(lParam);
        AttachProgressOwner(hDlg, pMgr, pMgr, false);
        return FALSE;
    }
    case WM_COMMAND:
        if (wParam == IDCANCEL) {
            CVRGpcInstallationMgr* pMgr =
                reinterpret_cast<CVRGpcInstallationMgr*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA));
            if (pMgr) CancelInstallDownload(pMgr);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        DetachProgressOwner(hDlg, reinterpret_cast<CVRGpcInstallationMgr*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA)));
        return FALSE;
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------------------
// On-demand download jobs

int RegisterJobItem(GpcDownloadJob* pJob, GpcInstallItem* pItem)
{
    if (!pJob || !pItem) return 0;
    pJob->TotalBytes += pItem->CompressedSize;
    int bAdded = pJob->PendingItems.Add(pItem) ? 1 : 0;

    if (pJob->StartTick != 0 || g_nProgressSwitch != 0) return bAdded;
    pJob->StartTick = GetTickCount();
    GpcCookie pCookie = CookieOf(pJob->Owner);
    pJob->ProgressWindow = OpenProgressWindow(pCookie, JobProgressWndProc, reinterpret_cast<LPARAM>(pJob));
    if (!HasLiveWindow(*pJob)) return bAdded;
    if (IsProgressSuppressed(GetHostParam(pCookie, "GpcSuppressProgressBar"))) return bAdded;

    // A title the page gives is the caption even when it is empty; only
    // without one does the section name make the caption.
    char achCaption[kCaptionSize] = {0};
    bool bCaption = true;
    if (const char* lpszTitle = GetHostParam(pCookie, "GpcProgressBarTitle"))
        GpcCopyString(achCaption, sizeof(achCaption), lpszTitle);
    else if (!pJob->SectionName.IsEmpty())
        GpcFormat(achCaption, sizeof(achCaption), "Corvo Downloading [%s]", pJob->SectionName.GetText());
    else
        bCaption = false;
    if (bCaption) SetWindowTextA(pJob->ProgressWindow, achCaption);

    const char* lpszStatus = pJob->SectionName.IsNull() ? nullptr : GetHostParam(pCookie, pJob->SectionName.GetText());
    SetDlgItemTextA(pJob->ProgressWindow, IDC_GPC_STATUS_TEXT, lpszStatus ? lpszStatus : "");
    return bAdded;
}

void UpdateJobProgress(GpcDownloadJob* pJob, DWORD dwBytes)
{
    if (!pJob) return;
    CountProgressBytes(*pJob, dwBytes);
    if (!HasLiveWindow(*pJob) || g_nProgressSwitch != 0) return;
    char achText[GPC_TIME_TEXT_SIZE];
    ShowTimeLeft(pJob->ProgressWindow, GetLocalLangId(CookieOf(pJob->Owner)), GetSecondsLeft(*pJob), achText);
    RefreshProgressBar(pJob->ProgressWindow, true);
}

namespace {

void CancelJobDownload(GpcDownloadJob* pJob)
{
    if (!HasLiveWindow(*pJob)) return;
    CloseProgressWindow(&pJob->ProgressWindow);
    // The window belongs to one request: only that request is cancelled.
    pJob->CancelRequested = 1;
    CVRGpcExtension* pExtension = pJob->Owner;
    if (pExtension) ReportFailureToServer(pExtension, GPC_REPORT_CANCELLED, nullptr);
    SendCancelToHost(g_pHostTable, CookieOf(pExtension));
}

}  // namespace

INT_PTR CALLBACK JobProgressWndProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
        GpcDownloadJob* pJob = reinterpret_cast<GpcDownloadJob*>(lParam);
        AttachProgressOwner(hDlg, pJob, pJob, false);
        return FALSE;
    }
    case WM_COMMAND:
        if (wParam == IDCANCEL) {
            TraceMessage("Cancel Download");
            GpcDownloadJob* pJob = reinterpret_cast<GpcDownloadJob*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA));
            if (pJob) CancelJobDownload(pJob);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        DetachProgressOwner(hDlg, reinterpret_cast<GpcDownloadJob*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA)));
        return FALSE;
    default:
        return FALSE;
    }
}
