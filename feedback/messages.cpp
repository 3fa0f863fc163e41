// Localized messages: the language a page asks for, string-table lookup with
// the English fallback, and the message window that shows (and the failure
// report that records) every failure the user should hear of.
#include "feedback/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "feedback/report.h"
#include "feedback/trace.h"
#include "npvrgpc/module_state.h"
#include "npvrgpc/npbase.h"

namespace {

// "GpcLocalSetting" 1..15 in order; index 0 (and anything out of range) is
// English.
const WORD GPC_LANGUAGE_BY_SETTING[16] = {
    1033,  // 0: not a setting
    1033,  // 1  English (United States)
    1033,  // 2  English (United States)
    2052,  // 3  Chinese (Simplified)
    1028,  // 4  Chinese (Traditional)
    1041,  // 5  Japanese
    1042,  // 6  Korean
    1036,  // 7  French
    1033,  // 8  English (United States)
    1031,  // 9  German
    1033,  // 10 English (United States)
    1034,  // 11 Spanish (traditional sort): the library carries nothing in it
    2058,  // 12 Spanish (Mexico)
    1053,  // 13 Swedish
    1033,  // 14 English (United States)
    1033,  // 15 English (United States)
};

// The shared text of LoadLocalizedString. One per loaded library; every call
// overwrites it.
enum { GPC_LOCALIZED_TEXT = 512 };
char s_achLocalizedText[GPC_LOCALIZED_TEXT];

// Formatted messages are at most 1,023 characters.
enum { GPC_MESSAGE_TEXT = 1024 };

// atoi's reading of a decimal number: leading white space, an optional sign,
// then digits; no digits gives 0. Saturates instead of overflowing, which
// atoi leaves undefined; any value that large selects English anyway.
int ParseSetting(const char* lpszText)
{
    const char* p = lpszText;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-') {
        bNegative = (*p == '-');
        ++p;
    }
    long long nValue = 0;
    while (*p >= '0' && *p <= '9') {
        if (nValue < 0x80000000LL) nValue = nValue * 10 + (*p - '0');
        ++p;
    }
    if (bNegative) nValue = -nValue;
    if (nValue > 0x7FFFFFFFLL) nValue = 0x7FFFFFFFLL;
    if (nValue < -0x80000000LL) nValue = -0x80000000LL;
    return static_cast<int>(nValue);
}

// The UTF-16 text of entry (nId mod 16) of one string block, or false when
// the block is missing or malformed.
bool FindStringEntry(HRSRC hRes, UINT nId, const WCHAR** ppText, int* pnLength)
{
    HMODULE hModule = GetGpcModule();
    HGLOBAL hData = LoadResource(hModule, hRes);
    const WCHAR* p = hData ? static_cast<const WCHAR*>(LockResource(hData)) : nullptr;
    if (!p) return false;
    // Walk only inside the block, even if a resource were damaged.
    const WCHAR* pEnd = p + SizeofResource(hModule, hRes) / sizeof(WCHAR);
    for (UINT i = 0; i < (nId & 15); ++i) {
        if (p >= pEnd) return false;
        p += 1 + *p;
    }
    if (p >= pEnd || p + 1 + *p > pEnd) return false;
    *pnLength = *p;
    *ppText = p + 1;
    return true;
}

// A message cut at its limit may end in the first half of a double-byte
// character; that half would swallow the terminator when displayed.
void DropCutLeadByte(char* lpszText)
{
    char* p = lpszText;
    while (*p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p))) {
            if (!p[1]) {
                *p = '\0';
                return;
            }
            p += 2;
        } else {
            ++p;
        }
    }
}

// Shows the text in the message window, if the extension still has one. A
// hidden window is captioned, centred on the primary screen and shown; a
// visible one only gets the new text.
void DisplayMessage(const IGpcFeedbackSite* pSite, const char* lpszText)
{
    if (!pSite) return;
    HWND hWnd = pSite->GetMessageWindow();
    if (!hWnd || !IsWindow(hWnd)) return;
    SetDlgItemTextA(hWnd, IDC_GPC_MESSAGE_TEXT, lpszText);
    if (IsWindowVisible(hWnd)) return;

    RECT rc;
    if (!GetWindowRect(hWnd, &rc)) return;
    const char* lpszTitle = GetHostLink(pSite->GetCookie()).GetParam("GpcMessageTitle");
    if (lpszTitle) SetWindowTextA(hWnd, lpszTitle);
    int nWidth = rc.right - rc.left;
    int nHeight = rc.bottom - rc.top;
    int nLeft = (GetSystemMetrics(SM_CXSCREEN) - nWidth) / 2;
    int nTop = (GetSystemMetrics(SM_CYSCREEN) - nHeight) / 2;
    SetWindowPos(hWnd, HWND_TOPMOST, nLeft, nTop, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
}

}  // namespace

WORD GetLocalLangId(GpcCookie pCookie)
{
    const char* lpszSetting = GetHostLink(pCookie).GetParam("GpcLocalSetting");
    if (!lpszSetting) return GPC_LANG_ENGLISH;
    int nSetting = ParseSetting(lpszSetting);
    if (nSetting < 1 || nSetting > 15) return GPC_LANG_ENGLISH;
    return GPC_LANGUAGE_BY_SETTING[nSetting];
}

HRSRC FindLocalizedResource(WORD wLang, LPCSTR lpszType, LPCSTR lpszName)
{
    HMODULE hModule = GetGpcModule();
    HRSRC hRes = FindResourceExA(hModule, lpszType, lpszName, wLang);
    // FindResourceEx has no fallback of its own: a language the library does
    // not carry must come out in English.
    if (!hRes && wLang != GPC_LANG_ENGLISH) hRes = FindResourceExA(hModule, lpszType, lpszName, GPC_LANG_ENGLISH);
    return hRes;
}

int LoadStringInLanguage(WORD wLang, UINT nId, char* lpszOut, int nSize)
{
    if (!lpszOut || nSize <= 0) return 0;
    lpszOut[0] = '\0';
    if (nId > 0xFFFF) return 0;

    HRSRC hRes = FindLocalizedResource(wLang, RT_STRING, MAKEINTRESOURCEA((nId >> 4) + 1));
    const WCHAR* pText = nullptr;
    int nLength = 0;
    if (!hRes || !FindStringEntry(hRes, nId, &pText, &nLength) || nLength == 0) return 0;
    // Room for the terminator at least: a zero-sized conversion would only
    // measure the text.
    if (nSize < 2) return 0;

    int nBytes = WideCharToMultiByte(CP_ACP, 0, pText, nLength, lpszOut, nSize - 1, nullptr, nullptr);
    // Zero means the text did not fit: an empty text rather than a cut one.
    if (nBytes <= 0) {
        lpszOut[0] = '\0';
        return 0;
    }
    lpszOut[nBytes] = '\0';
    return nBytes;
}

const char* LoadLocalizedString(const IGpcFeedbackSite* pSite, UINT nId)
{
    std::memset(s_achLocalizedText, 0, sizeof(s_achLocalizedText));
    LoadStringInLanguage(GetLocalLangId(CookieOf(pSite)), nId, s_achLocalizedText,
                         sizeof(s_achLocalizedText));
    return s_achLocalizedText;
}

bool MessageTakesTextDetail(UINT nId)
{
    switch (nId) {
    case GPC_MSG_FILE_ERROR:
    case GPC_MSG_OS_NOT_SUPPORTED:
    case GPC_MSG_DOWNLOAD_FAILED:
    case GPC_MSG_INSTALL_FAILED:
    case GPC_MSG_RESTART_NEEDED:
    case GPC_MSG_REGISTER_FAILED:
    case GPC_MSG_LOCATION_FAILED:
    case GPC_MSG_SCRIPT_SYNTAX:
    case GPC_MSG_NO_DOWNLOADED_FILE:
    case GPC_MSG_CONTROL_NOT_CREATED:
    case GPC_MSG_COMPONENT_NOT_LISTED:
    case GPC_MSG_COMPONENT_NOT_LOADED:
    case GPC_MSG_NEED_ADMIN:
    case GPC_MSG_MANIFEST_REFUSED:
        return true;
    default:
        return false;
    }
}

void ShowErrorMessage(const IGpcFeedbackSite* pSite, UINT nId, ...)
{
    char achMessage[GPC_MESSAGE_TEXT] = {};
    // The shared buffer is copied first: an argument may itself be a text
    // that the caller loaded through LoadLocalizedString.
    char achFormat[GPC_LOCALIZED_TEXT];
    GpcCopyString(achFormat, sizeof(achFormat), LoadLocalizedString(pSite, nId));

    va_list args;
    va_start(args, nId);
    if (achFormat[0]) {
        va_list copy;
        va_copy(copy, args);
        // Bounded: a long argument cuts the message at 1,023 characters.
        int n = std::vsnprintf(achMessage, sizeof(achMessage), achFormat, copy);
        va_end(copy);
        if (n < 0) achMessage[0] = '\0';
        else if (n >= static_cast<int>(sizeof(achMessage))) DropCutLeadByte(achMessage);
    }
    const char* lpszDetail = nullptr;
    if (MessageTakesTextDetail(nId)) lpszDetail = va_arg(args, const char*);
    va_end(args);

    DisplayMessage(pSite, achMessage);
    ReportFailureToServer(pSite, static_cast<int>(nId), lpszDetail);
}

void ShowErrorMessageText(const IGpcFeedbackSite* pSite, const char* lpszText)
{
    char achMessage[GPC_MESSAGE_TEXT] = {};
    if (lpszText) GpcCopyString(achMessage, sizeof(achMessage), lpszText);
    DisplayMessage(pSite, achMessage);
    // A ready text has no message id; it is reported as error code 0, which
    // no message, cancel or installation result uses.
    ReportFailureToServer(pSite, GPC_REPORT_READY_TEXT, nullptr);
}

HWND CreateMessageWindow(const IGpcFeedbackSite* pSite)
{
    HRSRC hRes = FindLocalizedResource(GetLocalLangId(CookieOf(pSite)), RT_DIALOG,
                                       MAKEINTRESOURCEA(IDD_GPC_MESSAGE));
    if (!hRes) return nullptr;
    HMODULE hModule = GetGpcModule();
    HGLOBAL hData = LoadResource(hModule, hRes);
    const DLGTEMPLATE* pTemplate = hData ? static_cast<const DLGTEMPLATE*>(LockResource(hData)) : nullptr;
    if (!pTemplate) return nullptr;
    // Modeless and without owner: the host's message loop serves it.
    HWND hWnd = CreateDialogIndirectParamA(hModule, pTemplate, nullptr, MessageWndProc,
                                           reinterpret_cast<LPARAM>(const_cast<IGpcFeedbackSite*>(pSite)));
    if (!hWnd) TraceMessage("CreateMessageWindow fails: %lu", GetLastError());
    return hWnd;
}

INT_PTR CALLBACK MessageWndProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            // Hidden, not destroyed: the next message reuses the window.
            ShowWindow(hDlg, SW_HIDE);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

GpcCookie CookieOf(const IGpcFeedbackSite* pSite)
{
    return pSite ? pSite->GetCookie() : g_pGpcCookie;
}
