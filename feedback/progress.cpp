// Progress windows: the shared dialog machinery (template 102, placement,
// the bar painter, the time-remaining text) and the windows of the two
// owners above this room: the installation manager's start-up pass and the
// on-demand download jobs.
#include "feedback/progress.h"

#include "feedback/messages.h"
#include "feedback/progress_internal.h"
#include "feedback/report.h"
#include "feedback/trace.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/module_state.h"
#include "npvrgpc/npbase.h"

namespace {

// Marks a bar whose painting is traced (the single-file window's).
const char GPC_BAR_TRACE_PROP[] = "GpcProgressBarTrace";

// Left edge of every progress window, in pixels.
const int GPC_PROGRESS_LEFT = 15;

// Caption and status texts are cut to this size.
const int GPC_CAPTION_SIZE = 1024;

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
    SetWindowPos(hWnd, HWND_TOPMOST, GPC_PROGRESS_LEFT, nTop, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
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
    if (bTraceBar) SetPropA(hBar, GPC_BAR_TRACE_PROP, reinterpret_cast<HANDLE>(1));
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

void SendCancelToHost(const GpcHostLink& host)
{
    HWND hHost = host.GetWindow();
    if (hHost && IsWindow(hHost)) SendMessageA(hHost, GPC_WM_CANCEL_DOWNLOAD, 0, 0);
}

bool IsProgressSuppressed(const char* lpszValue)
{
    return GpcIsTrueParam(lpszValue);
}

LRESULT CALLBACK ProgressBarProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_NCDESTROY) {
        RemovePropA(hWnd, GPC_BAR_TRACE_PROP);
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
    if (GetPropA(hWnd, GPC_BAR_TRACE_PROP)) {
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

void OpenInstallProgressWindow(IGpcProgressOwner* pMgr)
{
    if (!pMgr || HasLiveWindow(*pMgr)) return;
    GpcHostLink host = GetHostLink(pMgr->ProgressCookie());
    if (IsProgressSuppressed(host.GetParam("GpcSuppressProgressBar"))) return;
    pMgr->ProgressWindow = OpenProgressWindow(host.Cookie(), InstallProgressWndProc, reinterpret_cast<LPARAM>(pMgr));
    if (!HasLiveWindow(*pMgr)) return;
    if (const char* lpszTitle = host.GetParam("GpcProgressBarTitle"))
        SetWindowTextA(pMgr->ProgressWindow, lpszTitle);
}

void UpdateInstallProgress(IGpcProgressOwner* pMgr, DWORD dwBytes)
{
    if (!pMgr) return;
    CountProgressBytes(*pMgr, dwBytes);
    if (!HasLiveWindow(*pMgr)) return;
    char achText[GPC_TIME_TEXT_SIZE];
    ShowTimeLeft(pMgr->ProgressWindow, GetLocalLangId(pMgr->ProgressCookie()), GetSecondsLeft(*pMgr), achText);
    RefreshProgressBar(pMgr->ProgressWindow, false);
}

INT_PTR CALLBACK InstallProgressWndProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
        IGpcProgressOwner* pMgr = reinterpret_cast<IGpcProgressOwner*>(lParam);
        AttachProgressOwner(hDlg, pMgr, pMgr, false);
        return FALSE;
    }
    case WM_COMMAND:
        if (wParam == IDCANCEL) {
            IGpcProgressOwner* pMgr = reinterpret_cast<IGpcProgressOwner*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA));
            if (pMgr) pMgr->CancelProgress();
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        DetachProgressOwner(hDlg, reinterpret_cast<IGpcProgressOwner*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA)));
        return FALSE;
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------------------
// On-demand download jobs

void OpenJobProgressWindow(IGpcProgressOwner* pJob, const CGpcString& sectionName)
{
    if (!pJob || pJob->StartTick != 0 || g_nProgressSwitch != 0) return;
    pJob->StartTick = GetTickCount();
    GpcHostLink host = GetHostLink(pJob->ProgressCookie());
    pJob->ProgressWindow = OpenProgressWindow(host.Cookie(), JobProgressWndProc, reinterpret_cast<LPARAM>(pJob));
    if (!HasLiveWindow(*pJob)) return;
    if (IsProgressSuppressed(host.GetParam("GpcSuppressProgressBar"))) return;

    // A title the page gives is the caption even when it is empty; only
    // without one does the section name make the caption.
    char achCaption[GPC_CAPTION_SIZE] = {0};
    bool bCaption = true;
    if (const char* lpszTitle = host.GetParam("GpcProgressBarTitle"))
        GpcCopyString(achCaption, sizeof(achCaption), lpszTitle);
    else if (!sectionName.IsEmpty())
        GpcFormat(achCaption, sizeof(achCaption), "Corvo Downloading [%s]", sectionName.GetText());
    else
        bCaption = false;
    if (bCaption) SetWindowTextA(pJob->ProgressWindow, achCaption);

    const char* lpszStatus = sectionName.IsNull() ? nullptr : host.GetParam(sectionName.GetText());
    SetDlgItemTextA(pJob->ProgressWindow, IDC_GPC_STATUS_TEXT, lpszStatus ? lpszStatus : "");
}

void UpdateJobProgress(IGpcProgressOwner* pJob, DWORD dwBytes)
{
    if (!pJob) return;
    CountProgressBytes(*pJob, dwBytes);
    if (!HasLiveWindow(*pJob) || g_nProgressSwitch != 0) return;
    char achText[GPC_TIME_TEXT_SIZE];
    ShowTimeLeft(pJob->ProgressWindow, GetLocalLangId(pJob->ProgressCookie()), GetSecondsLeft(*pJob), achText);
    RefreshProgressBar(pJob->ProgressWindow, true);
}

INT_PTR CALLBACK JobProgressWndProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG: {
        IGpcProgressOwner* pJob = reinterpret_cast<IGpcProgressOwner*>(lParam);
        AttachProgressOwner(hDlg, pJob, pJob, false);
        return FALSE;
    }
    case WM_COMMAND:
        if (wParam == IDCANCEL) {
            TraceMessage("Cancel Download");
            IGpcProgressOwner* pJob = reinterpret_cast<IGpcProgressOwner*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA));
            if (pJob) pJob->CancelProgress();
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        DetachProgressOwner(hDlg, reinterpret_cast<IGpcProgressOwner*>(GetWindowLongPtrA(hDlg, GWLP_USERDATA)));
        return FALSE;
    default:
        return FALSE;
    }
}
