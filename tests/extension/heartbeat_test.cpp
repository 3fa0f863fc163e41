// The heartbeat: when the component is loaded, when the run is done, the
// network monitor, and shut-down.
#include "extension_fixture.h"
#include "support/case_names.h"

namespace {

std::string Entry(const std::string& name)
{
    return name + ";" + name + ";;;;10;;existence;";
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(path);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

using Heartbeat = ExtensionTest;

TEST_F(Heartbeat, BeatsBeforeTheManifestArrivesDoNothing)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    m_pTrace->Clear();
    Beat(3);
    EXPECT_EQ(0, Ext()->m_bComponentLoadStarted);
    EXPECT_FALSE(m_pTrace->Contains("Main component")) << m_pTrace->Dump();
    EXPECT_FALSE(m_pTrace->Contains("Download is done"));
}

TEST_F(Heartbeat, ComponentLoadsOnceItsItemIsInPlaceAndTheRunEndsWithTheLastItem)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=" + Entry("b.dll") + "\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    Beat();
    EXPECT_EQ(0, Ext()->m_bComponentLoadStarted);

    CompleteWith(1, "M");
    Beat();
    CVRGpcExtension* p = Ext();
    EXPECT_EQ(1, p->m_bComponentLoadStarted);
    EXPECT_EQ(0, p->m_bDownloadDone);
    EXPECT_TRUE(m_pTrace->HasLine("Main component is ready to be loaded")) << m_pTrace->Dump();
    EXPECT_TRUE(m_pTrace->HasLine("item=b.dll is still installing."));
    EXPECT_EQ(ITEM_DONE, p->m_InstallationMgr.GetItem(0)->State);

    CompleteWith(2, "B");
    m_pTrace->Clear();
    Beat();
    EXPECT_EQ(1, p->m_bDownloadDone);
    EXPECT_TRUE(m_pTrace->HasLine("Download is done"));
    // The component hears that every download is over.
    EXPECT_GT(m_pTrace->IndexOf("NPVRGPC : Handle notification message 2"), m_pTrace->IndexOf("Download is done"));
    EXPECT_FALSE(m_pTrace->Contains("Main component is ready"));
    // The item after the component is registered once all are settled.
    EXPECT_EQ(ITEM_DONE, p->m_InstallationMgr.GetItem(1)->State);
    m_pTrace->Clear();
    Beat(2);
    EXPECT_FALSE(m_pTrace->Contains("Download is done"));
}

// Deciding, scheduling, installing, logging and loading all need an item's
// install directory; it is resolved (and traced) once in the start-up.
TEST_F(Heartbeat, EachItemsInstallDirectoryIsResolvedOnceInAStartUp)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=b.dll;b.dll;Sub;;;10;;existence;\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    CompleteWith(1, "M");
    CompleteWith(2, "B");
    Beat(3);
    ASSERT_EQ(1, Ext()->m_bDownloadDone) << m_pTrace->Dump();
    const struct {
        const char* file;
        std::string dir;
    } items[] = {{"main.dll", ProductDir()}, {"b.dll", ProductDir() + "\\Sub"}};
    for (const auto& item : items) {
        int nResolved = 0;
        for (const std::string& text : m_pTrace->Texts()) {
            if (text.rfind("CVRGPCEXT::GetInstallDir,", 0) == 0 &&
                text.size() > strlen(item.file) + 8 &&
                text.compare(text.size() - strlen(item.file) - 8, std::string::npos, ",file = " + std::string(item.file)) == 0)
                ++nResolved;
        }
        EXPECT_EQ(1, nResolved) << item.file << "\n" << m_pTrace->Dump();
        EXPECT_TRUE(m_pTrace->HasLine("CVRGPCEXT::GetInstallDir,installdir = " + item.dir + ",file = " + item.file));
    }
}

TEST_F(Heartbeat, ComponentListedLastLoadsAndFinishesInOneBeat)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("b.dll") + "\nFile2=" + Entry("main.dll") + "\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    CompleteWith(2, "M");
    Beat();
    EXPECT_EQ(0, Ext()->m_bComponentLoadStarted);  // b.dll comes first and is still on its way
    CompleteWith(1, "B");
    m_pTrace->Clear();
    Beat();
    EXPECT_EQ(1, Ext()->m_bComponentLoadStarted);
    EXPECT_EQ(1, Ext()->m_bDownloadDone);
    int nReady = m_pTrace->IndexOf("Main component is ready to be loaded");
    int nDone = m_pTrace->IndexOf("Download is done");
    EXPECT_GE(nReady, 0);
    EXPECT_GT(nDone, nReady);
}

TEST_F(Heartbeat, SuppressedInstallationLoadsAndFinishesOnTheFirstBeat)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcSuppressInstallation", "True");
    ASSERT_EQ(0, Init());
    m_pTrace->Clear();
    Beat();
    EXPECT_EQ(1, Ext()->m_bComponentLoadStarted);
    EXPECT_EQ(1, Ext()->m_bDownloadDone);
    int nLoad = m_pTrace->IndexOf("Suppress installation:load component");
    EXPECT_GE(nLoad, 0) << m_pTrace->Dump();
    EXPECT_GT(m_pTrace->IndexOf("Download is done"), nLoad);
    EXPECT_FALSE(m_pTrace->Contains("Main component is ready"));
}

TEST_F(Heartbeat, StandardDownloadModeNeverLoadsAComponent)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcStdDownload", "");
    ASSERT_EQ(0, Init());
    Beat(3);
    EXPECT_EQ(1, Ext()->m_bReady);
    EXPECT_EQ(0, Ext()->m_bComponentLoadStarted);
    EXPECT_EQ(0, Ext()->m_bDownloadDone);
}

TEST_F(Heartbeat, VisibleMessageWindowHoldsTheBeatAndIsDestroyedAtExit)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcSuppressInstallation", "True");
    ASSERT_EQ(0, Init());
    HWND hWnd = CreateWindowA("STATIC", "message", WS_POPUP | WS_VISIBLE, 0, 0, 50, 20, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, hWnd);
    Ext()->m_hMessageWnd = hWnd;
    Beat();
    EXPECT_EQ(0, Ext()->m_bComponentLoadStarted);
    ShowWindow(hWnd, SW_HIDE);
    Beat();
    EXPECT_EQ(1, Ext()->m_bDownloadDone);
    Exit();
    EXPECT_FALSE(IsWindow(hWnd));
}

TEST_F(Heartbeat, FailedInstanceStopsAdvancingButShutsDownCompletely)
{
    SetOrdinaryPage();
    m_pHost->RemoveParam("GpcUrlRoot");
    ASSERT_EQ(0, Init());
    ASSERT_EQ(1, Ext()->m_bFailed);
    Beat(2);
    EXPECT_EQ(0, Ext()->m_bComponentLoadStarted);
    Exit();
    int nDelete = m_pTrace->IndexOf("Delete CVRGpcExtension object");
    EXPECT_GE(nDelete, 0) << m_pTrace->Dump();
    EXPECT_GT(m_pTrace->IndexOf("GpcExitInstance Exit"), nDelete);
}

TEST_F(Heartbeat, FatalStartupFailureClosesTheProgressWindow)
{
    SetOrdinaryPage();
    m_pHost->RemoveParam("GpcSuppressProgressBar");
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=" + Entry("b.dll") + "\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    HWND hWnd = Ext()->m_InstallationMgr.ProgressWindow;
    ASSERT_TRUE(hWnd && IsWindow(hWnd));
    m_pHost->Complete(1, nullptr);  // the component's file never came
    ASSERT_EQ(1, Ext()->m_bFailed);
    Beat();
    // Left up, its Cancel would report a user cancel for what was a failure.
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, Ext()->m_InstallationMgr.ProgressWindow);
}

TEST_F(Heartbeat, ExitRestoresTheDirectorySavedBeforeTheComponentLoad)
{
    char achOriginal[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, achOriginal);
    const std::string saved = MakeTempDir("saved");
    const std::string other = MakeTempDir("other");
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    GpcCopyString(Ext()->m_achSavedCurDir, GPC_MAX_PATH, saved.c_str());
    SetCurrentDirectoryA(other.c_str());
    Exit();
    char achNow[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, achNow);
    SetCurrentDirectoryA(achOriginal);
    EXPECT_EQ(saved, achNow);
}

struct MonitorCase {
    const char* name;
    friend void PrintTo(const MonitorCase& c, std::ostream* os) { *os << c.name; }
    const char* fixture;  // library copied as VRNETEXT.DLL, or null
    bool pluginHost;
    std::vector<std::string> afterStart;
    std::vector<std::string> afterSocket;
    std::vector<std::string> afterExit;
};

const MonitorCase kMonitorCases[] = {
    {"plug-in host", "netmon_fixture.dll", true,
     {"NSpySetPluginVersion 62", "NSpyStart 1"},
     {"NSpySetPluginVersion 62", "NSpyStart 1", "NSpySetSocketContext 5 6"},
     {"NSpySetPluginVersion 62", "NSpyStart 1", "NSpySetSocketContext 5 6", "NSpyStop"}},
    {"monitor with two entry points", "netmon_partial_fixture.dll", true,
     {"NSpySetPluginVersion 62", "NSpyStart 1"},
     {"NSpySetPluginVersion 62", "NSpyStart 1"},
     {"NSpySetPluginVersion 62", "NSpyStart 1"}},
    {"ActiveX host", "netmon_fixture.dll", false, {}, {}, {}},
    {"no monitor", nullptr, true, {}, {}, {}},
};

class HeartbeatMonitor : public Heartbeat, public ::testing::WithParamInterface<MonitorCase> {};

TEST_P(HeartbeatMonitor, NetworkMonitorStartsWhenTheRunIsDoneAndStopsAtExit)
{
    const MonitorCase& c = GetParam();
    SetOrdinaryPage();
    m_pHost->SetParam("GpcSuppressInstallation", "True");
    m_pHost->SetPluginMarker(c.pluginHost);
    CreateDirectoryA((m_pHost->directory + "\\" + m_strProductRoot).c_str(), nullptr);
    CreateDirectoryA(ProductDir().c_str(), nullptr);
    const std::string monitor = ProductDir() + "\\VRNETEXT.DLL";
    const std::string log = monitor + ".log";
    if (c.fixture) {
        ASSERT_TRUE(CopyFileA((TestBinDir() + c.fixture).c_str(), monitor.c_str(), FALSE));
    }

    ASSERT_EQ(0, Init());
    Beat();  // suppressed: loads the component and finishes at once
    ASSERT_EQ(1, Ext()->m_bDownloadDone);
    EXPECT_EQ(c.afterStart, ReadLines(log));
    Beat(2);  // started once only
    EXPECT_EQ(c.afterStart, ReadLines(log));

    if (c.fixture && c.pluginHost) {
        ASSERT_NE(nullptr, m_pHost->socketCallback);
        EXPECT_EQ(Ext(), m_pHost->socketContext);
        EXPECT_EQ(0, m_pHost->socketCallback(m_pHost->socketContext, 5, 6));
    } else {
        EXPECT_EQ(nullptr, m_pHost->socketCallback);
    }
    EXPECT_EQ(c.afterSocket, ReadLines(log));
    Exit();
    EXPECT_EQ(c.afterExit, ReadLines(log));
    // The host is told to forget the callback: a later socket notice
    // would otherwise reach the deleted instance.
    EXPECT_EQ(nullptr, m_pHost->socketCallback);
    // The library was let go: its file can be removed again.
    if (c.fixture) {
        EXPECT_TRUE(DeleteFileA(monitor.c_str()));
    }
}

INSTANTIATE_TEST_SUITE_P(, HeartbeatMonitor, ::testing::ValuesIn(kMonitorCases), CaseName());
