// Localized messages as a host and a user see them: the language a page
// asks for, the texts that come out, the message window and the failure
// report every message makes.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "extension/extension.h"
#include "feedback/messages.h"
#include "feedback/report.h"
#include "npvrgpc/module_state.h"
#include "tests/support/fake_host.h"
#include "tests/support/module_host.h"
#include "tests/support/trace_capture.h"

namespace {

// A text as the library hands it out: in the system's ANSI code page.
std::string Ansi(const std::wstring& text)
{
    char achOut[2048];
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), achOut, sizeof(achOut),
                                nullptr, nullptr);
    return std::string(achOut, n > 0 ? n : 0);
}

const char GPC_SAVE_PREFIX[] = "CVRGpcExtension:: Save the error message log to [";

class Messages : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallFakeHost(host);
        extension.reset(new CVRGpcExtension(host.Cookie()));
        // An address no network layer serves: each report fails at once,
        // and its request still shows in the trace.
        host.SetParam("LoggingURL", "gpc-test://log/log.asp");
        host.SetParam("MeetingID", "M1");
        host.SetParam("SessionID", "S1");
    }
    void TearDown() override
    {
        if (extension && extension->m_hMessageWnd && IsWindow(extension->m_hMessageWnd))
            DestroyWindow(extension->m_hMessageWnd);
        extension.reset();
        ResetModuleStateForTesting();
    }

    HWND OpenMessageWindow()
    {
        HWND hWnd = CreateMessageWindow(extension.get());
        extension->m_hMessageWnd = hWnd;
        return hWnd;
    }
    std::string WindowText()
    {
        char achText[2048] = {};
        GetDlgItemTextA(extension->m_hMessageWnd, IDC_GPC_MESSAGE_TEXT, achText, sizeof(achText));
        return achText;
    }
    // The request texts of the reports made so far, from the trace.
    std::vector<std::string> Reported()
    {
        std::vector<std::string> requests;
        for (const std::string& text : trace.Texts()) {
            if (text.compare(0, sizeof(GPC_SAVE_PREFIX) - 1, GPC_SAVE_PREFIX) != 0) continue;
            size_t end = text.rfind("] is [");
            requests.push_back(text.substr(sizeof(GPC_SAVE_PREFIX) - 1, end - (sizeof(GPC_SAVE_PREFIX) - 1)));
        }
        return requests;
    }
    std::string Request(const std::string& tail)
    {
        return "gpc-test://log/log.asp?ConfID=M1&SessionID=S1&Module=1&ErrorCode=" + tail;
    }

    FakeHost host;
    TraceCapture trace;
    std::unique_ptr<CVRGpcExtension> extension;
};

TEST_F(Messages, LanguageSettingSelectsTheLanguage)
{
    const struct {
        const char* setting;  // null: absent
        WORD lang;
    } cases[] = {
        {nullptr, 1033}, {"1", 1033},   {"2", 1033},   {"3", 2052},  {"4", 1028},    {"5", 1041},
        {"6", 1042},     {"7", 1036},   {"8", 1033},   {"9", 1031},  {"10", 1033},   {"11", 1034},
        {"12", 2058},    {"13", 1053},  {"14", 1033},  {"15", 1033}, {"0", 1033},    {"16", 1033},
        {"-3", 1033},    {"abc", 1033}, {"", 1033},    {" 7", 1036}, {"\t 9", 1031}, {"+5", 1041},
        {"7abc", 1036},  {"-7", 1033},  {"007", 1036}, {"4294967299", 1033}, {"99999999999999999999", 1033},
    };
    for (const auto& c : cases) {
        if (c.setting)
            host.SetParam("GpcLocalSetting", c.setting);
        else
            host.RemoveParam("GpcLocalSetting");
        EXPECT_EQ(c.lang, GetLocalLangId(host.Cookie())) << "setting [" << (c.setting ? c.setting : "(absent)") << "]";
    }
}

TEST_F(Messages, WithoutHostParametersTheLanguageIsEnglish)
{
    host.SetParam("GpcLocalSetting", "7");
    host.NullSlot(8);
    EXPECT_EQ(1033, GetLocalLangId(host.Cookie()));
    g_pHostTable = nullptr;
    EXPECT_EQ(1033, GetLocalLangId(host.Cookie()));
}

TEST_F(Messages, StringsComeInTheChosenLanguage)
{
    const struct {
        const char* setting;
        std::wstring lessThanAMinute;
    } cases[] = {
        {"9", L"weniger als 1 Minute"},
        {" 7", L"moins d'une minute"},
        {"13", L"mindre \u00e4n 1 minut"},
        {"12", L"menos de 1 minuto"},
        {"11", L"less than 1 minute"},  // no Spanish (traditional sort) texts: English
        {"0", L"less than 1 minute"},
    };
    for (const auto& c : cases) {
        host.SetParam("GpcLocalSetting", c.setting);
        EXPECT_EQ(Ansi(c.lessThanAMinute), std::string(LoadLocalizedString(extension.get(), IDS_GPC_LESS_THAN_MINUTE)))
            << "setting " << c.setting;
    }
}

TEST_F(Messages, MissingLanguageFallsBackToEnglishForEveryText)
{
    host.SetParam("GpcLocalSetting", "11");
    std::vector<UINT> ids = {1000, 1001};
    for (UINT id = 1; id <= GPC_MSG_MANIFEST_REFUSED; ++id) ids.push_back(id);
    for (UINT id : ids) {
        char achEnglish[512];
        ASSERT_GT(LoadStringInLanguage(1033, id, achEnglish, sizeof(achEnglish)), 0) << id;
        EXPECT_EQ(std::string(achEnglish), std::string(LoadLocalizedString(extension.get(), id))) << id;
    }
    EXPECT_EQ(FindResourceExA(GetModuleHandleA(nullptr), RT_DIALOG, MAKEINTRESOURCEA(IDD_GPC_PROGRESS), 1033),
              FindLocalizedResource(1034, RT_DIALOG, MAKEINTRESOURCEA(IDD_GPC_PROGRESS)));
    EXPECT_EQ(nullptr, FindLocalizedResource(1036, RT_DIALOG, MAKEINTRESOURCEA(4242)));
}

TEST_F(Messages, TextThatDoesNotFitComesOutEmpty)
{
    const std::string english = "less than 1 minute";
    char achText[64];
    memset(achText, 'x', sizeof(achText));
    EXPECT_EQ(static_cast<int>(english.size()), LoadStringInLanguage(1033, 1001, achText, english.size() + 1));
    EXPECT_EQ(english, std::string(achText));
    memset(achText, 'x', sizeof(achText));
    EXPECT_EQ(0, LoadStringInLanguage(1033, 1001, achText, english.size()));
    EXPECT_EQ("", std::string(achText));
    // Ids without a text: an empty entry of a carried block, and a block the
    // library does not have at all.
    EXPECT_EQ(0, LoadStringInLanguage(1036, 23, achText, sizeof(achText)));
    EXPECT_EQ("", std::string(achText));
    EXPECT_EQ(0, LoadStringInLanguage(1036, 5000, achText, sizeof(achText)));
    EXPECT_EQ("", std::string(LoadLocalizedString(extension.get(), 5000)));
    EXPECT_EQ(0, LoadStringInLanguage(1033, 1, nullptr, 10));
    // A one-byte buffer holds only the terminator.
    achText[0] = 'x';
    achText[1] = 'y';
    EXPECT_EQ(0, LoadStringInLanguage(1033, 1001, achText, 1));
    EXPECT_EQ('\0', achText[0]);
    EXPECT_EQ('y', achText[1]);
}

TEST_F(Messages, MessagesAreFormattedAndReported)
{
    const std::string prefix = "Setup was unsuccessful. Please try again.\n\n\n";
    OpenMessageWindow();
    ASSERT_NE(nullptr, extension->m_hMessageWnd);

    ShowErrorMessage(extension.get(), 11, 3);
    EXPECT_EQ(prefix + "Error [11], Index [3]", WindowText());

    ShowErrorMessage(extension.get(), 9, "C:\\Corvo\\bin\\x.dll");
    EXPECT_EQ(prefix + "Error [9], file [ C:\\Corvo\\bin\\x.dll ]", WindowText());

    // The first argument of 13 is the result code: no detail.
    ShowErrorMessage(extension.get(), 13, 0x80004005UL, "Invoke");
    EXPECT_EQ(prefix + "Error [13], [0x80004005] in [Invoke( )]\n", WindowText());

    ShowErrorMessage(extension.get(), 4, "Corvo");
    EXPECT_EQ("Setup was unsuccessful. The Corvo that you downloaded is not compatible with your computer's "
              "operating system.\nError 4\n",
              WindowText());

    ShowErrorMessage(extension.get(), 1);
    EXPECT_EQ(prefix + "Error [1]\n\n", WindowText());

    // An id without a text shows an empty message and is still reported.
    ShowErrorMessage(extension.get(), 500);
    EXPECT_EQ("", WindowText());

    ShowErrorMessageText(extension.get(), "Meeting halt!!");
    EXPECT_EQ("Meeting halt!!", WindowText());

    std::vector<std::string> expected = {
        Request("11"),
        Request("9&OptInfo1=C:\\Corvo\\bin\\x.dll"),
        Request("13"),
        Request("4&OptInfo1=Corvo"),
        Request("1"),
        Request("500"),
        Request("0"),  // a ready text has no id
    };
    EXPECT_EQ(expected, Reported()) << trace.Dump();
}

TEST_F(Messages, MessageInTheLocalLanguage)
{
    host.SetParam("GpcLocalSetting", " 7");
    OpenMessageWindow();
    ShowErrorMessage(extension.get(), 11, 3);
    EXPECT_EQ(Ansi(L"L'installation a \u00e9chou\u00e9. Veuillez r\u00e9essayer.\n\n\nErreur [11], Index [3]"),
              WindowText());
    host.SetParam("GpcLocalSetting", "11");
    ShowErrorMessage(extension.get(), 11, 4);
    EXPECT_EQ("Setup was unsuccessful. Please try again.\n\n\nError [11], Index [4]", WindowText());
}

TEST_F(Messages, LongMessageIsCutAtItsLimit)
{
    OpenMessageWindow();
    std::string path = "C:\\" + std::string(3000, 'p') + ".dll";
    ShowErrorMessage(extension.get(), 9, path.c_str());
    std::string text = WindowText();
    EXPECT_EQ(1023u, text.size());
    EXPECT_EQ("Setup was unsuccessful. Please try again.\n\n\nError [9], file [ C:\\ppp", text.substr(0, 68));
    // The report carries the detail beyond the message's limit (the trace
    // line itself is cut, so only its start is compared).
    ASSERT_EQ(1u, Reported().size());
    std::string expected = Request("9&OptInfo1=" + path).substr(0, 400);
    EXPECT_EQ(expected, Reported()[0].substr(0, expected.size()));
}

TEST_F(Messages, HiddenWindowIsCentredCaptionedAndShown)
{
    HWND hWnd = OpenMessageWindow();
    ASSERT_NE(nullptr, hWnd);
    EXPECT_FALSE(IsWindowVisible(hWnd));
    host.SetParam("GpcMessageTitle", "Meeting Setup");

    auto expectCentred = [&]() {
        RECT rc;
        GetWindowRect(hWnd, &rc);
        int w = rc.right - rc.left, h = rc.bottom - rc.top;
        EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - w) / 2, rc.left);
        EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - h) / 2, rc.top);
    };
    auto caption = [&]() {
        char achCaption[256] = {};
        GetWindowTextA(hWnd, achCaption, sizeof(achCaption));
        return std::string(achCaption);
    };
    RECT rcBefore;
    GetWindowRect(hWnd, &rcBefore);

    ShowErrorMessage(extension.get(), 2);
    EXPECT_TRUE(IsWindowVisible(hWnd));
    EXPECT_TRUE(GetWindowLongA(hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ("Meeting Setup", caption());
    expectCentred();
    RECT rcShown;
    GetWindowRect(hWnd, &rcShown);
    EXPECT_EQ(rcBefore.right - rcBefore.left, rcShown.right - rcShown.left);
    EXPECT_EQ(rcBefore.bottom - rcBefore.top, rcShown.bottom - rcShown.top);

    // Visible: only the text changes.
    SetWindowPos(hWnd, nullptr, 3, 4, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    host.SetParam("GpcMessageTitle", "Other Title");
    ShowErrorMessage(extension.get(), 5);
    EXPECT_EQ("Setup was unsuccessful. Please try again.\nError [5]", WindowText());
    RECT rc;
    GetWindowRect(hWnd, &rc);
    EXPECT_EQ(3, rc.left);
    EXPECT_EQ(4, rc.top);
    EXPECT_EQ("Meeting Setup", caption());

    // Dismissed with OK, the window is hidden and the next message
    // re-centres and re-captions it.
    SendMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(IsWindow(hWnd));
    EXPECT_FALSE(IsWindowVisible(hWnd));
    ShowErrorMessage(extension.get(), 1);
    EXPECT_TRUE(IsWindowVisible(hWnd));
    EXPECT_EQ("Other Title", caption());
    expectCentred();
}

TEST_F(Messages, WithoutTitleParameterTheCaptionStays)
{
    HWND hWnd = OpenMessageWindow();
    ShowErrorMessage(extension.get(), 1);
    char achCaption[64] = {};
    GetWindowTextA(hWnd, achCaption, sizeof(achCaption));
    EXPECT_STREQ("Corvo", achCaption);
}

TEST_F(Messages, DismissingHidesTheWindowForReuse)
{
    const struct {
        UINT msg;
        WPARAM wParam;
        const char* what;
    } cases[] = {
        {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), "OK"},
        {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), "Esc"},
        {WM_CLOSE, 0, "close box"},
    };
    HWND hWnd = OpenMessageWindow();
    for (const auto& c : cases) {
        ShowErrorMessage(extension.get(), 1);
        ASSERT_TRUE(IsWindowVisible(hWnd)) << c.what;
        SendMessageA(hWnd, c.msg, c.wParam, 0);
        FakeHost::PumpMessages();  // the close box's Cancel command is posted
        EXPECT_TRUE(IsWindow(hWnd)) << c.what;
        EXPECT_FALSE(IsWindowVisible(hWnd)) << c.what;
    }
    // Other commands leave it alone.
    ShowErrorMessage(extension.get(), 1);
    EXPECT_FALSE(MessageWndProc(hWnd, WM_COMMAND, MAKEWPARAM(1000, STN_CLICKED), 0));
    EXPECT_TRUE(IsWindowVisible(hWnd));
}

TEST_F(Messages, DestroyedWindowIsSkippedButTheMessageIsReported)
{
    HWND hWnd = OpenMessageWindow();
    DestroyWindow(hWnd);
    ShowErrorMessage(extension.get(), 6, "http://h/x.cab");
    EXPECT_EQ(std::vector<std::string>{Request("6&OptInfo1=http://h/x.cab")}, Reported());
}

TEST_F(Messages, WithoutWindowMessagesAreStillReported)
{
    // The way this system runs: no message window at all.
    ShowErrorMessage(extension.get(), 21, "C:\\windows\\system32\\x.dll");
    ShowErrorMessageText(extension.get(), nullptr);
    EXPECT_EQ((std::vector<std::string>{Request("21&OptInfo1=C:\\windows\\system32\\x.dll"), Request("0")}),
              Reported());
    ShowErrorMessage(nullptr, 3, "f.dll");  // no extension: nothing to report for, nothing breaks
    EXPECT_EQ(2u, Reported().size());
}

TEST_F(Messages, MessageWindowComesInTheLocalLanguage)
{
    const struct {
        const char* setting;
        std::wstring button;
    } cases[] = {
        {"12", L"Aceptar"},
        {"11", L"OK"},
    };
    for (const auto& c : cases) {
        host.SetParam("GpcLocalSetting", c.setting);
        HWND hWnd = CreateMessageWindow(extension.get());
        ASSERT_NE(nullptr, hWnd) << c.setting;
        WCHAR awText[64] = {};
        GetDlgItemTextW(hWnd, IDOK, awText, 64);
        EXPECT_EQ(c.button, std::wstring(awText)) << "setting " << c.setting;
        EXPECT_FALSE(IsWindowVisible(hWnd));
        EXPECT_EQ(nullptr, GetWindow(hWnd, GW_OWNER));
        DestroyWindow(hWnd);
    }
}

}  // namespace
