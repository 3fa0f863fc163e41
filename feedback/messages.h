// Localized messages: language choice, string-table lookup with the English
// fallback, and the message shown (and reported) for each failure.
#pragma once

#include <windows.h>

#include "vrgpcext/host_table.h"
#include "vrgpcext/messages.h"

#include "feedback/feedback_site.h"

enum { GPC_LANG_ENGLISH = 1033 };
// Resource ids.
enum {
    IDD_GPC_MESSAGE = 101,
    IDD_GPC_PROGRESS = 102,
    IDC_GPC_MESSAGE_TEXT = 1000,
    IDC_GPC_PROGRESS_BAR = 1002,
    IDC_GPC_TIME_TEXT = 1005,
    IDC_GPC_STATUS_TEXT = 1007,
    IDS_GPC_ABOUT_MINUTES = 1000,
    IDS_GPC_LESS_THAN_MINUTE = 1001,
};
// The messages (string ids 1 to 23) are named in vrgpcext/messages.h.

// "GpcLocalSetting" (1 to 15) mapped to a Windows language id; 1033 otherwise.
WORD GetLocalLangId(GpcCookie pCookie);

// Finds a resource in a language, falling back to 1033 when the language
// has none. Null when neither exists.
HRSRC FindLocalizedResource(WORD wLang, LPCSTR lpszType, LPCSTR lpszName);

// Loads string id in wLang (block by block fallback to 1033) into lpszOut,
// converted to the ANSI code page. A text that does not fit gives an empty
// text. Returns the length.
int LoadStringInLanguage(WORD wLang, UINT nId, char* lpszOut, int nSize);

// The text of string id in the extension's language, in one module-wide
// 512-byte buffer that the next call overwrites.
const char* LoadLocalizedString(const IGpcFeedbackSite* pSite, UINT nId);

// Shows message nId formatted with the arguments and reports it to the
// server (error code nId; the first argument as detail when it is a text).
void ShowErrorMessage(const IGpcFeedbackSite* pSite, UINT nId, ...);
// Shows a ready text and reports it.
void ShowErrorMessageText(const IGpcFeedbackSite* pSite, const char* lpszText);

// Whether message nId's first conversion is %s (its first argument is the
// report's detail).
bool MessageTakesTextDetail(UINT nId);

// The message window (template 101) and its dialog procedure.
HWND CreateMessageWindow(const IGpcFeedbackSite* pSite);
INT_PTR CALLBACK MessageWndProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
