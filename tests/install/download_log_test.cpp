// Download URLs, on-demand notices and failure reports, the installation log
// in the registry, and the registrations before and after the main
// component is loaded.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "install_fixture.h"

namespace {

using DownloadRequests = InstallTest;
using ComponentActions = InstallTest;

struct Call {
    void* context;
    int kind;
    std::string file;
    std::string section;
    int code;
    GpcOdeFileInfo* info;
};
std::vector<Call> g_calls;

void WINAPI RecordCall(void* pContext, int nKind, const char* lpszFile, const char* lpszSection, int nCode,
                       GpcOdeFileInfo* pInfo)
{
    g_calls.push_back({pContext, nKind, lpszFile ? lpszFile : "<null>", lpszSection ? lpszSection : "<null>", nCode,
                       pInfo});
}

// A failure report names its error code and detail in the request it
// traces; a closed local port makes the send fail at once.
void ExpectReports(FakeHost& host)
{
    host.SetParam("LoggingURL", "http://127.0.0.1:9/log?");
    host.SetParam("MeetingID", "m1");
    host.SetParam("SessionID", "s1");
}
std::string ReportText(int nCode, const std::string& detail)
{
    return "ErrorCode=" + std::to_string(nCode) + "&OptInfo1=" + detail + "]";
}

// The log layout: HKLM\SOFTWARE\<root>\Deinstall\<log path>, or HKCU
// when the machine's key cannot be written.
class InstallLog : public InstallTest {
protected:
    void TearDown() override
    {
        SetLogRootOpenForTesting(nullptr);
        for (const std::string& k : m_Cleanup) {
            DeleteRegTree(HKEY_LOCAL_MACHINE, k);
            DeleteRegTree(HKEY_CURRENT_USER, k);
        }
        InstallTest::TearDown();
    }
    void CleanUp(const std::string& key) { m_Cleanup.push_back(key); }
    std::vector<std::string> m_Cleanup;
};

// The log root as a standard user meets it: the machine's hive refuses
// writing (Wine itself lets every process write there).
PFN_GpcOpenLogRootKey g_pfnRealLogRootOpen = nullptr;
LONG MachineHiveRefused(CGpcRegKey* pKey, HKEY hHive, const char* lpszRootKey)
{
    if (hHive == HKEY_LOCAL_MACHINE) return ERROR_ACCESS_DENIED;
    return g_pfnRealLogRootOpen(pKey, hHive, lpszRootKey);
}
LONG EveryHiveRefused(CGpcRegKey*, HKEY, const char*)
{
    return ERROR_ACCESS_DENIED;
}

}  // namespace

// ---------------------------------------------------------------------------
// URLs and download requests

TEST_F(DownloadRequests, ItemUrlJoinsRootAndRelativeUrlVerbatim)
{
    struct {
        const char* lpszRoot;  // null: absent
        const char* lpszItem;
        const char* lpszUrl;
    } cases[] = {
        {"http://h/r", "a;bin/a.dll", "http://h/r/bin/a.dll"},
        {"http://h/r/", "a;bin/a.dll", "http://h/r/bin/a.dll"},
        {"http://h/r", "a;/a.dll", "http://h/r//a.dll"},
        {"", "a;bin/a b.dll?x=1", "bin/a b.dll?x=1"},
        {"http://h/r", "a", "http://h/r/"},
        {nullptr, "a;x.dll", "x.dll"},
    };
    for (const auto& c : cases) {
        mgr->UrlRoot.Assign(c.lpszRoot);
        GpcInstallItem* pItem = Add(c.lpszItem);
        char achUrl[512];
        mgr->BuildItemUrl(pItem, achUrl, sizeof(achUrl));
        EXPECT_STREQ(c.lpszUrl, achUrl) << c.lpszItem;
    }
}

TEST_F(DownloadRequests, UrlThatDoesNotFitIsNeverCut)
{
    std::string longUrl(600, 'u');
    GpcInstallItem* pItem = Add("a.dll;" + longUrl + ";;;;;;;");
    char achUrl[512];
    mgr->BuildItemUrl(pItem, achUrl, sizeof(achUrl));
    EXPECT_STREQ("", achUrl);
    char achSmall[8];
    mgr->BuildItemUrl(Add("b.dll;b.dll"), achSmall, sizeof(achSmall));
    EXPECT_STREQ("", achSmall);

    // Asked for, such an item ends at once as a download that brought no file.
    pItem->State = ITEM_DOWNLOADING;
    mgr->PrepareDownload(pItem);
    EXPECT_TRUE(host.downloads.empty());
    EXPECT_EQ(1, ext->m_bFailed);
}

TEST_F(DownloadRequests, RandomSuffixFollowsEvenAnExistingQuery)
{
    GpcInstallItem* pItem = Add("a.dll;get?f=a.dll;;;;7;;;");
    mgr->UrlRoot.Assign("");
    mgr->PrepareDownload(pItem);
    ASSERT_EQ(1u, host.downloads.size());
    const std::string& url = host.downloads[0].url;
    ASSERT_EQ(0u, url.find("get?f=a.dll?random="));
    EXPECT_EQ(std::string::npos, url.find_first_not_of("0123456789", strlen("get?f=a.dll?random=")));
}

TEST_F(DownloadRequests, JobDownloadRegistersTheItemWithItsJob)
{
    GpcDownloadJob* pJob = CreateDownloadJob(ext.get(), "Sec", nullptr, nullptr);
    ASSERT_NE(nullptr, pJob);
    GpcInstallItem* pA = Add("a.dll;a.dll;;;;10;;;");
    GpcInstallItem* pB = Add("b.dll;b.dll;;;;32;;;");
    mgr->PrepareJobDownload(pA, pJob);
    mgr->PrepareJobDownload(pB, pJob);
    EXPECT_EQ(pJob, pA->Job);
    EXPECT_EQ(pJob, pB->Job);
    EXPECT_EQ(42u, pJob->TotalBytes);
    EXPECT_EQ(0u, mgr->TotalBytes);
    EXPECT_EQ(2, pJob->PendingItems.GetCount());
    ASSERT_EQ(2u, host.downloads.size());
    EXPECT_EQ(&CVRGpcExtension::OnStdItemDownload, host.downloads[1].callback);
    EXPECT_EQ(static_cast<void*>(pB), CGpcLiveContext::Find(host.downloads[1].context, GPC_LIVE_ITEM));
    EXPECT_EQ(0u, host.downloads[1].url.find("http://127.0.0.1/files/b.dll?random="));
    DestroyDownloadJob(pJob);
}

// ---------------------------------------------------------------------------
// Notices to on-demand callers

// A download that the host refuses never completes: the item's handler is
// told at once that no file came, as when the host cannot download at all.
TEST_F(DownloadRequests, DownloadTheHostRefusesIsAFailedDownload)
{
    host.downloadResult = 1;
    ExpectReports(host);

    // Start-up: the failure is shown and ends the start-up.
    GpcInstallItem* pItem = Add("a.dll;files/a.dll;;;;10;;;");
    EXPECT_EQ(1, mgr->ScheduleDownloads());
    ASSERT_EQ(1u, host.downloads.size());
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ(1, ext->m_bFailed);
    EXPECT_TRUE(trace.Contains(ReportText(6, "files/a.dll"))) << trace.Dump();
    EXPECT_TRUE(trace.Contains("The host refused to download ")) << trace.Dump();

    // On demand: the caller hears of the file (-1) and of the whole section.
    mgr->ClearItems();
    g_calls.clear();
    Add("b.dll;b.dll;;;;20;;;retry");
    EXPECT_EQ(1, mgr->ScheduleOdeDownloads("Sec", &RecordCall, nullptr));
    ASSERT_EQ(2u, g_calls.size());
    EXPECT_EQ(GPC_ODE_FILE_DONE, g_calls[0].kind);
    EXPECT_EQ("b.dll", g_calls[0].file);
    EXPECT_EQ(-1, g_calls[0].code);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, g_calls[1].kind);
    EXPECT_EQ(-1, g_calls[1].code);
}

TEST_F(DownloadRequests, NoticesReachTheCallerAndOnlyRealFailuresTheServer)
{
    ExpectReports(host);
    void* pContext = reinterpret_cast<void*>(static_cast<ULONG_PTR>(77));
    GpcDownloadJob* pJob = CreateDownloadJob(ext.get(), "Sec", &RecordCall, pContext);
    ASSERT_NE(nullptr, pJob);
    GpcOdeFileInfo info = {};
    struct {
        int nKind;
        const char* lpszName;
        int nCode;
        bool bReported;
    } cases[] = {
        {GPC_ODE_FILE_DONE, "a.dll", -3, true},  {GPC_ODE_FILE_DONE, "b.dll", 0, false},
        {GPC_ODE_FILE_DONE, "c.dll", -7, false}, {GPC_ODE_SECTION_DONE, nullptr, -2, false},
        {GPC_ODE_FILE_DONE, "d.dll", -100, true},
    };
    for (const auto& c : cases) {
        g_calls.clear();
        trace.Clear();
        NotifyDownloadJob(pJob, c.nKind, c.lpszName, "Sec", c.nCode, &info);
        ASSERT_EQ(1u, g_calls.size());
        EXPECT_EQ(pContext, g_calls[0].context);
        EXPECT_EQ(c.nKind, g_calls[0].kind);
        EXPECT_EQ(c.lpszName ? c.lpszName : "<null>", g_calls[0].file);
        EXPECT_EQ("Sec", g_calls[0].section);
        EXPECT_EQ(c.nCode, g_calls[0].code);
        EXPECT_EQ(&info, g_calls[0].info);
        EXPECT_EQ(c.bReported, trace.Contains(ReportText(c.nCode, c.lpszName ? c.lpszName : ""))) << trace.Dump();
        if (!c.bReported) {
            EXPECT_FALSE(trace.Contains("ErrorCode=")) << trace.Dump();
        }
    }
    DestroyDownloadJob(pJob);

    // No callback: failures are still reported; no owner: nothing is.
    GpcDownloadJob* pSilent = CreateDownloadJob(ext.get(), "Sec", nullptr, nullptr);
    trace.Clear();
    NotifyDownloadJob(pSilent, GPC_ODE_FILE_DONE, "e.dll", "Sec", -5, nullptr);
    EXPECT_TRUE(trace.Contains(ReportText(-5, "e.dll")));
    DestroyDownloadJob(pSilent);
    GpcDownloadJob* pOrphan = CreateDownloadJob(nullptr, "Sec", nullptr, nullptr);
    trace.Clear();
    NotifyDownloadJob(pOrphan, GPC_ODE_FILE_DONE, "f.dll", "Sec", -5, nullptr);
    EXPECT_FALSE(trace.Contains("ErrorCode="));
    DestroyDownloadJob(pOrphan);
    NotifyDownloadJob(nullptr, GPC_ODE_FILE_DONE, "g.dll", "Sec", -5, nullptr);
}

TEST_F(DownloadRequests, FileInfoCarriesTheNineManifestFields)
{
    GpcInstallItem* pItem = Add("a.dll;u/a.dll;%system%;1 2 3 4;11;22;r;version;ignore;2");
    GpcOdeFileInfo info;
    memset(&info, 0xCC, sizeof(info));
    FillOdeFileInfo(pItem, &info);
    EXPECT_STREQ("a.dll", info.lpszSourceName);
    EXPECT_STREQ("u/a.dll", info.lpszUrl);
    EXPECT_STREQ("%system%", info.lpszTarget);
    EXPECT_STREQ("1,2,3,4", info.lpszVersion);
    EXPECT_EQ(11u, info.dwFileSize);
    EXPECT_EQ(22u, info.dwCompressedSize);
    EXPECT_STREQ("r", info.lpszAction);
    EXPECT_STREQ("version", info.lpszUpdateControl);
    EXPECT_STREQ("ignore", info.lpszFailureControl);
    EXPECT_EQ(nullptr, info.lpszUnpackedFile);

    GpcInstallItem* pBare = Add("b.dll");
    FillOdeFileInfo(pBare, &info);
    EXPECT_STREQ("b.dll", info.lpszSourceName);
    EXPECT_EQ(nullptr, info.lpszUrl);
    EXPECT_EQ(nullptr, info.lpszFailureControl);
    EXPECT_EQ(0u, info.dwFileSize);
}

// ---------------------------------------------------------------------------
// The installation log

TEST_F(InstallLog, RootKeyFallsBackToTheDefaultProductName)
{
    std::string own = UniqueName("GpcAcme");
    struct {
        const char* lpszRoot;  // null: absent
        std::string rootKey;
        std::string logPath;  // below the root key; "%t" stands for the tag
    } cases[] = {
        {nullptr, "SOFTWARE\\Brindlemark\\Deinstall", "%t\\2.1"},
        {"", "SOFTWARE\\Brindlemark\\Deinstall", "%t\\2.1"},
        {"Corvo", "SOFTWARE\\Brindlemark\\Deinstall", "%t\\Corvo\\2.1"},
        {"cORVO", "SOFTWARE\\Brindlemark\\Deinstall", "%t\\cORVO\\2.1"},
        {own.c_str(), "SOFTWARE\\" + own + "\\Deinstall", "%t\\" + own + "\\2.1"},
    };
    CleanUp("SOFTWARE\\" + own);
    for (const auto& c : cases) {
        std::string tag = UniqueName("GpcTag");
        std::string logPath = c.logPath;
        logPath.replace(logPath.find("%t"), 2, tag);
        CleanUp(c.rootKey + "\\" + tag);
        trace.Clear();

        EXPECT_EQ(1, mgr->LogMgr->OpenLogRoot("C:\\Prod\\2.1", tag.c_str(), c.lpszRoot, "2.1"))
            << (c.lpszRoot ? c.lpszRoot : "<absent>");
        EXPECT_EQ("C:\\Prod\\2.1", ReadRegString(HKEY_LOCAL_MACHINE, c.rootKey + "\\" + logPath, "DefInstallDir"))
            << logPath;
        std::string line = std::string("keyLogRoot: 2.1,") + (c.lpszRoot ? c.lpszRoot : "") + "," + logPath + ",0," +
                           c.rootKey;
        EXPECT_TRUE(trace.HasLine(line)) << line << "\n" << trace.Dump();
    }
}

TEST_F(InstallLog, LogKeyPathIsMadeOfTheGivenParts)
{
    std::string root = UniqueName("GpcLogRoot");
    std::string rootKey = "SOFTWARE\\" + root + "\\Deinstall";
    std::string bareTag = UniqueName("NS_");
    CleanUp("SOFTWARE\\" + root);
    CleanUp("SOFTWARE\\Brindlemark\\Deinstall\\" + bareTag);
    struct {
        const char* lpszTag;
        bool bRoot;
        const char* lpszVersion;
        std::string path;
    } cases[] = {
        {"Internet Explorer", true, "2.1", "Internet Explorer\\" + root + "\\2.1"},
        {"NS5.0", true, nullptr, "NS5.0\\" + root},
        {nullptr, true, "2.1", root + "\\2.1"},
        {nullptr, true, nullptr, root},
        {bareTag.c_str(), false, nullptr, bareTag},
    };
    for (const auto& c : cases) {
        std::string dirValue = "D:\\" + c.path;
        trace.Clear();
        ASSERT_EQ(1, mgr->LogMgr->OpenLogRoot(dirValue.c_str(), c.lpszTag, c.bRoot ? root.c_str() : nullptr,
                                              c.lpszVersion));
        // Without a root the default root key is used; only the own-root cases are read back here.
        if (!c.bRoot) {
            std::string key = "SOFTWARE\\Brindlemark\\Deinstall\\" + c.path;
            EXPECT_EQ(dirValue, ReadRegString(HKEY_LOCAL_MACHINE, key, "DefInstallDir"));
            continue;
        }
        EXPECT_EQ(dirValue, ReadRegString(HKEY_LOCAL_MACHINE, rootKey + "\\" + c.path, "DefInstallDir")) << c.path;
        std::string line = std::string("keyLogRoot: ") + (c.lpszVersion ? c.lpszVersion : "") + "," + root + "," +
                           c.path + ",0," + rootKey;
        EXPECT_TRUE(trace.HasLine(line)) << line << "\n" << trace.Dump();
    }
}

TEST_F(InstallLog, WithoutAnyPartTheRootKeyItselfIsTheLogKey)
{
    // The default root is shared by every test: its value is put back.
    bool bHad = false;
    std::string old = ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brindlemark\\Deinstall", "DefInstallDir", &bHad);
    std::string dirValue = "C:\\" + UniqueName("Root");
    ASSERT_EQ(1, mgr->LogMgr->OpenLogRoot(dirValue.c_str(), nullptr, nullptr, nullptr));
    EXPECT_EQ(dirValue, ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brindlemark\\Deinstall", "DefInstallDir"));
    if (bHad) WriteRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brindlemark\\Deinstall", "DefInstallDir", old);
}

TEST_F(InstallLog, EachInstalledFileIsOneValueAndWritingAgainReplacesIt)
{
    std::string root = UniqueName("GpcLogW");
    std::string key = "SOFTWARE\\" + root + "\\Deinstall\\IE\\" + root;
    CleanUp("SOFTWARE\\" + root);
    ASSERT_EQ(1, mgr->LogMgr->OpenLogRoot(dir.c_str(), "IE", root.c_str(), nullptr));

    GpcInstallItem* pItem = Add("Viewer.dll;u;;;;;;;");
    trace.Clear();
    EXPECT_EQ(1, mgr->LogMgr->WriteLog(mgr, pItem));
    EXPECT_EQ(dir + "\\Viewer.dll", ReadRegString(HKEY_LOCAL_MACHINE, key, "Viewer.dll"));
    EXPECT_TRUE(trace.HasLine("Write log:" + dir + "\\Viewer.dll,Viewer.dll")) << trace.Dump();
    EXPECT_EQ(0u, trace.Texts()[0].find("LogRoot = "));
    EXPECT_NE("LogRoot = 0", trace.Texts()[0]);

    pItem->Target.Assign("Sub");
    EXPECT_EQ(1, mgr->LogMgr->WriteLog(mgr, pItem));
    EXPECT_EQ(dir + "\\Sub\\Viewer.dll", ReadRegString(HKEY_LOCAL_MACHINE, key, "Viewer.dll"));
}

TEST_F(InstallLog, UnwritableMachineKeyKeepsTheLogUnderTheUser)
{
    struct {
        const char* name;
        PFN_GpcOpenLogRootKey pfnOpen;  // null: the real one
        HKEY hExpected;                 // null: no log anywhere
    } cases[] = {
        {"machine writable", nullptr, HKEY_LOCAL_MACHINE},
        {"machine refused", &MachineHiveRefused, HKEY_CURRENT_USER},
        {"both refused", &EveryHiveRefused, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string root = UniqueName("GpcLogU");
        std::string key = "SOFTWARE\\" + root + "\\Deinstall\\IE\\" + root + "\\2.1";
        CleanUp("SOFTWARE\\" + root);
        g_pfnRealLogRootOpen = SetLogRootOpenForTesting(c.pfnOpen);
        trace.Clear();
        CVRGpcLogMgr log;
        int nOpened = log.OpenLogRoot(dir.c_str(), "IE", root.c_str(), "2.1");
        GpcInstallItem* pItem = Add("Viewer.dll;u;;;;;;;");
        int nWritten = log.WriteLog(mgr, pItem);
        SetLogRootOpenForTesting(nullptr);

        EXPECT_EQ(c.hExpected ? 1 : 0, nOpened);
        EXPECT_EQ(c.hExpected ? 1 : 0, nWritten);
        for (HKEY hHive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            bool bFound = false;
            std::string value = ReadRegString(hHive, key, "Viewer.dll", &bFound);
            EXPECT_EQ(hHive == c.hExpected, bFound) << (hHive == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU");
            if (hHive == c.hExpected) {
                EXPECT_EQ(dir + "\\Viewer.dll", value);
                EXPECT_EQ(dir, ReadRegString(hHive, key, "DefInstallDir"));
            }
        }
        bool bRefused = c.pfnOpen != nullptr;
        EXPECT_EQ(bRefused, trace.HasLine("keyLogRoot: HKEY_LOCAL_MACHINE\\SOFTWARE\\" + root +
                                          "\\Deinstall can not be written (5)"))
            << trace.Dump();
        EXPECT_EQ(c.hExpected != nullptr,
                  trace.HasLine("keyLogRoot: 2.1," + root + ",IE\\" + root + "\\2.1,0,SOFTWARE\\" + root + "\\Deinstall"))
            << trace.Dump();
    }
}

TEST_F(InstallLog, ClosedLogWritesNothing)
{
    CVRGpcLogMgr log;
    GpcInstallItem* pItem = Add("a.dll;u;;;;;;;");
    trace.Clear();
    EXPECT_EQ(0, log.WriteLog(mgr, pItem));
    EXPECT_TRUE(trace.HasLine("LogRoot = 0")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("Write log:"));
}

// ---------------------------------------------------------------------------
// Registrations around the main component

namespace {

// Items whose program action fails to start: nothing is at their path.
const char GPC_FAILING[] = ";u;;;;;e;;";
const char GPC_FAILING_IGNORED[] = ";u;;;;;e;;ignore";

}  // namespace

TEST_F(ComponentActions, RegistrationFailureBeforeTheMainComponentStopsItsLoading)
{
    ExpectReports(host);
    GpcInstallItem* pBroken = Add(std::string("broken.exe") + GPC_FAILING);
    GpcInstallItem* pMain = Add("main.dll;u;;;;;;;");
    pBroken->State = ITEM_INSTALLED;
    pMain->State = ITEM_INSTALLED;

    EXPECT_EQ(0, mgr->DoActionsForMainComponent("MAIN.DLL"));
    EXPECT_EQ(ITEM_FAILED, pBroken->State);
    EXPECT_EQ(ITEM_INSTALLED, pMain->State);
    EXPECT_TRUE(trace.HasLine("DoActionsForMainComponent: IGNORE = 1")) << trace.Dump();
    EXPECT_TRUE(trace.Contains(ReportText(9, InstallPath(pBroken)))) << trace.Dump();
}

TEST_F(ComponentActions, IgnoredRegistrationFailureLetsTheMainComponentLoad)
{
    ExpectReports(host);
    GpcInstallItem* pBroken = Add(std::string("broken.exe") + GPC_FAILING_IGNORED);
    GpcInstallItem* pMain = Add("main.dll;u;;;;;;;");
    GpcInstallItem* pAfter = Add("after.dll;u;;;;;;;");
    for (GpcInstallItem* p : {pBroken, pMain, pAfter}) p->State = ITEM_INSTALLED;

    EXPECT_EQ(1, mgr->DoActionsForMainComponent("main.dll"));
    EXPECT_EQ(ITEM_FAILED, pBroken->State);
    EXPECT_EQ(ITEM_DONE, pMain->State);
    // Items after the main component wait for the second pass.
    EXPECT_EQ(ITEM_INSTALLED, pAfter->State);
    EXPECT_TRUE(trace.Contains(ReportText(9, InstallPath(pBroken))));
    EXPECT_FALSE(trace.Contains("IGNORE = 1"));
}

TEST_F(ComponentActions, UnknownMainComponentRegistersEveryInstalledItem)
{
    GpcInstallItem* pA = Add("a.dll;u;;;;;;;");
    GpcInstallItem* pB = Add("b.dll;u;;;;;;;");
    GpcInstallItem* pC = Add("c.dll;u;;;;;;;");
    pA->State = ITEM_INSTALLED;
    pB->State = ITEM_DOWNLOADING;
    pC->State = ITEM_INSTALLED;
    EXPECT_EQ(1, mgr->DoActionsForMainComponent("none.dll"));
    EXPECT_EQ(ITEM_DONE, pA->State);
    EXPECT_EQ(ITEM_DOWNLOADING, pB->State);
    EXPECT_EQ(ITEM_DONE, pC->State);
    EXPECT_EQ(1, mgr->DoActionsForMainComponent(nullptr));
}

TEST_F(ComponentActions, SecondPassRegistersOnlyWhatFollowsTheMainComponent)
{
    ExpectReports(host);
    GpcInstallItem* pBefore = Add("before.dll;u;;;;;;;");
    GpcInstallItem* pMain = Add("main.dll;u;;;;;;;");
    GpcInstallItem* pBroken = Add(std::string("broken.exe") + GPC_FAILING);
    GpcInstallItem* pLast = Add("last.dll;u;;;;;;;");
    GpcInstallItem* pSecondMain = Add("main.dll;u;;;;;;;");
    for (GpcInstallItem* p : {pBefore, pMain, pBroken, pLast, pSecondMain}) p->State = ITEM_INSTALLED;

    mgr->DoActionsAfterMainComponent("Main.dll");

    EXPECT_EQ(ITEM_INSTALLED, pBefore->State);
    EXPECT_EQ(ITEM_INSTALLED, pMain->State);
    EXPECT_EQ(ITEM_FAILED, pBroken->State);
    // A failure is shown and the pass goes on.
    EXPECT_EQ(ITEM_DONE, pLast->State);
    EXPECT_EQ(ITEM_DONE, pSecondMain->State);
    EXPECT_TRUE(trace.Contains(ReportText(9, InstallPath(pBroken)))) << trace.Dump();

    // Without the main component in the list nothing happens.
    pBefore->State = ITEM_INSTALLED;
    mgr->DoActionsAfterMainComponent("absent.dll");
    EXPECT_EQ(ITEM_INSTALLED, pBefore->State);
}
