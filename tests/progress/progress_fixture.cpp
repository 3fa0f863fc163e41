#include "progress_fixture.h"

#include <cstdio>
#include <cstring>

#include "feedback/messages.h"
#include "support/process.h"

namespace {

// Under a bare X server there is no window manager, and Wine waits two
// seconds for one each time a managed window goes away; it also leaves the
// caption bar to it. Unmanaged windows are destroyed at once and Wine draws
// their frame itself, so screenshots show the caption. The setting is read
// when the first window is made, so it is written before main() runs.
struct UnmanagedWindowsUnderWine {
    UnmanagedWindowsUnderWine()
    {
        const std::string key = WineAppDefaultsKey(OwnProgramPath()) + "\\X11 Driver";
        HKEY hKey = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExA(hKey, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
            RegCloseKey(hKey);
        }
    }
} s_unmanagedWindows;

}  // namespace

int WindowPixels::Count(DWORD rgb) const
{
    int n = 0;
    for (DWORD p : pixels) {
        if ((p & 0x00FFFFFF) == rgb) ++n;
    }
    return n;
}

int WindowPixels::Columns(DWORD rgb) const
{
    int n = 0;
    for (int x = 0; x < nWidth; ++x) {
        for (int y = 0; y < nHeight; ++y) {
            if ((At(x, y) & 0x00FFFFFF) == rgb) {
                ++n;
                break;
            }
        }
    }
    return n;
}

bool WindowPixels::SaveBmp(const std::string& path) const
{
    if (nWidth <= 0 || nHeight <= 0) return false;
    int nStride = (nWidth * 3 + 3) & ~3;
    BITMAPFILEHEADER bf;
    BITMAPINFOHEADER bi;
    std::memset(&bf, 0, sizeof(bf));
    std::memset(&bi, 0, sizeof(bi));
    bi.biSize = sizeof(bi);
    bi.biWidth = nWidth;
    bi.biHeight = nHeight;  // bottom-up
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    bi.biSizeImage = static_cast<DWORD>(nStride * nHeight);
    bf.bfType = 0x4D42;
    bf.bfOffBits = sizeof(bf) + sizeof(bi);
    bf.bfSize = bf.bfOffBits + bi.biSizeImage;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fwrite(&bf, sizeof(bf), 1, f);
    std::fwrite(&bi, sizeof(bi), 1, f);
    std::vector<unsigned char> row(static_cast<size_t>(nStride), 0);
    for (int y = nHeight - 1; y >= 0; --y) {
        for (int x = 0; x < nWidth; ++x) {
            DWORD p = At(x, y);
            row[x * 3 + 0] = static_cast<unsigned char>(p & 0xFF);
            row[x * 3 + 1] = static_cast<unsigned char>((p >> 8) & 0xFF);
            row[x * 3 + 2] = static_cast<unsigned char>((p >> 16) & 0xFF);
        }
        std::fwrite(row.data(), row.size(), 1, f);
    }
    std::fclose(f);
    return true;
}

WindowPixels CaptureWindow(HWND hWnd, bool bClient, bool bRedraw)
{
    WindowPixels out;
    if (!IsWindow(hWnd)) return out;
    if (bRedraw) {
        RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        FakeHost::PumpMessages();
    }
    RECT rc;
    if (bClient) {
        GetClientRect(hWnd, &rc);
    } else {
        GetWindowRect(hWnd, &rc);
        OffsetRect(&rc, -rc.left, -rc.top);
    }
    out.nWidth = rc.right - rc.left;
    out.nHeight = rc.bottom - rc.top;
    if (out.nWidth <= 0 || out.nHeight <= 0) return out;

    HDC hdcWnd = bClient ? GetDC(hWnd) : GetWindowDC(hWnd);
    HDC hdcMem = CreateCompatibleDC(hdcWnd);
    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = out.nWidth;
    bmi.bmiHeader.biHeight = -out.nHeight;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    HBITMAP hBmp = CreateDIBSection(hdcMem, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    HGDIOBJ hOld = SelectObject(hdcMem, hBmp);
    BitBlt(hdcMem, 0, 0, out.nWidth, out.nHeight, hdcWnd, 0, 0, SRCCOPY);
    GdiFlush();
    const DWORD* p = static_cast<const DWORD*>(pBits);
    out.pixels.assign(p, p + static_cast<size_t>(out.nWidth) * out.nHeight);
    SelectObject(hdcMem, hOld);
    DeleteObject(hBmp);
    DeleteDC(hdcMem);
    ReleaseDC(hWnd, hdcWnd);
    return out;
}

BarFill MeasureBar(HWND hDlg)
{
    BarFill fill;
    HWND hBar = GetDlgItem(hDlg, IDC_GPC_PROGRESS_BAR);
    if (!hBar) return fill;
    UpdateWindow(hDlg);
    WindowPixels px = CaptureWindow(hBar, true);
    fill.nFilledColumns = px.Columns(GPC_FILL_RGB);
    fill.nFilledPixels = px.Count(GPC_FILL_RGB);
    fill.nPaintWidth = px.nWidth - 8;
    fill.nPaintHeight = px.nHeight - 4;
    return fill;
}

std::string ItemText(HWND hDlg, int nId)
{
    char ach[512] = {0};
    GetDlgItemTextA(hDlg, nId, ach, sizeof(ach));
    return ach;
}

std::string WindowText(HWND hWnd)
{
    char ach[512] = {0};
    GetWindowTextA(hWnd, ach, sizeof(ach));
    return ach;
}

std::wstring WindowTextW(HWND hWnd)
{
    wchar_t ach[512] = {0};
    GetWindowTextW(hWnd, ach, 512);
    return ach;
}

namespace {

// Skips a menu or class field of a dialog template: 0x0000 (none),
// 0xFFFF followed by an ordinal, or a NUL-terminated UTF-16 name.
const WORD* SkipSzOrOrd(const WORD* p)
{
    if (*p == 0x0000) return p + 1;
    if (*p == 0xFFFF) return p + 2;
    while (*p) ++p;
    return p + 1;
}

}  // namespace

std::wstring TemplateCaption(WORD wLang)
{
    HINSTANCE hModule = GetGpcModule();
    HRSRC hRes = FindResourceExA(hModule, RT_DIALOG, MAKEINTRESOURCEA(IDD_GPC_PROGRESS), wLang);
    if (!hRes) return L"";
    const WORD* p = static_cast<const WORD*>(LockResource(LoadResource(hModule, hRes)));
    if (!p) return L"";
    if (p[0] == 1 && p[1] == 0xFFFF) {
        // DLGTEMPLATEEX: dlgVer, signature, helpID, exStyle, style, cDlgItems, x, y, cx, cy.
        p += 13;
    } else {
        // DLGTEMPLATE: style, exStyle, cdit, x, y, cx, cy.
        p += 9;
    }
    p = SkipSzOrOrd(p);  // menu
    p = SkipSzOrOrd(p);  // class
    return reinterpret_cast<const wchar_t*>(p);
}

void ProgressTest::SetUp()
{
    InstallFakeHost(host);
}

void ProgressTest::TearDown()
{
    FakeHost::PumpMessages();
    ResetModuleStateForTesting();
}

void ProgressTest::EnableReports()
{
    host.SetParam("LoggingURL", "http://127.0.0.1:9/gpclog");
    host.SetParam("MeetingID", "M77");
    host.SetParam("SessionID", "S88");
}

int ProgressTest::CancelMessages() const
{
    int n = 0;
    for (const auto& m : host.windowMessages) {
        if (m.msg == GPC_WM_CANCEL_DOWNLOAD && m.wParam == 0 && m.lParam == 0) ++n;
    }
    return n;
}

bool ProgressTest::ReportSent(int nCode) const
{
    std::string code = "ErrorCode=" + std::to_string(nCode);
    for (const auto& t : trace.Texts()) {
        if (t.find("Save the error message log to [") != std::string::npos && t.find(code) != std::string::npos)
            return true;
    }
    return false;
}
