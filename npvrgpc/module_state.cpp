#include "npvrgpc/module_state.h"

#include "npvrgpc/npbase.h"

HINSTANCE g_hModule = nullptr;
GpcCookie g_pGpcCookie = nullptr;
GpcHostTable* g_pHostTable = nullptr;
int g_nCookieTranslation = 1;
int g_nProgressSwitch = 0;
int g_nMessageWndSwitch = 0;
int g_bTraceEnabled = 1;
HWND g_hTracerWindow = nullptr;

HINSTANCE GetGpcModule()
{
    return g_hModule ? g_hModule : GetModuleHandleA(nullptr);
}

void GetGpcModulePath(char* lpszPath, int nSize)
{
    if (!lpszPath || nSize <= 0) return;
    lpszPath[0] = '\0';
    DWORD dwLen = GetModuleFileNameA(GetGpcModule(), lpszPath, static_cast<DWORD>(nSize));
    // A path that did not fit is cut and terminated, never left open.
    if (dwLen >= static_cast<DWORD>(nSize)) lpszPath[nSize - 1] = '\0';
}

GpcHostLink GetHostLink(GpcCookie pCookie)
{
    return GpcHostLink(pCookie, g_pHostTable);
}

void ResetModuleStateForTesting()
{
    g_pGpcCookie = nullptr;
    g_pHostTable = nullptr;
    g_nCookieTranslation = 1;
    g_nProgressSwitch = 0;
    g_nMessageWndSwitch = 0;
}
