// The library's resources: every message and both dialogs in all nine
// languages, English texts exactly as the system shows them, translations
// that format the same arguments and survive their ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "feedback/messages.h"
#include "tests/support/trace_capture.h"

namespace {

const WORD GPC_LANGUAGES[] = {1028, 1031, 1033, 1036, 1041, 1042, 1053, 2052, 2058};

std::vector<UINT> AllStringIds()
{
    std::vector<UINT> ids;
    for (UINT id = 1; id <= GPC_MSG_MANIFEST_REFUSED; ++id) ids.push_back(id);
    ids.push_back(1000);
    ids.push_back(1001);
    return ids;
}

UINT AnsiCodePage(WORD wLang)
{
    switch (wLang) {
    case 1028: return 950;
    case 1041: return 932;
    case 1042: return 949;
    case 2052: return 936;
    default: return 1252;
    }
}

// The string exactly as stored for one language (no fallback); false when
// that language has no such block or the entry is empty.
bool StoredString(WORD wLang, UINT nId, std::wstring* pText)
{
    HMODULE hModule = GetModuleHandleA(nullptr);
    HRSRC hRes = FindResourceExA(hModule, RT_STRING, MAKEINTRESOURCEA((nId >> 4) + 1), wLang);
    if (!hRes) return false;
    const WCHAR* p = static_cast<const WCHAR*>(LockResource(LoadResource(hModule, hRes)));
    for (UINT i = 0; i < (nId & 15); ++i) p += 1 + *p;
    pText->assign(p + 1, *p);
    return *p != 0;
}

// The printf conversions of a text, in order ("%s", "%lx", ...); "%%" is not one.
std::vector<std::wstring> Conversions(const std::wstring& text)
{
    std::vector<std::wstring> out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') continue;
        if (i + 1 < text.size() && text[i + 1] == L'%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < text.size() && wcschr(L"-+ #0123456789.*hlLIjzt", text[j])) ++j;
        out.push_back(text.substr(i, j - i + 1));
        i = j;
    }
    return out;
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// The English texts, byte for byte.
const char GPC_PREFIX[] = "Setup was unsuccessful. Please try again.\n\n\n";
const struct {
    UINT id;
    std::string text;
} GPC_ENGLISH_TEXTS[] = {
    {1, std::string(GPC_PREFIX) + "Error [1]\n\n"},
    {2, std::string(GPC_PREFIX) + "Error [2]\n\n"},
    {3, std::string(GPC_PREFIX) + "Error [3], File [%s]\n"},
    {4, "Setup was unsuccessful. The %s that you downloaded is not compatible with your computer's operating system.\nError 4\n"},
    {5, "Setup was unsuccessful. Please try again.\nError [5]"},
    {6, std::string(GPC_PREFIX) + "Error [6], URL [%s]\n"},
    {7, "Setup was unsuccessful. Please close, then reopen your Web browser, and try again.\n\n \n\nError [7], File [%s]\n\n\n"},
    {8, "You have successfully downloaded a new version of %s. You can continue using the current version until you restart your computer. Once you restart your computer, you can use the new version.\n"},
    {9, std::string(GPC_PREFIX) + "Error [9], file [ %s ]"},
    {10, std::string(GPC_PREFIX) + "Error [10], [%s]\n\n"},
    {11, std::string(GPC_PREFIX) + "Error [11], Index [%d]"},
    {12, std::string(GPC_PREFIX) + "Error [12], [%s]\n"},
    {13, std::string(GPC_PREFIX) + "Error [13], [0x%lx] in [%s( )]\n"},
    {14, "Setup was unsuccessful. Please try again.\n\nThere is insufficient memory in your browser to launch the Conclave Manager. Please close all your browser windows and restart your browser.\n\nError [14], [0x%lx]\n"},
    {15, std::string(GPC_PREFIX) + "Error [15], File [%s]"},
    {16, std::string(GPC_PREFIX) + "Error [16], File [%s]\n"},
    {17, std::string(GPC_PREFIX) + "Error [17], File [%s]\n\n"},
    {18, "Setup was unsuccessful. Please close, then reopen your Web browser, and try again.\n\n\nError [18], File [%s]\n"},
    {19, std::string(GPC_PREFIX) + "Error [19]\n\n"},
    {20, std::string(GPC_PREFIX) + "Error [20]\n\n"},
    {21, "Setup was unsuccessful. Please log in to your computer as an administrator and try again.\n\n\nError [21], File [%s]\n\n"},
    {22, "A Corvo meeting is already in progress. You must use another browser to start a second meeting.\n"},
    {23, "Setup was unsuccessful. The setup files could not be verified as coming from their publisher, so nothing was installed.\n\n\nError [23], [%s]\n"},
    {1000, "about %lu minutes"},
    {1001, "less than 1 minute"},
};

TEST(Resources, EnglishTextsAreExact)
{
    for (const auto& e : GPC_ENGLISH_TEXTS) {
        char achText[512];
        int n = LoadStringInLanguage(1033, e.id, achText, sizeof(achText));
        EXPECT_EQ(e.text, std::string(achText)) << "string " << e.id;
        EXPECT_EQ(static_cast<int>(e.text.size()), n) << "string " << e.id;
    }
}

TEST(Resources, EveryStringExistsInEveryLanguage)
{
    for (WORD wLang : GPC_LANGUAGES) {
        for (UINT id : AllStringIds()) {
            std::wstring text, english;
            EXPECT_TRUE(StoredString(wLang, id, &text)) << "language " << wLang << " string " << id;
            ASSERT_TRUE(StoredString(1033, id, &english));
            if (wLang != 1033) {
                EXPECT_NE(english, text) << "language " << wLang << " string " << id << " untranslated";
            }
        }
    }
}

TEST(Resources, TranslationsFormatTheSameArguments)
{
    for (UINT id : AllStringIds()) {
        std::wstring english;
        ASSERT_TRUE(StoredString(1033, id, &english));
        for (WORD wLang : GPC_LANGUAGES) {
            std::wstring text;
            if (!StoredString(wLang, id, &text)) continue;  // reported above
            std::vector<std::wstring> expected = Conversions(english), actual = Conversions(text);
            std::string sExpected, sActual;
            for (const auto& c : expected) sExpected += Narrow(c) + " ";
            for (const auto& c : actual) sActual += Narrow(c) + " ";
            EXPECT_EQ(sExpected, sActual) << "language " << wLang << " string " << id;
        }
    }
}

TEST(Resources, TranslationsSurviveTheirAnsiCodePage)
{
    for (WORD wLang : GPC_LANGUAGES) {
        UINT nCodePage = AnsiCodePage(wLang);
        for (UINT id : AllStringIds()) {
            std::wstring text;
            if (!StoredString(wLang, id, &text)) continue;
            char achOut[1024];
            BOOL bDefaultUsed = FALSE;
            int n = WideCharToMultiByte(nCodePage, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()),
                                        achOut, sizeof(achOut), nullptr, &bDefaultUsed);
            ASSERT_GT(n, 0) << "language " << wLang << " string " << id;
            EXPECT_FALSE(bDefaultUsed) << "language " << wLang << " string " << id << " has characters code page "
                                       << nCodePage << " lacks";
            EXPECT_LT(n, 512) << "language " << wLang << " string " << id << " does not fit the 512-byte buffer";
            WCHAR awBack[1024];
            int m = MultiByteToWideChar(nCodePage, 0, achOut, n, awBack, 1024);
            EXPECT_EQ(text, std::wstring(awBack, m)) << "language " << wLang << " string " << id;
        }
    }
}

TEST(Resources, TextDetailFollowsTheFirstConversion)
{
    for (UINT id = 1; id <= GPC_MSG_MANIFEST_REFUSED; ++id) {
        std::wstring english;
        ASSERT_TRUE(StoredString(1033, id, &english));
        std::vector<std::wstring> c = Conversions(english);
        EXPECT_EQ(!c.empty() && c[0] == L"%s", MessageTakesTextDetail(id)) << "string " << id;
    }
    EXPECT_FALSE(MessageTakesTextDetail(0));
    EXPECT_FALSE(MessageTakesTextDetail(1000));
}

// A dialog template (DLGTEMPLATE form) read back into its parts.
struct DialogItem {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring cls, text;
};
struct Dialog {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption, font;
    WORD pointSize = 0;
    std::vector<DialogItem> items;
    const DialogItem* Find(int id) const
    {
        for (const auto& i : items)
            if (i.id == id) return &i;
        return nullptr;
    }
};

std::wstring ReadSzOrOrd(const WORD*& p)
{
    if (*p == 0) {
        ++p;
        return L"";
    }
    if (*p == 0xFFFF) {
        WORD ord = p[1];
        p += 2;
        return L"#" + std::to_wstring(ord);
    }
    std::wstring s(reinterpret_cast<const WCHAR*>(p));
    p += s.size() + 1;
    return s;
}

bool ReadDialog(WORD wLang, int nId, Dialog* pDialog)
{
    HMODULE hModule = GetModuleHandleA(nullptr);
    HRSRC hRes = FindResourceExA(hModule, RT_DIALOG, MAKEINTRESOURCEA(nId), wLang);
    if (!hRes) return false;
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(hModule, hRes)));
    const DLGTEMPLATE* t = reinterpret_cast<const DLGTEMPLATE*>(base);
    pDialog->style = t->style;
    pDialog->x = t->x;
    pDialog->y = t->y;
    pDialog->cx = t->cx;
    pDialog->cy = t->cy;
    const WORD* p = reinterpret_cast<const WORD*>(t + 1);
    ReadSzOrOrd(p);  // menu
    ReadSzOrOrd(p);  // class
    pDialog->caption = ReadSzOrOrd(p);
    if (t->style & DS_SETFONT) {
        pDialog->pointSize = *p++;
        pDialog->font = ReadSzOrOrd(p);
    }
    for (int i = 0; i < t->cdit; ++i) {
        p = reinterpret_cast<const WORD*>((reinterpret_cast<ULONG_PTR>(p) + 3) & ~static_cast<ULONG_PTR>(3));
        const DLGITEMTEMPLATE* it = reinterpret_cast<const DLGITEMTEMPLATE*>(p);
        DialogItem item;
        item.style = it->style;
        item.exStyle = it->dwExtendedStyle;
        item.x = it->x;
        item.y = it->y;
        item.cx = it->cx;
        item.cy = it->cy;
        item.id = static_cast<short>(it->id);
        p = reinterpret_cast<const WORD*>(it + 1);
        item.cls = ReadSzOrOrd(p);
        item.text = ReadSzOrOrd(p);
        WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
        pDialog->items.push_back(item);
    }
    return true;
}

void ExpectPlace(const DialogItem* item, short x, short y, short cx, short cy, const char* what)
{
    ASSERT_NE(nullptr, item) << what;
    EXPECT_EQ(x, item->x) << what;
    EXPECT_EQ(y, item->y) << what;
    EXPECT_EQ(cx, item->cx) << what;
    EXPECT_EQ(cy, item->cy) << what;
}

TEST(Resources, MessageDialogInEveryLanguage)
{
    for (WORD wLang : GPC_LANGUAGES) {
        SCOPED_TRACE("language " + std::to_string(wLang));
        Dialog d;
        ASSERT_TRUE(ReadDialog(wLang, IDD_GPC_MESSAGE, &d));
        EXPECT_EQ(273, d.cx);
        EXPECT_EQ(119, d.cy);
        EXPECT_EQ(L"Corvo", d.caption);
        EXPECT_EQ(8, d.pointSize);
        EXPECT_EQ(wLang == 1041 ? L"Microsoft Sans Serif" : L"MS Sans Serif", d.font);
        EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
                  d.style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME));
        EXPECT_FALSE(d.style & WS_VISIBLE);
        ASSERT_EQ(2u, d.items.size());
        const DialogItem* text = d.Find(IDC_GPC_MESSAGE_TEXT);
        ExpectPlace(text, 7, 7, 259, 80, "message text");
        EXPECT_EQ(L"#130", text->cls);  // static
        EXPECT_TRUE(text->exStyle & WS_EX_CLIENTEDGE);
        EXPECT_TRUE(text->style & WS_VISIBLE);
        const DialogItem* ok = d.Find(IDOK);
        ExpectPlace(ok, 112, 98, 50, 14, "OK button");
        EXPECT_EQ(static_cast<DWORD>(BS_DEFPUSHBUTTON), ok->style & 0xF);
        EXPECT_TRUE(ok->style & WS_TABSTOP);
        EXPECT_FALSE(ok->text.empty());
        if (wLang == 1033) {
            EXPECT_EQ(L"OK", ok->text);
        }
    }
}

TEST(Resources, ProgressDialogInEveryLanguage)
{
    Dialog english;
    ASSERT_TRUE(ReadDialog(1033, IDD_GPC_PROGRESS, &english));
    EXPECT_EQ(L"Setting Up Conclave Hub", english.caption);
    EXPECT_EQ(L"Time remaining:", english.Find(-1)->text);
    EXPECT_EQ(L"about 2 minutes", english.Find(IDC_GPC_TIME_TEXT)->text);
    EXPECT_EQ(L"Cancel", english.Find(IDCANCEL)->text);
    EXPECT_EQ(71, english.Find(IDC_GPC_TIME_TEXT)->x);
    EXPECT_EQ(60, english.Find(-1)->cx);

    for (WORD wLang : GPC_LANGUAGES) {
        SCOPED_TRACE("language " + std::to_string(wLang));
        Dialog d;
        ASSERT_TRUE(ReadDialog(wLang, IDD_GPC_PROGRESS, &d));
        EXPECT_EQ(266, d.cx);
        EXPECT_EQ(90, d.cy);
        EXPECT_EQ(8, d.pointSize);
        EXPECT_EQ(wLang == 1041 ? L"Microsoft Sans Serif" : L"MS Sans Serif", d.font);
        const DWORD GPC_STYLE = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_MODALFRAME | DS_3DLOOK;
        EXPECT_EQ(GPC_STYLE, d.style & GPC_STYLE);
        ASSERT_EQ(5u, d.items.size());
        ExpectPlace(d.Find(IDC_GPC_STATUS_TEXT), 8, 7, 251, 8, "status line");
        ExpectPlace(d.Find(IDC_GPC_PROGRESS_BAR), 7, 33, 251, 15, "bar");
        EXPECT_TRUE(d.Find(IDC_GPC_PROGRESS_BAR)->exStyle & WS_EX_CLIENTEDGE);
        ExpectPlace(d.Find(IDCANCEL), 209, 62, 50, 14, "Cancel");
        const DialogItem* label = d.Find(-1);
        const DialogItem* time = d.Find(IDC_GPC_TIME_TEXT);
        ASSERT_NE(nullptr, label);
        ASSERT_NE(nullptr, time);
        // The label and the time text share the line without overlapping,
        // and the line ends where the English one does.
        EXPECT_EQ(7, label->x);
        EXPECT_EQ(19, label->y);
        EXPECT_EQ(19, time->y);
        EXPECT_LE(label->x + label->cx, time->x);
        EXPECT_EQ(254, time->x + time->cx);
        if (wLang != 1033) {
            EXPECT_NE(english.caption, d.caption);
            EXPECT_NE(english.Find(-1)->text, label->text);
            EXPECT_NE(english.Find(IDCANCEL)->text, d.Find(IDCANCEL)->text);
        }
        // The template's first estimate reads like the later ones.
        std::wstring format;
        ASSERT_TRUE(StoredString(wLang, IDS_GPC_ABOUT_MINUTES, &format));
        WCHAR awTwo[128];
        _snwprintf(awTwo, 128, format.c_str(), 2UL);
        awTwo[127] = 0;
        EXPECT_EQ(std::wstring(awTwo), time->text);
    }
}

TEST(Resources, LibraryCarriesItsVersion)
{
    std::string path = TestBinDir() + "vrgpcext.dll";
    DWORD dwHandle = 0;
    DWORD dwSize = GetFileVersionInfoSizeA(path.c_str(), &dwHandle);
    ASSERT_GT(dwSize, 0u) << path;
    std::vector<BYTE> info(dwSize);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, dwSize, info.data()));

    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT nLen = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&pFixed), &nLen));
    char achFixed[64];
    snprintf(achFixed, sizeof(achFixed), "%lu.%lu.%lu.%lu", pFixed->dwFileVersionMS >> 16,
             pFixed->dwFileVersionMS & 0xFFFF, pFixed->dwFileVersionLS >> 16, pFixed->dwFileVersionLS & 0xFFFF);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), pFixed->dwFileType);

    WORD* pTranslation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pTranslation), &nLen));
    ASSERT_GE(nLen, 4u);
    EXPECT_EQ(0x0409, pTranslation[0]);
    EXPECT_EQ(0x04b0, pTranslation[1]);

    for (const char* name : {"FileVersion", "ProductVersion"}) {
        char* pValue = nullptr;
        std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&pValue), &nLen)) << name;
        EXPECT_EQ(std::string(achFixed), std::string(pValue)) << name;
    }
}

}  // namespace
