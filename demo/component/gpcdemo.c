/* The demo's main component: a library that the extension loads after the
 * installation and drives through call scripts. It draws a banner into the
 * host's plug-in window and tells the console what it is asked to do. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HWND g_hBanner;
static char g_achTitle[128] = "Demo meeting";
static char g_achStatus[256] = "starting";
static LONG g_lNotifications;

static void Say(const char* fmt, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    _vsnprintf(buffer, sizeof(buffer) - 2, fmt, args);
    va_end(args);
    buffer[sizeof(buffer) - 2] = '\0';
    strcat(buffer, "\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, (DWORD)strlen(buffer), &written, NULL);
}

static LRESULT CALLBACK BannerProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hWnd, &ps);
        RECT rc;
        GetClientRect(hWnd, &rc);
        HBRUSH back = CreateSolidBrush(RGB(16, 64, 120));
        FillRect(dc, &rc, back);
        DeleteObject(back);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        RECT top = rc;
        top.bottom = rc.bottom / 2;
        DrawTextA(dc, g_achTitle, -1, &top, DT_CENTER | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX);
        RECT bottom = rc;
        bottom.top = rc.bottom / 2 + 8;
        char line[320];
        _snprintf(line, sizeof(line) - 1, "%s  (notifications: %ld)", g_achStatus, g_lNotifications);
        line[sizeof(line) - 1] = '\0';
        DrawTextA(dc, line, -1, &bottom, DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
        EndPaint(hWnd, &ps);
        return 0;
    }
    if (msg == WM_ERASEBKGND) return 1;
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

__declspec(dllexport) int WINAPI SetControlEnv(void* pHostTable, void* pCookie)
{
    Say("component: SetControlEnv(table=%p, cookie=%p)", pHostTable, pCookie);
    return 0;
}

__declspec(dllexport) int WINAPI NotifyControl(void* pCookie, int nCode, int a, int b)
{
    InterlockedIncrement(&g_lNotifications);
    Say("component: NotifyControl(cookie=%p, %d, %d, %d)", pCookie, nCode, a, b);
    if (nCode == 2) lstrcpynA(g_achStatus, "all files are installed", sizeof(g_achStatus));
    if (g_hBanner) InvalidateRect(g_hBanner, NULL, FALSE);
    return 0;
}

/* Start(hwnd text, title): draws the banner into the plug-in window. */
__declspec(dllexport) int WINAPI Start(const char* lpszWindow, const char* lpszTitle)
{
    HWND parent = (HWND)(ULONG_PTR)strtoul(lpszWindow ? lpszWindow : "0", NULL, 10);
    if (lpszTitle) lstrcpynA(g_achTitle, lpszTitle, sizeof(g_achTitle));
    Say("component: Start(window=%s, title=%s)", lpszWindow ? lpszWindow : "(null)",
        lpszTitle ? lpszTitle : "(null)");
    if (!IsWindow(parent)) return -1;
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = BannerProc;
    wc.hInstance = GetModuleHandleA("gpcdemo.dll");
    wc.lpszClassName = "GpcDemoBanner";
    RegisterClassA(&wc);
    RECT rc;
    GetClientRect(parent, &rc);
    g_hBanner = CreateWindowA("GpcDemoBanner", "", WS_CHILD | WS_VISIBLE, 0, 0, rc.right, rc.bottom, parent, NULL,
                              wc.hInstance, NULL);
    lstrcpynA(g_achStatus, "connected", sizeof(g_achStatus));
    return g_hBanner ? 1 : 0;
}

/* OnAction(index text, value text): a page action. */
__declspec(dllexport) int WINAPI OnAction(const char* lpszIndex, const char* lpszValue)
{
    Say("component: OnAction(%s, %s)", lpszIndex ? lpszIndex : "(null)", lpszValue ? lpszValue : "(null)");
    return 0;
}

__declspec(dllexport) int WINAPI Stop(void)
{
    Say("component: Stop()");
    if (g_hBanner) DestroyWindow(g_hBanner);
    g_hBanner = NULL;
    return 0;
}
