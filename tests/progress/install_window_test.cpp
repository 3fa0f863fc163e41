// The start-up pass's progress window, owned by the installation manager.
#include <gtest/gtest.h>

#include <memory>

#include "extension/extension.h"
#include "feedback/messages.h"
#include "feedback/progress.h"
#include "progress_fixture.h"

namespace {

class InstallProgress : public ProgressTest {
protected:
    void SetUp() override
    {
        ProgressTest::SetUp();
        extension.reset(new CVRGpcExtension(host.Cookie()));
    }
    void TearDown() override
    {
        extension.reset();
        ProgressTest::TearDown();
    }
    CVRGpcInstallationMgr& Mgr() { return extension->m_InstallationMgr; }
    // Opens the window as the first download request does, with a start
    // that lies dwAgoMs in the past.
    HWND Open(DWORD dwTotal, DWORD dwAgoMs = 20000)
    {
        Mgr().TotalBytes = dwTotal;
        Mgr().StartTick = GetTickCount() - dwAgoMs;
        OpenInstallProgressWindow(&Mgr());
        Backdate(dwAgoMs);
        return Mgr().ProgressWindow;
    }
    // Puts the start dwAgoMs before now again. Creating and measuring a
    // window can take seconds on a slow machine, and an estimate that is
    // checked to the minute must not count that time.
    void Backdate(DWORD dwAgoMs = 20000) { Mgr().StartTick = GetTickCount() - dwAgoMs; }

    std::unique_ptr<CVRGpcExtension> extension;
};

}  // namespace

TEST_F(InstallProgress, OpensAtTheLeftEdgeVerticallyCentredTopmostAndVisible)
{
    HWND hWnd = Open(10000000);
    ASSERT_TRUE(hWnd != nullptr);
    ASSERT_TRUE(IsWindow(hWnd));
    EXPECT_TRUE(IsWindowVisible(hWnd));
    EXPECT_TRUE(GetWindowLongA(hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT rc;
    GetWindowRect(hWnd, &rc);
    EXPECT_EQ(15, rc.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (rc.bottom - rc.top)) / 2, rc.top);
    EXPECT_EQ("Setting Up Conclave Hub", WindowText(hWnd));
    EXPECT_EQ("about 2 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    EXPECT_EQ("", ItemText(hWnd, IDC_GPC_STATUS_TEXT));
    EXPECT_EQ(0, MeasureBar(hWnd).nFilledPixels);
}

TEST_F(InstallProgress, CaptionComesFromTheProgressBarTitleParameter)
{
    host.SetParam("GpcProgressBarTitle", "Fetching the meeting tools");
    HWND hWnd = Open(1000);
    ASSERT_TRUE(IsWindow(hWnd));
    EXPECT_EQ("Fetching the meeting tools", WindowText(hWnd));
}

TEST_F(InstallProgress, SuppressParameterTrueInAnyCaseKeepsTheWindowClosed)
{
    struct Case {
        const char* lpszValue;
        bool bWindow;
    } cases[] = {{"True", false}, {"TRUE", false}, {"tRuE", false}, {"1", true}, {"False", true}, {"True ", true}};
    for (const auto& c : cases) {
        host.SetParam("GpcSuppressProgressBar", c.lpszValue);
        Open(1000);
        EXPECT_EQ(c.bWindow, Mgr().ProgressWindow != nullptr) << c.lpszValue;
        CloseProgressWindow(&Mgr().ProgressWindow);
    }
}

TEST_F(InstallProgress, SecondOpenKeepsTheFirstWindow)
{
    HWND hFirst = Open(1000);
    ASSERT_TRUE(IsWindow(hFirst));
    OpenInstallProgressWindow(&Mgr());
    EXPECT_EQ(hFirst, Mgr().ProgressWindow);
}

TEST_F(InstallProgress, TimeTextAndBarFollowTheBytes)
{
    HWND hWnd = Open(10000000);
    ASSERT_TRUE(IsWindow(hWnd));

    // 1,000,000 of 10,000,000 bytes after 20 s: 50,000 B/s, 180 s to go.
    UpdateInstallProgress(&Mgr(), 1000000);
    EXPECT_EQ("about 3 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    BarFill fill = MeasureBar(hWnd);
    ASSERT_GT(fill.nPaintWidth, 0);
    EXPECT_EQ(static_cast<int>(0.1 * fill.nPaintWidth), fill.nFilledColumns);
    EXPECT_EQ(fill.nFilledColumns * fill.nPaintHeight, fill.nFilledPixels);

    // 3,000,000 after 20 s: 150,000 B/s, 46 s to go.
    Backdate();
    UpdateInstallProgress(&Mgr(), 2000000);
    EXPECT_EQ("less than 1 minute", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    fill = MeasureBar(hWnd);
    EXPECT_EQ(static_cast<int>(0.3 * fill.nPaintWidth), fill.nFilledColumns);
    EXPECT_EQ(fill.nFilledColumns * fill.nPaintHeight, fill.nFilledPixels);
}

TEST_F(InstallProgress, ZeroTotalFillsNothingAndMakesNoEstimate)
{
    HWND hWnd = Open(0);
    ASSERT_TRUE(IsWindow(hWnd));
    UpdateInstallProgress(&Mgr(), 5000);
    EXPECT_EQ(5000u, Mgr().ReceivedBytes);
    EXPECT_EQ("about 2 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    EXPECT_EQ(0, MeasureBar(hWnd).nFilledPixels);
}

TEST_F(InstallProgress, MoreBytesThanAnnouncedFillTheBarAndKeepTheLastEstimate)
{
    HWND hWnd = Open(10000000);
    ASSERT_TRUE(IsWindow(hWnd));
    UpdateInstallProgress(&Mgr(), 1000000);
    ASSERT_EQ("about 3 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    UpdateInstallProgress(&Mgr(), 15000000);
    EXPECT_EQ("about 3 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    BarFill fill = MeasureBar(hWnd);
    EXPECT_EQ(fill.nPaintWidth, fill.nFilledColumns);
    EXPECT_EQ(fill.nPaintWidth * fill.nPaintHeight, fill.nFilledPixels);
}

TEST_F(InstallProgress, CancelButtonFailsTheStartUpAndTellsHostAndServer)
{
    EnableReports();
    HWND hWnd = Open(10000000);
    ASSERT_TRUE(IsWindow(hWnd));
    HWND hCancel = GetDlgItem(hWnd, IDCANCEL);
    ASSERT_TRUE(hCancel != nullptr);

    SendMessageA(hCancel, BM_CLICK, 0, 0);
    FakeHost::PumpMessages();

    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, Mgr().ProgressWindow);
    EXPECT_EQ(1, extension->m_bFailed);
    EXPECT_EQ(1, CancelMessages());
    EXPECT_TRUE(ReportSent(901)) << trace.Dump();

    // A second press finds no window; a late update only counts bytes.
    SendMessageA(hCancel, BM_CLICK, 0, 0);
    SendMessageA(hWnd, WM_COMMAND, IDCANCEL, 0);
    FakeHost::PumpMessages();
    UpdateInstallProgress(&Mgr(), 4000);
    EXPECT_EQ(1, CancelMessages());
    EXPECT_EQ(nullptr, Mgr().ProgressWindow);
    EXPECT_EQ(4000u, Mgr().ReceivedBytes);
}

TEST_F(InstallProgress, CancelWithoutLoggingUrlSendsNoRequest)
{
    HWND hWnd = Open(1000);
    ASSERT_TRUE(IsWindow(hWnd));
    SendMessageA(GetDlgItem(hWnd, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(1, CancelMessages());
    EXPECT_TRUE(trace.Contains("QDL parameters: ")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("Save the error message log to ["));
}

TEST_F(InstallProgress, CloseBoxCancelsLikeTheButton)
{
    HWND hWnd = Open(1000);
    ASSERT_TRUE(IsWindow(hWnd));
    SendMessageA(hWnd, WM_CLOSE, 0, 0);  // the dialog posts IDCANCEL to itself
    FakeHost::PumpMessages();
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(1, extension->m_bFailed);
    EXPECT_EQ(1, CancelMessages());
}

TEST_F(InstallProgress, CancelWithoutHostWindowStillFails)
{
    host.provideWindow = false;
    HWND hWnd = Open(1000);
    ASSERT_TRUE(IsWindow(hWnd));
    SendMessageA(GetDlgItem(hWnd, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(1, extension->m_bFailed);
    EXPECT_EQ(0, CancelMessages());
}

TEST_F(InstallProgress, WindowDestroyedBehindTheManagersBackIsForgotten)
{
    HWND hWnd = Open(10000000);
    ASSERT_TRUE(IsWindow(hWnd));
    DestroyWindow(hWnd);
    EXPECT_EQ(nullptr, Mgr().ProgressWindow);
    UpdateInstallProgress(&Mgr(), 1000000);
    EXPECT_EQ(1000000u, Mgr().ReceivedBytes);
    EXPECT_EQ(0, extension->m_bFailed);
    EXPECT_EQ(0, CancelMessages());
}

TEST_F(InstallProgress, ManagerTeardownClosesTheWindow)
{
    HWND hWnd = Open(1000);
    ASSERT_TRUE(IsWindow(hWnd));
    extension.reset();
    EXPECT_FALSE(IsWindow(hWnd));
}

TEST_F(InstallProgress, UnknownLanguageOpensTheEnglishWindow)
{
    host.SetParam("GpcLocalSetting", "11");
    HWND hWnd = Open(1000);
    ASSERT_TRUE(IsWindow(hWnd));
    EXPECT_EQ("Setting Up Conclave Hub", WindowText(hWnd));
}

TEST_F(InstallProgress, LocalLanguageChoosesTheTemplateAndTheTimeText)
{
    struct Case {
        const char* lpszSetting;
        WORD wLang;
    } cases[] = {{"3", 2052}, {"4", 1028}, {"5", 1041}, {"6", 1042}, {"7", 1036},
                 {"9", 1031}, {"12", 2058}, {"13", 1053}, {"1", 1033}};
    for (const auto& c : cases) {
        host.SetParam("GpcLocalSetting", c.lpszSetting);
        WORD wLang = TemplateCaption(c.wLang).empty() ? WORD(GPC_LANG_ENGLISH) : c.wLang;
        Mgr().ReceivedBytes = 0;
        HWND hWnd = Open(10000000);
        ASSERT_TRUE(IsWindow(hWnd)) << c.wLang;
        // The window is an ANSI window: its caption went through this
        // process's code page, like every text of the library.
        std::wstring caption = TemplateCaption(wLang);
        char achCaption[512] = {0};
        WideCharToMultiByte(CP_ACP, 0, caption.c_str(), -1, achCaption, sizeof(achCaption), nullptr, nullptr);
        EXPECT_EQ(achCaption, WindowText(hWnd)) << c.wLang;
        UpdateInstallProgress(&Mgr(), 1000000);
        char achExpected[256];
        FormatTimeLeft(c.wLang, 180, achExpected, sizeof(achExpected));
        EXPECT_NE("", std::string(achExpected)) << c.wLang;
        EXPECT_EQ(achExpected, ItemText(hWnd, IDC_GPC_TIME_TEXT)) << c.wLang;
        CloseProgressWindow(&Mgr().ProgressWindow);
    }
}
