// The on-demand download job's progress window. Every extension constructor
// sets the progress switch, which keeps these windows closed in the running
// system; the tests open the switch to see the window itself.
#include <gtest/gtest.h>

#include <memory>

#include "extension/extension.h"
#include "feedback/messages.h"
#include "feedback/progress.h"
#include "progress_fixture.h"

namespace {

class JobProgress : public ProgressTest {
protected:
    void SetUp() override
    {
        ProgressTest::SetUp();
        extension.reset(new CVRGpcExtension(host.Cookie()));
        g_nProgressSwitch = 0;
    }
    void TearDown() override
    {
        for (GpcDownloadJob* pJob : jobs) DestroyDownloadJob(pJob);
        for (GpcInstallItem* pItem : items) delete pItem;
        extension.reset();
        ProgressTest::TearDown();
    }
    GpcDownloadJob* NewJob(const char* lpszSection)
    {
        GpcDownloadJob* pJob = CreateDownloadJob(extension.get(), lpszSection, nullptr, nullptr);
        jobs.push_back(pJob);
        return pJob;
    }
    GpcInstallItem* NewItem(DWORD dwCompressedSize)
    {
        GpcInstallItem* pItem = new GpcInstallItem(extension.get());
        pItem->CompressedSize = dwCompressedSize;
        items.push_back(pItem);
        return pItem;
    }

    std::unique_ptr<CVRGpcExtension> extension;
    std::vector<GpcDownloadJob*> jobs;
    std::vector<GpcInstallItem*> items;
};

}  // namespace

TEST_F(JobProgress, SwitchOnKeepsTheWindowClosedButCountsTheItem)
{
    g_nProgressSwitch = 1;
    GpcDownloadJob* pJob = NewJob("Sharing");
    ASSERT_TRUE(pJob != nullptr);
    EXPECT_EQ(1, RegisterJobItem(pJob, NewItem(700)));
    EXPECT_EQ(1, RegisterJobItem(pJob, NewItem(300)));
    EXPECT_EQ(1000u, pJob->TotalBytes);
    EXPECT_EQ(2, pJob->PendingItems.GetCount());
    EXPECT_EQ(nullptr, pJob->ProgressWindow);
    EXPECT_EQ(0u, pJob->StartTick);
    UpdateJobProgress(pJob, 250);  // no window: only counted
    EXPECT_EQ(250u, pJob->ReceivedBytes);
}

TEST_F(JobProgress, FirstItemOpensTheWindowWithSectionCaptionAndStatus)
{
    host.SetParam("Sharing", "Application sharing");
    GpcDownloadJob* pJob = NewJob("Sharing");
    EXPECT_EQ(1, RegisterJobItem(pJob, NewItem(600)));
    HWND hWnd = pJob->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    EXPECT_NE(0u, pJob->StartTick);
    EXPECT_EQ("Corvo Downloading [Sharing]", WindowText(hWnd));
    EXPECT_EQ("Application sharing", ItemText(hWnd, IDC_GPC_STATUS_TEXT));
    RECT rc;
    GetWindowRect(hWnd, &rc);
    EXPECT_EQ(15, rc.left);
    EXPECT_TRUE(GetWindowLongA(hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);

    // Later items only add to the total; no second window.
    EXPECT_EQ(1, RegisterJobItem(pJob, NewItem(400)));
    EXPECT_EQ(hWnd, pJob->ProgressWindow);
    EXPECT_EQ(1000u, pJob->TotalBytes);
}

TEST_F(JobProgress, CaptionRules)
{
    struct Case {
        const char* lpszTitle;  // "GpcProgressBarTitle" or null
        const char* lpszSection;
        const char* lpszCaption;
    } cases[] = {
        {"My title", "Sharing", "My title"},
        // A title that is present but empty is still the caption.
        {"", "Sharing", ""},
        {nullptr, "Sharing", "Corvo Downloading [Sharing]"},
        {nullptr, "", "Setting Up Conclave Hub"},
        {nullptr, nullptr, "Setting Up Conclave Hub"},
    };
    for (const auto& c : cases) {
        if (c.lpszTitle)
            host.SetParam("GpcProgressBarTitle", c.lpszTitle);
        else
            host.RemoveParam("GpcProgressBarTitle");
        GpcDownloadJob* pJob = NewJob(c.lpszSection);
        RegisterJobItem(pJob, NewItem(10));
        ASSERT_TRUE(IsWindow(pJob->ProgressWindow));
        EXPECT_EQ(c.lpszCaption, WindowText(pJob->ProgressWindow)) << (c.lpszSection ? c.lpszSection : "(null)");
        EXPECT_EQ("", ItemText(pJob->ProgressWindow, IDC_GPC_STATUS_TEXT));
        CloseProgressWindow(&pJob->ProgressWindow);
    }
}

TEST_F(JobProgress, SuppressedWindowKeepsTheTemplateCaptionAndEmptyStatus)
{
    host.SetParam("GpcSuppressProgressBar", "true");
    host.SetParam("GpcProgressBarTitle", "My title");
    host.SetParam("Sharing", "Application sharing");
    GpcDownloadJob* pJob = NewJob("Sharing");
    RegisterJobItem(pJob, NewItem(10));
    ASSERT_TRUE(IsWindow(pJob->ProgressWindow));
    EXPECT_EQ("Setting Up Conclave Hub", WindowText(pJob->ProgressWindow));
    EXPECT_EQ("", ItemText(pJob->ProgressWindow, IDC_GPC_STATUS_TEXT));
}

TEST_F(JobProgress, LongSectionNameIsCutInTheCaption)
{
    std::string section(3000, 's');
    GpcDownloadJob* pJob = NewJob(section.c_str());
    RegisterJobItem(pJob, NewItem(10));
    ASSERT_TRUE(IsWindow(pJob->ProgressWindow));
    std::string caption = WindowText(pJob->ProgressWindow);
    EXPECT_EQ(0u, caption.find("Corvo Downloading [sss"));
}

TEST_F(JobProgress, UpdatesRepaintTheBarAtOnce)
{
    GpcDownloadJob* pJob = NewJob("Sharing");
    RegisterJobItem(pJob, NewItem(10000000));
    HWND hWnd = pJob->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    MeasureBar(hWnd);  // first paint of the empty bar
    pJob->StartTick = GetTickCount() - 20000;
    UpdateJobProgress(pJob, 5000000);
    EXPECT_EQ("less than 1 minute", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    // No message loop ran: the fill is on the screen already.
    WindowPixels px = CaptureWindow(GetDlgItem(hWnd, IDC_GPC_PROGRESS_BAR), true, false);
    EXPECT_EQ((px.nWidth - 8) / 2, px.Columns(GPC_FILL_RGB));
}

TEST_F(JobProgress, ClosedSwitchLeavesTheWindowAlone)
{
    GpcDownloadJob* pJob = NewJob("Sharing");
    RegisterJobItem(pJob, NewItem(10000000));
    HWND hWnd = pJob->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    pJob->StartTick = GetTickCount() - 20000;
    UpdateJobProgress(pJob, 1000000);
    ASSERT_EQ("about 3 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
    g_nProgressSwitch = 1;
    UpdateJobProgress(pJob, 8000000);
    EXPECT_EQ(9000000u, pJob->ReceivedBytes);
    EXPECT_EQ("about 3 minutes", ItemText(hWnd, IDC_GPC_TIME_TEXT));
}

TEST_F(JobProgress, CancelRequestsCancellationOnceAndReports)
{
    EnableReports();
    GpcDownloadJob* pJob = NewJob("Sharing");
    RegisterJobItem(pJob, NewItem(1000));
    HWND hWnd = pJob->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    HWND hCancel = GetDlgItem(hWnd, IDCANCEL);

    SendMessageA(hCancel, BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, pJob->ProgressWindow);
    // The window's own request is cancelled, not the instance's others.
    EXPECT_EQ(1, pJob->CancelRequested);
    EXPECT_EQ(0, extension->m_bCancelRequested);
    EXPECT_EQ(0, extension->m_bFailed);
    EXPECT_TRUE(trace.HasLine("Cancel Download"));
    EXPECT_TRUE(ReportSent(901)) << trace.Dump();
    EXPECT_EQ(1, CancelMessages());

    SendMessageA(hCancel, BM_CLICK, 0, 0);
    UpdateJobProgress(pJob, 1000);
    EXPECT_EQ(1, CancelMessages());
    EXPECT_EQ(nullptr, pJob->ProgressWindow);
}

TEST_F(JobProgress, NullArgumentsAreRefused)
{
    GpcDownloadJob* pJob = NewJob("Sharing");
    EXPECT_EQ(0, RegisterJobItem(pJob, nullptr));
    EXPECT_EQ(0, RegisterJobItem(nullptr, NewItem(5)));
    UpdateJobProgress(nullptr, 5);
    EXPECT_EQ(nullptr, pJob->ProgressWindow);
}

TEST_F(JobProgress, DestroyingTheJobClosesItsWindow)
{
    GpcDownloadJob* pJob = NewJob("Sharing");
    RegisterJobItem(pJob, NewItem(1000));
    HWND hWnd = pJob->ProgressWindow;
    ASSERT_TRUE(IsWindow(hWnd));
    jobs.clear();
    DestroyDownloadJob(pJob);
    EXPECT_FALSE(IsWindow(hWnd));
}
