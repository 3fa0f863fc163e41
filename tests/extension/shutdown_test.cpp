// Shut-down while the host still holds downloads: whatever the host
// delivers after GpcExitInstance must find nothing to act on.
#include "extension_fixture.h"

namespace {

std::string Entry(const std::string& name)
{
    return name + ";" + name + ";;;;10;;existence;";
}

const char GPC_DROPPED_NOTICE[] = "vrgpcext: notice of a download that is no longer awaited ignored";

}  // namespace

using Shutdown = ExtensionTest;

TEST_F(Shutdown, StartupDownloadsDeliveredAfterExitAreDropped)
{
    SetOrdinaryPage();
    EnableReports();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=" + Entry("b.dll") + "\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    Exit();
    m_pTrace->Clear();

    m_pHost->Progress(1, 5);
    CompleteWith(1, "M");
    m_pHost->Complete(2, nullptr);
    EXPECT_FALSE(PathExists(ProductDir() + "\\main.dll"));
    EXPECT_TRUE(m_pTrace->HasLine(GPC_DROPPED_NOTICE)) << m_pTrace->Dump();
    EXPECT_FALSE(m_pTrace->Contains("DoItemInstallation")) << m_pTrace->Dump();
    EXPECT_TRUE(ReportedCodes().empty());
}

TEST_F(Shutdown, ManifestDeliveredAfterExitIsDropped)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    ASSERT_EQ(1u, m_pHost->downloads.size());
    Exit();
    m_pTrace->Clear();

    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n");
    EXPECT_EQ(1u, m_pHost->downloads.size());
    EXPECT_TRUE(m_pTrace->HasLine(GPC_DROPPED_NOTICE)) << m_pTrace->Dump();
    EXPECT_FALSE(m_pTrace->Contains("There are")) << m_pTrace->Dump();
}

TEST_F(Shutdown, OnDemandDownloadDeliveredAfterExitReachesNobody)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcStdDownload", "yes");
    ASSERT_EQ(0, Init());
    const std::string manifest = WriteWorkFile("sections.ini", "[Extras]\nCount=1\nFile1=" + Entry("a.dat") + "\n");
    int nContext = 0;
    ASSERT_EQ(1, GpcStdDownloadExt(m_pHost->Cookie(), manifest.c_str(), "Extras", RecordOdeNotice, &nContext));
    ASSERT_EQ(1u, m_pHost->downloads.size());
    Exit();
    m_pTrace->Clear();

    m_pHost->Progress(0, 5);
    CompleteWith(0, "A");
    EXPECT_TRUE(OdeNotices().empty());
    EXPECT_FALSE(PathExists(ProductDir() + "\\a.dat"));
    EXPECT_TRUE(m_pTrace->HasLine(GPC_DROPPED_NOTICE)) << m_pTrace->Dump();
    EXPECT_FALSE(m_pTrace->Contains("DoItemInstallation")) << m_pTrace->Dump();
}
