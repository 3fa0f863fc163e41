// Pictures of the start-up progress window in every language the library
// speaks, for a person to look at: <build>/screenshots/progress_<lang>.png.
// The test itself checks what can be checked without eyes: the window
// opens in that language, its texts fit their controls, and the bar shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "extension/extension.h"
#include "feedback/messages.h"
#include "feedback/progress.h"
#include "progress_fixture.h"

namespace {

// ---- A small PNG writer (stored deflate blocks: no compression library) --

uint32_t Crc32(const unsigned char* p, size_t n, uint32_t crc = 0)
{
    static uint32_t table[256];
    static bool bReady = false;
    if (!bReady) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        bReady = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBe32(std::vector<unsigned char>& out, uint32_t v)
{
    out.push_back(static_cast<unsigned char>(v >> 24));
    out.push_back(static_cast<unsigned char>(v >> 16));
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

void PutChunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data)
{
    PutBe32(out, static_cast<uint32_t>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    PutBe32(out, Crc32(body.data(), body.size()));
}

bool SavePng(const WindowPixels& px, const std::string& path)
{
    if (px.nWidth <= 0 || px.nHeight <= 0) return false;
    // Raw scanlines: filter byte 0, then RGB.
    std::vector<unsigned char> raw;
    for (int y = 0; y < px.nHeight; ++y) {
        raw.push_back(0);
        for (int x = 0; x < px.nWidth; ++x) {
            DWORD p = px.At(x, y);
            raw.push_back(static_cast<unsigned char>(p >> 16));
            raw.push_back(static_cast<unsigned char>(p >> 8));
            raw.push_back(static_cast<unsigned char>(p));
        }
    }
    std::vector<unsigned char> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = raw.size() - pos;
        if (n > 65535) n = 65535;
        bool bLast = pos + n == raw.size();
        z.push_back(bLast ? 1 : 0);
        z.push_back(static_cast<unsigned char>(n));
        z.push_back(static_cast<unsigned char>(n >> 8));
        z.push_back(static_cast<unsigned char>(~n));
        z.push_back(static_cast<unsigned char>(~n >> 8));
        z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBe32(z, (b << 16) | a);

    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> ihdr;
    PutBe32(ihdr, static_cast<uint32_t>(px.nWidth));
    PutBe32(ihdr, static_cast<uint32_t>(px.nHeight));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", z);
    PutChunk(png, "IEND", {});
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool bOk = std::fwrite(png.data(), png.size(), 1, f) == 1;
    return std::fclose(f) == 0 && bOk;
}

// ---- Text fit -------------------------------------------------------------

// Whether a static control's text fits its width on one line in the
// control's own font.
bool TextFits(HWND hCtl, int* pnNeeded, int* pnWidth)
{
    wchar_t achText[512] = {0};
    int nLen = GetWindowTextW(hCtl, achText, 512);
    RECT rc;
    GetClientRect(hCtl, &rc);
    HDC hdc = GetDC(hCtl);
    HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HGDIOBJ>(SendMessageW(hCtl, WM_GETFONT, 0, 0)));
    SIZE size = {0, 0};
    GetTextExtentPoint32W(hdc, achText, nLen, &size);
    SelectObject(hdc, hOld);
    ReleaseDC(hCtl, hdc);
    *pnNeeded = size.cx;
    *pnWidth = rc.right - rc.left;
    return size.cx <= rc.right - rc.left;
}

// Each language runs in a process whose ANSI code page is the language's
// own (ctest sets LC_ALL), as on a user's machine: the library's texts are
// ANSI texts.
struct Language {
    const char* lpszSetting;
    WORD wLang;
    UINT nCodePage;
};
const Language GPC_LANGUAGES[] = {{"4", 1028, 950},  {"9", 1031, 1252},  {"1", 1033, 1252},
                               {"7", 1036, 1252}, {"5", 1041, 932},   {"6", 1042, 949},
                               {"13", 1053, 1252}, {"3", 2052, 936}, {"12", 2058, 1252}};

class ProgressScreenshot : public ProgressTest, public ::testing::WithParamInterface<Language> {
};

std::string ScreenshotDir()
{
    std::string dir = TestBinDir() + "..\\screenshots";
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\";
}

}  // namespace

TEST_P(ProgressScreenshot, StartUpWindowInEachLanguage)
{
    const Language& lang = GetParam();
    ASSERT_EQ(lang.nCodePage, GetACP()) << "run through ctest, which sets the locale of language " << lang.wLang;
    host.SetParam("GpcLocalSetting", lang.lpszSetting);
    std::unique_ptr<CVRGpcExtension> extension(new CVRGpcExtension(host.Cookie()));
    CVRGpcInstallationMgr& mgr = extension->m_InstallationMgr;
    mgr.TotalBytes = 10000000;
    mgr.StartTick = GetTickCount() - 60000;
    OpenInstallProgressWindow(&mgr);
    HWND hWnd = mgr.ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));

    // The template of this language when the library carries it.
    std::wstring caption = TemplateCaption(lang.wLang);
    if (caption.empty()) {
        ADD_FAILURE() << "no progress template in language " << lang.wLang;
        caption = TemplateCaption(GPC_LANG_ENGLISH);
    }
    EXPECT_EQ(caption, WindowTextW(hWnd));

    // 1,000,000 of 10,000,000 bytes after 60 s: 9 minutes to go, a tenth of the bar.
    // The start is set again here: opening the window may take seconds on a
    // slow machine, and the estimate is checked to the minute.
    mgr.StartTick = GetTickCount() - 60000;
    UpdateInstallProgress(&mgr, 1000000);
    char achExpected[256];
    FormatTimeLeft(lang.wLang, 540, achExpected, sizeof(achExpected));
    EXPECT_EQ(achExpected, ItemText(hWnd, IDC_GPC_TIME_TEXT));

    // Every static text fits its control on one line.
    for (HWND hCtl = GetWindow(hWnd, GW_CHILD); hCtl; hCtl = GetWindow(hCtl, GW_HWNDNEXT)) {
        char achClass[32] = {0};
        GetClassNameA(hCtl, achClass, sizeof(achClass));
        if (lstrcmpiA(achClass, "Static") != 0 || GetDlgCtrlID(hCtl) == IDC_GPC_PROGRESS_BAR) continue;
        int nNeeded = 0, nWidth = 0;
        EXPECT_TRUE(TextFits(hCtl, &nNeeded, &nWidth))
            << "language " << lang.wLang << ", control " << GetDlgCtrlID(hCtl) << ": text needs " << nNeeded
            << " pixels, control is " << nWidth;
    }

    BarFill fill = MeasureBar(hWnd);
    EXPECT_EQ(fill.nPaintWidth / 10, fill.nFilledColumns);

    WindowPixels px = CaptureWindow(hWnd, false);
    std::string path = ScreenshotDir() + "progress_" + std::to_string(lang.wLang) + ".png";
    EXPECT_TRUE(SavePng(px, path)) << path;
    CloseProgressWindow(&mgr.ProgressWindow);
}

INSTANTIATE_TEST_SUITE_P(, ProgressScreenshot, ::testing::ValuesIn(GPC_LANGUAGES),
                         [](const ::testing::TestParamInfo<Language>& info) {
                             return "Lang" + std::to_string(info.param.wLang);
                         });
