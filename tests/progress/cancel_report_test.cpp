// Cancel in a progress window reaches the page's logging server as report
// 901, checked against a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "extension/extension.h"
#include "feedback/progress.h"
#include "progress_fixture.h"
#include "support/report_server.h"

namespace {

const std::string GPC_SERVER_DIR = GPC_PROGRESS_REPORT_SERVER_DIR;

class CancelReport : public ProgressTest {
protected:
    void SetUp() override
    {
        ProgressTest::SetUp();
        ASSERT_NE(0, ServerPort(GPC_SERVER_DIR)) << "the report server fixture did not start (" << GPC_SERVER_DIR << ")";
        extension.reset(new CVRGpcExtension(host.Cookie()));
        host.SetParam("MeetingID", "M5");
        host.SetParam("SessionID", "S6");
    }
    void TearDown() override
    {
        extension.reset();
        ProgressTest::TearDown();
    }
    void UseLog(const std::string& tag)
    {
        host.SetParam("LoggingURL", "http://127.0.0.1:" + std::to_string(ServerPort(GPC_SERVER_DIR)) + "/" + tag);
    }

    std::unique_ptr<CVRGpcExtension> extension;
};

}  // namespace

TEST_F(CancelReport, StartUpCancelIsReportedAs901WithoutDetail)
{
    UseLog("startup-cancel");
    CVRGpcInstallationMgr& mgr = extension->m_InstallationMgr;
    mgr.TotalBytes = 1000;
    mgr.StartTick = GetTickCount();
    OpenInstallProgressWindow(&mgr);
    ASSERT_TRUE(IsWindow(mgr.ProgressWindow));
    SendMessageA(GetDlgItem(mgr.ProgressWindow, IDCANCEL), BM_CLICK, 0, 0);

    std::vector<std::string> lines = RequestsWith(GPC_SERVER_DIR, "/startup-cancel");
    ASSERT_EQ(1u, lines.size()) << ReadFileBytes(GPC_SERVER_DIR + "/requests.log");
    EXPECT_NE(std::string::npos,
              lines[0].find("/startup-cancel?ConfID=M5&SessionID=S6&Module=1&ErrorCode=901 "))
        << lines[0];
}

TEST_F(CancelReport, JobCancelIsReportedAs901WithoutDetail)
{
    UseLog("job-cancel");
    g_nProgressSwitch = 0;
    GpcDownloadJob* pJob = CreateDownloadJob(extension.get(), "Sharing", nullptr, nullptr);
    GpcInstallItem item(extension.get());
    item.CompressedSize = 1000;
    RegisterJobItem(pJob, &item);
    ASSERT_TRUE(IsWindow(pJob->ProgressWindow));
    SendMessageA(GetDlgItem(pJob->ProgressWindow, IDCANCEL), BM_CLICK, 0, 0);

    std::vector<std::string> lines = RequestsWith(GPC_SERVER_DIR, "/job-cancel");
    ASSERT_EQ(1u, lines.size()) << ReadFileBytes(GPC_SERVER_DIR + "/requests.log");
    EXPECT_NE(std::string::npos, lines[0].find("/job-cancel?ConfID=M5&SessionID=S6&Module=1&ErrorCode=901 "))
        << lines[0];
    DestroyDownloadJob(pJob);
}
