// The single-file progress manager that GpcGetFileAtUrlEx puts between the
// host and its caller.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feedback/messages.h"
#include "feedback/progress.h"
#include "progress_fixture.h"

namespace {

// What the caller's own callback saw, and what the manager's window showed
// at that moment (the caller must hear first).
struct CallerNotice {
    void* pFirst;
    void* pContext;
    DWORD dwStatus;
    ULONG_PTR value;
    bool bWindowAlive;
    std::string timeText;
};
std::vector<CallerNotice> g_notices;
HWND g_hWatchedWindow = nullptr;

void WINAPI CallerCallback(void* pFirst, void* pContext, DWORD dwStatus, ULONG_PTR value)
{
    bool bAlive = g_hWatchedWindow && IsWindow(g_hWatchedWindow);
    g_notices.push_back({pFirst, pContext, dwStatus, value, bAlive,
                         bAlive ? ItemText(g_hWatchedWindow, IDC_GPC_TIME_TEXT) : std::string()});
}

class FileProgress : public ProgressTest {
protected:
    void SetUp() override
    {
        ProgressTest::SetUp();
        g_notices.clear();
        g_hWatchedWindow = nullptr;
    }
    void TearDown() override
    {
        g_hWatchedWindow = nullptr;
        ProgressTest::TearDown();
    }
    // Starts a download the way GpcGetFileAtUrlEx does; the manager's start
    // is moved dwAgoMs into the past.
    CVRGpcProgressMgr* Start(DWORD dwTotal, const char* lpszCaption = nullptr, DWORD dwAgoMs = 20000)
    {
        progress.dwTotalSize = dwTotal;
        progress.lpszCaption = lpszCaption;
        GpcFileRequest request = {context, &CallerCallback, &progress};
        CVRGpcProgressMgr* pMgr = new CVRGpcProgressMgr(host.Cookie(), host.Table(), request);
        pMgr->StartTick = GetTickCount() - dwAgoMs;
        host.Table()->HostDownloadUrl(host.Cookie(), &CVRGpcProgressMgr::OnDownloadStatus, pMgr,
                                      "http://127.0.0.1/file.bin");
        g_hWatchedWindow = pMgr->ProgressWindow;
        return pMgr;
    }

    GpcProgressRequest progress = {0, nullptr};
    void* context = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x5150));
};

}  // namespace

TEST_F(FileProgress, OpensPlacedWithTheRequestCaptionAndTracesItsTemplate)
{
    host.SetParam("GpcProgressBarTitle", "Page title");
    CVRGpcProgressMgr* pMgr = Start(5000, "Fetching recording");
    HWND hWnd = pMgr->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    EXPECT_EQ("Fetching recording", WindowText(hWnd));
    EXPECT_EQ(5000u, pMgr->TotalBytes);
    RECT rc;
    GetWindowRect(hWnd, &rc);
    EXPECT_EQ(15, rc.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (rc.bottom - rc.top)) / 2, rc.top);
    EXPECT_TRUE(GetWindowLongA(hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);

    char achLine[128];
    HRSRC hRes = FindResourceExA(GetGpcModule(), RT_DIALOG, MAKEINTRESOURCEA(IDD_GPC_PROGRESS), 1033);
    snprintf(achLine, sizeof(achLine), "Get localized progress resource: %x,local setting:409",
             static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hRes)));
    EXPECT_TRUE(trace.HasLine(achLine)) << trace.Dump();
    snprintf(achLine, sizeof(achLine), "Create download progress wnd,%x",
             static_cast<unsigned>(reinterpret_cast<UINT_PTR>(hWnd)));
    EXPECT_TRUE(trace.HasLine(achLine)) << trace.Dump();

    host.Complete(0, "C:\\file.bin");
}

TEST_F(FileProgress, CaptionFallsBackToTheTitleParameterThroughItsOwnTable)
{
    host.SetParam("GpcProgressBarTitle", "Page title");
    g_pHostTable = nullptr;  // only the manager's own table knows the page
    CVRGpcProgressMgr* pMgr = Start(5000);
    ASSERT_TRUE(IsWindow(pMgr->ProgressWindow));
    EXPECT_EQ("Page title", WindowText(pMgr->ProgressWindow));
    host.Complete(0, "C:\\file.bin");
}

TEST_F(FileProgress, WithoutAnyCaptionTheTemplateCaptionStays)
{
    CVRGpcProgressMgr* pMgr = Start(5000);
    ASSERT_TRUE(IsWindow(pMgr->ProgressWindow));
    EXPECT_EQ("Setting Up Conclave Hub", WindowText(pMgr->ProgressWindow));
    host.Complete(0, "C:\\file.bin");
}

TEST_F(FileProgress, CallerHearsEveryNoticeFirstAndTheWindowFollowsTheBytes)
{
    CVRGpcProgressMgr* pMgr = Start(10000000);
    HWND hWnd = pMgr->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));

    host.Progress(0, 1000000);
    ASSERT_EQ(1u, g_notices.size());
    EXPECT_EQ(host.Cookie(), g_notices[0].pFirst);
    EXPECT_EQ(context, g_notices[0].pContext);
    EXPECT_EQ(1u, g_notices[0].dwStatus);
    EXPECT_EQ(1000000u, g_notices[0].value);
    EXPECT_EQ("about 2 minutes", g_notices[0].timeText);  // not yet updated
    EXPECT_EQ("about 3 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    EXPECT_TRUE(trace.HasLine("dwMinutes = 3,dwSeconds = 0")) << trace.Dump();
    EXPECT_TRUE(trace.HasLine("downloadedSize = 1000000,totalsize = 10000000,Progress Text:about 3 minutes"))
        << trace.Dump();

    BarFill fill = MeasureBar(hWnd);
    EXPECT_EQ(static_cast<int>(0.1 * fill.nPaintWidth), fill.nFilledColumns);
    EXPECT_EQ(fill.nFilledColumns * fill.nPaintHeight, fill.nFilledPixels);
    char achLine[160];
    snprintf(achLine, sizeof(achLine), "progressber,rc,4,%d,2,%d,%f,%f", 4 + fill.nFilledColumns,
             2 + fill.nPaintHeight, 0.1, 0.1 * fill.nPaintWidth);
    EXPECT_TRUE(trace.HasLine(achLine)) << achLine << "\n" << trace.Dump();

    // Measuring the bar may take seconds on a slow machine: the start is set
    // 20 s back again, so that the estimate below is still to the second.
    pMgr->StartTick = GetTickCount() - 20000;
    host.Progress(0, 2000000);
    EXPECT_EQ("less than 1 minute", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    EXPECT_TRUE(trace.HasLine("dwMinutes = 1,dwSeconds = 46")) << trace.Dump();

    // The last notice: the caller hears it while the window still stands,
    // then the manager closes its window and is gone.
    host.Complete(0, "C:\\file.bin");
    ASSERT_EQ(3u, g_notices.size());
    EXPECT_EQ(0u, g_notices[2].dwStatus);
    EXPECT_TRUE(g_notices[2].bWindowAlive);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_FALSE(trace.Contains("download file failed"));
}

TEST_F(FileProgress, NoEstimateLeavesTheTextAndTracesAnEmptyOne)
{
    CVRGpcProgressMgr* pMgr = Start(0);
    HWND hWnd = pMgr->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    host.Progress(0, 4096);
    EXPECT_EQ("about 2 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    EXPECT_TRUE(trace.HasLine("downloadedSize = 4096,totalsize = 0,Progress Text:")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("dwMinutes"));
    EXPECT_EQ(0, MeasureBar(hWnd).nFilledPixels);
    host.Complete(0, "C:\\file.bin");
}

TEST_F(FileProgress, FailedDownloadIsTracedOnceAndTheManagerGoes)
{
    CVRGpcProgressMgr* pMgr = Start(5000);
    HWND hWnd = pMgr->ProgressWindow;
    host.Complete(0, nullptr);
    EXPECT_TRUE(trace.HasLine("download file failed"));
    EXPECT_FALSE(IsWindow(hWnd));
    ASSERT_EQ(1u, g_notices.size());
    EXPECT_EQ(0u, g_notices[0].value);
}

TEST_F(FileProgress, CancelClosesTheWindowAsksTheHostAndReportsNothing)
{
    EnableReports();
    CVRGpcProgressMgr* pMgr = Start(10000000);
    HWND hWnd = pMgr->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    HWND hCancel = GetDlgItem(hWnd, IDCANCEL);

    SendMessageA(hCancel, BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, pMgr->ProgressWindow);
    EXPECT_EQ(1, pMgr->FailureNoted);
    EXPECT_EQ(1, CancelMessages());
    EXPECT_FALSE(trace.Contains("QDL parameters"));

    // Pressed again, and late progress: nothing more happens on screen.
    SendMessageA(hCancel, BM_CLICK, 0, 0);
    host.Progress(0, 1000);
    EXPECT_EQ(1, CancelMessages());
    EXPECT_EQ(1000u, pMgr->ReceivedBytes);

    // The host ends the cancelled download with no file: no failure line,
    // the caller still hears the end.
    host.Complete(0, nullptr);
    EXPECT_FALSE(trace.Contains("download file failed"));
    ASSERT_EQ(2u, g_notices.size());
    EXPECT_EQ(0u, g_notices[1].dwStatus);
}

TEST_F(FileProgress, HostThatNeverCompletesLeavesAWindowThatCancelStillCloses)
{
    CVRGpcProgressMgr* pMgr = Start(10000000);
    HWND hWnd = pMgr->ProgressWindow;
    for (int i = 0; i < 5; ++i) host.Progress(0, 100);
    FakeHost::PumpMessages();
    EXPECT_TRUE(IsWindow(hWnd));
    SendMessageA(GetDlgItem(hWnd, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(1, CancelMessages());
    // What a host does when it finally gives up.
    host.Complete(0, nullptr);
    EXPECT_EQ(6u, g_notices.size());
}

TEST_F(FileProgress, WindowDestroyedBeforeTheLastUpdateIsNeverTouched)
{
    CVRGpcProgressMgr* pMgr = Start(10000000);
    HWND hWnd = pMgr->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    DestroyWindow(hWnd);
    EXPECT_EQ(nullptr, pMgr->ProgressWindow);
    host.Progress(0, 1000000);
    EXPECT_EQ(1000000u, pMgr->ReceivedBytes);
    EXPECT_FALSE(trace.Contains("downloadedSize"));
    host.Complete(0, "C:\\file.bin");
    EXPECT_EQ(2u, g_notices.size());
    EXPECT_EQ(0, CancelMessages());
}

TEST_F(FileProgress, NullManagerAndMissingCallerAreHarmless)
{
    CVRGpcProgressMgr::OnDownloadStatus(nullptr, nullptr, 1, 100);
    CVRGpcProgressMgr::OnDownloadStatus(nullptr, nullptr, 0, 0);

    GpcFileRequest request = {nullptr, nullptr, nullptr};  // no callback, no progress record
    CVRGpcProgressMgr* pMgr = new CVRGpcProgressMgr(host.Cookie(), host.Table(), request);
    EXPECT_EQ(0u, pMgr->TotalBytes);
    HWND hWnd = pMgr->ProgressWindow;
    CVRGpcProgressMgr::OnDownloadStatus(nullptr, pMgr, 1, 100);
    CVRGpcProgressMgr::OnDownloadStatus(nullptr, pMgr, 0, 0);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_TRUE(trace.HasLine("download file failed"));
}

TEST_F(FileProgress, TableWithoutWindowSlotStillCancels)
{
    host.NullSlot(14);
    CVRGpcProgressMgr* pMgr = Start(10000000);
    HWND hWnd = pMgr->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    SendMessageA(GetDlgItem(hWnd, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(0, CancelMessages());
    host.Complete(0, nullptr);
}
