// Localized messages.
#include "feedback/messages.h"

#include "extension/extension.h"
#include "extension/module_state.h"
#include "feedback/report.h"

WORD GetLocalLangId(GpcCookie) { return GPC_LANG_ENGLISH; }
HRSRC FindLocalizedResource(WORD, LPCSTR, LPCSTR) { return nullptr; }
int LoadStringInLanguage(WORD, UINT, char* lpszOut, int nSize)
{
    if (lpszOut && nSize > 0) lpszOut[0] = '\0';
    return 0;
}
const char* LoadLocalizedString(CVRGpcExtension*, UINT) { return ""; }
void ShowErrorMessage(CVRGpcExtension*, UINT, ...) {}
void ShowErrorMessageText(CVRGpcExtension*, const char*) {}
bool MessageTakesTextDetail(UINT) { return false; }
HWND CreateMessageWindow(CVRGpcExtension*) { return nullptr; }
INT_PTR CALLBACK MessageWndProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
