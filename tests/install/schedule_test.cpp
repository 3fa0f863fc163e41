// Which items are downloaded: the start-up pass and the on-demand pass with
// its job, the "redirect" shortcuts and the printer-driver recovery.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "support/environment.h"

namespace {

using Scheduling = InstallTest;

struct Notice {
    void* context;
    int kind;
    std::string file;  // "<null>" when none
    std::string section;
    int result;
    bool hasInfo;
    std::string infoSource;
    std::string infoFailureControl;
    DWORD infoFileSize;
    bool infoUnpackedNull;
};

std::vector<Notice> g_notices;

const char* NullText(const char* p)
{
    return p ? p : "<null>";
}

void WINAPI RecordNotice(void* pContext, int nKind, const char* lpszFile, const char* lpszSection, int nResult,
                         GpcOdeFileInfo* pInfo)
{
    Notice n;
    n.context = pContext;
    n.kind = nKind;
    n.file = NullText(lpszFile);
    n.section = NullText(lpszSection);
    n.result = nResult;
    n.hasInfo = pInfo != nullptr;
    n.infoSource = pInfo ? NullText(pInfo->lpszSourceName) : "";
    n.infoFailureControl = pInfo ? NullText(pInfo->lpszFailureControl) : "";
    n.infoFileSize = pInfo ? pInfo->dwFileSize : 0;
    n.infoUnpackedNull = pInfo ? pInfo->lpszUnpackedFile == nullptr : true;
    g_notices.push_back(n);
}

void* const GPC_CONTEXT = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x5EC7));

// A host that has every file at hand: it completes each download before
// HostDownloadUrl returns.
std::string g_syncFile;
int WINAPI DownloadAtOnce(GpcCookie, GpcDownloadCallback pfnCallback, void* pContext, const char* lpszUrl)
{
    if (FakeHost::Current()) {
        FakeHost::Download d;
        d.cookie = nullptr;
        d.callback = pfnCallback;
        d.context = pContext;
        d.url = lpszUrl;
        d.completed = true;
        FakeHost::Current()->downloads.push_back(d);
    }
    pfnCallback(nullptr, pContext, 1, 10);
    pfnCallback(nullptr, pContext, 0, reinterpret_cast<ULONG_PTR>(g_syncFile.c_str()));
    return 0;
}

bool IsRandomUrl(const std::string& url, const std::string& base)
{
    std::string prefix = base + "?random=";
    if (url.compare(0, prefix.size(), prefix) != 0 || url.size() == prefix.size()) return false;
    return url.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
}


class OdeScheduling : public InstallTest {
protected:
    void SetUp() override
    {
        InstallTest::SetUp();
        g_notices.clear();
        // The update settings are read below this product's own key.
        root = UniqueName("GpcOdeRoot");
        host.SetParam("GpcProductRoot", root);
        host.SetParam("GpcProductVersion", "3.0");
        settingsKey = "Software\\" + root + "\\3.0";
    }
    void TearDown() override
    {
        DeleteRegTree(HKEY_CURRENT_USER, "Software\\" + root);
        InstallTest::TearDown();
    }
    std::string root;
    std::string settingsKey;
};

}  // namespace

// ---------------------------------------------------------------------------
// Start-up pass

TEST_F(Scheduling, OnlyMissingAndOutdatedFilesAreRequestedFromTheHost)
{
    GpcInstallItem* pMissing = Add("missing.dll;bin/missing.dll;;;;100;;;");
    GpcInstallItem* pCurrent = Add("current.dll;c.dll;;;4;20;;size;");
    GpcInstallItem* pOld = Add("old.dll;o.dll;;;9;30;;SIZE;");
    GpcInstallItem* pPresent = Add("present.dll;p.dll;;;;40;;existence;");
    GpcInstallItem* pNoRule = Add("norule.dll;n.dll;;;;50;;;");
    for (GpcInstallItem* p : {pCurrent, pOld, pPresent, pNoRule}) WriteFileBytes(InstallPath(p), "1234");

    EXPECT_EQ(1, mgr->ScheduleDownloads());

    EXPECT_EQ(ITEM_DOWNLOADING, pMissing->State);
    EXPECT_EQ(ITEM_INSTALLED, pCurrent->State);
    EXPECT_EQ(ITEM_DOWNLOADING, pOld->State);
    EXPECT_EQ(ITEM_INSTALLED, pPresent->State);
    EXPECT_EQ(ITEM_DOWNLOADING, pNoRule->State);

    ASSERT_EQ(3u, host.downloads.size());
    EXPECT_TRUE(IsRandomUrl(host.downloads[0].url, "http://127.0.0.1/files/bin/missing.dll")) << host.downloads[0].url;
    EXPECT_TRUE(IsRandomUrl(host.downloads[1].url, "http://127.0.0.1/files/o.dll")) << host.downloads[1].url;
    EXPECT_TRUE(IsRandomUrl(host.downloads[2].url, "http://127.0.0.1/files/n.dll")) << host.downloads[2].url;
    EXPECT_EQ(static_cast<void*>(pMissing), CGpcLiveContext::Find(host.downloads[0].context, GPC_LIVE_ITEM));
    EXPECT_EQ(static_cast<void*>(pOld), CGpcLiveContext::Find(host.downloads[1].context, GPC_LIVE_ITEM));
    for (const FakeHost::Download& d : host.downloads) {
        EXPECT_EQ(&CVRGpcExtension::OnItemDownload, d.callback);
        EXPECT_EQ(host.Cookie(), d.cookie);
    }
    EXPECT_EQ(180u, mgr->TotalBytes);
    EXPECT_NE(0u, mgr->StartTick);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(trace.HasLine("Count=5, item=" + std::to_string(i))) << trace.Dump();
    EXPECT_TRUE(trace.HasLine("CVRGpcInstallationMgr::PrepareDownload Down file=" + host.downloads[2].url +
                              ", TotalSize=180"))
        << trace.Dump();
}

TEST_F(Scheduling, CurrentButBusyFileRemovesTheOldRedirectedCopy)
{
    GpcInstallItem* pWithCopy = Add("a.dll;u;Sub;;4;;;size;redirect");
    GpcInstallItem* pWithout = Add("b.dll;u;Sub;;4;;;size;redirect");
    GpcInstallItem* pFree = Add("c.dll;u;Sub;;4;;;size;redirect");
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    for (GpcInstallItem* p : {pWithCopy, pWithout, pFree}) WriteFileBytes(InstallPath(p), "1234");
    WriteFileBytes(RedirectPath(pWithCopy), "COPY");
    WriteFileBytes(RedirectPath(pFree), "COPY");
    {
        BusyFile busy1(InstallPath(pWithCopy));
        BusyFile busy2(InstallPath(pWithout));
        EXPECT_EQ(1, mgr->ScheduleDownloads());
    }
    for (GpcInstallItem* p : {pWithCopy, pWithout, pFree}) EXPECT_EQ(ITEM_INSTALLED, p->State);
    EXPECT_TRUE(host.downloads.empty());
    EXPECT_FALSE(PathExists(RedirectPath(pWithCopy)));
    EXPECT_TRUE(trace.HasLine("Delete the previous redirected file: (1)," + RedirectPath(pWithCopy))) << trace.Dump();
    EXPECT_TRUE(trace.HasLine("Delete the previous redirected file: (0)," + RedirectPath(pWithout)));
    // The installed file can be written: the copy is left for later.
    EXPECT_TRUE(PathExists(RedirectPath(pFree)));
    EXPECT_FALSE(trace.Contains(RedirectPath(pFree)));
}

// Where the redirect path is the install path itself (no Target of its own,
// or one that names the default directory), the current file that another
// program reads (an indexer, a backup) is the installed file, not an old
// redirected copy: it stays.
TEST_F(Scheduling, CurrentBusyFileThatIsItsOwnRedirectPathIsKept)
{
    std::string upperDir = dir;
    CharUpperA(&upperDir[0]);
    const char* targets[] = {"", ".", upperDir.c_str()};
    int n = 0;
    for (const char* lpszTarget : targets) {
        std::string name = "same" + std::to_string(++n) + ".dll";
        GpcInstallItem* pItem = Add(name + ";u;" + lpszTarget + ";;4;;;size;redirect");
        std::string path = InstallPath(pItem);
        WriteFileBytes(path, "1234");
        trace.Clear();
        {
            // Read access, sharing reading and deletion but not writing.
            HANDLE hReader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, hReader) << path;
            EXPECT_EQ(1, mgr->ScheduleDownloads());
            CloseHandle(hReader);
        }
        EXPECT_EQ(ITEM_INSTALLED, pItem->State) << lpszTarget;
        EXPECT_EQ("1234", ReadFileBytes(path)) << lpszTarget;
        EXPECT_FALSE(trace.Contains("Delete the previous redirected file: (1)")) << lpszTarget << trace.Dump();
        mgr->ClearItems();
    }
    EXPECT_TRUE(host.downloads.empty());
}

// The classic file API cannot open paths of 128 characters or more; such a
// path is asked the same question another way instead of counting as busy.
TEST_F(Scheduling, LongInstallPathIsTestedForWritingLikeAShortOne)
{
    std::string sub(110, 's');
    GpcInstallItem* pFree = Add("a.dll;u;" + sub + ";;4;;;size;redirect");
    GpcInstallItem* pBusy = Add("b.dll;u;" + sub + ";;4;;;size;redirect");
    CreateDirectoryA((dir + "\\" + sub).c_str(), nullptr);
    ASSERT_GE(InstallPath(pFree).size(), static_cast<size_t>(OFS_MAXPATHNAME));
    for (GpcInstallItem* p : {pFree, pBusy}) {
        WriteFileBytes(InstallPath(p), "1234");
        WriteFileBytes(RedirectPath(p), "COPY");
    }
    {
        BusyFile busy(InstallPath(pBusy));
        EXPECT_EQ(1, mgr->ScheduleDownloads());
    }
    EXPECT_EQ(ITEM_INSTALLED, pFree->State);
    EXPECT_EQ(ITEM_INSTALLED, pBusy->State);
    EXPECT_TRUE(PathExists(RedirectPath(pFree)));
    EXPECT_FALSE(PathExists(RedirectPath(pBusy)));
}

TEST_F(Scheduling, BusyOutdatedFileWithCurrentRedirectedCopyNeedsNoDownload)
{
    GpcInstallItem* pCurrentCopy = Add("a.dll;u;Sub;;4;;;size;redirect");
    GpcInstallItem* pOldCopy = Add("b.dll;u;Sub;;4;;;size;redirect");
    GpcInstallItem* pNoRedirect = Add("c.dll;u;Sub;;4;;;size;reboot");
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    for (GpcInstallItem* p : {pCurrentCopy, pOldCopy, pNoRedirect}) {
        WriteFileBytes(InstallPath(p), "OLDFILE");
        WriteFileBytes(RedirectPath(p), "1234");
    }
    WriteFileBytes(RedirectPath(pOldCopy), "OLDCOPY");
    {
        BusyFile busy1(InstallPath(pCurrentCopy));
        BusyFile busy2(InstallPath(pOldCopy));
        BusyFile busy3(InstallPath(pNoRedirect));
        EXPECT_EQ(1, mgr->ScheduleDownloads());
    }
    EXPECT_EQ(ITEM_INSTALLED, pCurrentCopy->State);
    EXPECT_EQ(ITEM_DOWNLOADING, pOldCopy->State);
    EXPECT_EQ(ITEM_DOWNLOADING, pNoRedirect->State);
    EXPECT_EQ(2u, host.downloads.size());
}

TEST_F(Scheduling, MissingFileThatCannotBeCreatedUsesACurrentRedirectedCopy)
{
    // "Blocked" is a file, so nothing can be created below it.
    WriteFileBytes(dir + "\\Blocked", "x");
    GpcInstallItem* pBlockedCurrent = Add("a.dll;u;Blocked;;4;;;size;redirect");
    GpcInstallItem* pBlockedMissing = Add("b.dll;u;Blocked;;4;;;size;redirect");
    GpcInstallItem* pCreatable = Add("c.dll;u;;;4;;;size;redirect");
    GpcInstallItem* pCreatableSub = Add("d.dll;u;Sub;;4;;;size;redirect");
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(RedirectPath(pBlockedCurrent), "1234");
    WriteFileBytes(RedirectPath(pCreatableSub), "1234");

    EXPECT_EQ(1, mgr->ScheduleDownloads());

    EXPECT_EQ(ITEM_INSTALLED, pBlockedCurrent->State);
    EXPECT_EQ(ITEM_DOWNLOADING, pBlockedMissing->State);
    EXPECT_EQ(ITEM_DOWNLOADING, pCreatable->State);
    EXPECT_EQ(ITEM_DOWNLOADING, pCreatableSub->State);
    // The creation test leaves nothing behind.
    EXPECT_FALSE(PathExists(InstallPath(pCreatableSub)));
    EXPECT_EQ(3u, host.downloads.size());
}

TEST_F(Scheduling, MissingPrinterDriverFileIsRestoredFromTheSpoolerCopy)
{
    std::string drivers = PrinterDriverDir();
    ASSERT_FALSE(drivers.empty());
    std::string versioned = drivers + "\\3";
    CreateDirectoryA(versioned.c_str(), nullptr);
    std::string name = UniqueName("gpcrest") + ".dat";
    WriteFileBytes(versioned + "\\" + name, "SPOOLER COPY");
    std::string absent = UniqueName("gpcabs") + ".dat";

    GpcInstallItem* pRestored = Add(name + ";u;%pdriver%;;;;;;");
    GpcInstallItem* pAbsent = Add(absent + ";u;%pdriver%;;;;;;");
    EXPECT_EQ(1, mgr->ScheduleDownloads());

    EXPECT_EQ(ITEM_DONE, pRestored->State);
    EXPECT_EQ("SPOOLER COPY", ReadFileBytes(drivers + "\\" + name));
    EXPECT_EQ(ITEM_DOWNLOADING, pAbsent->State);
    ASSERT_EQ(1u, host.downloads.size());
    EXPECT_EQ(static_cast<void*>(pAbsent), CGpcLiveContext::Find(host.downloads[0].context, GPC_LIVE_ITEM));

    DeleteFileA((drivers + "\\" + name).c_str());
    DeleteFileA((versioned + "\\" + name).c_str());
}

TEST_F(Scheduling, ProgressWindowOpensOnceUnlessSuppressed)
{
    // Any letter case of "True" suppresses it; bytes are counted anyway.
    host.SetParam("GpcSuppressProgressBar", "tRUE");
    Add("a.dll;a.dll;;;;10;;;");
    Add("b.dll;b.dll;;;;20;;;");
    EXPECT_EQ(1, mgr->ScheduleDownloads());
    EXPECT_EQ(nullptr, mgr->ProgressWindow);
    EXPECT_EQ(30u, mgr->TotalBytes);
    EXPECT_EQ(2u, host.downloads.size());
}

TEST_F(Scheduling, ProgressWindowTakesTheTitleFromThePage)
{
    host.SetParam("GpcSuppressProgressBar", "yes");
    host.SetParam("GpcProgressBarTitle", "Fetching parts");
    Add("a.dll;a.dll;;;;10;;;");
    Add("b.dll;b.dll;;;;20;;;");
    EXPECT_EQ(1, mgr->ScheduleDownloads());
    HWND hWnd = mgr->ProgressWindow;
    if (!hWnd) GTEST_SKIP() << "no progress window could be made here";
    char achTitle[128] = "";
    GetWindowTextA(hWnd, achTitle, sizeof(achTitle));
    EXPECT_STREQ("Fetching parts", achTitle);
    // The second request found the window open and made no other.
    EXPECT_EQ(hWnd, mgr->ProgressWindow);
}

// ---------------------------------------------------------------------------
// On-demand pass

TEST_F(OdeScheduling, CurrentFilesAreReportedAndTheOthersBecomeTheJob)
{
    GpcInstallItem* pCurrent = Add("current.dll;c.dll;;1,0;4;20;;size;ignore");
    GpcInstallItem* pMissing = Add("missing.dll;m.dll;;;;100;;;");
    WriteFileBytes(InstallPath(pCurrent), "1234");

    EXPECT_EQ(1, mgr->ScheduleOdeDownloads("Extras", &RecordNotice, GPC_CONTEXT));

    EXPECT_EQ(0, mgr->GetItemCount());
    ASSERT_EQ(1u, g_notices.size());
    EXPECT_EQ(GPC_CONTEXT, g_notices[0].context);
    EXPECT_EQ(GPC_ODE_FILE_DONE, g_notices[0].kind);
    EXPECT_EQ("current.dll", g_notices[0].file);
    EXPECT_EQ("Extras", g_notices[0].section);
    EXPECT_EQ(0, g_notices[0].result);
    ASSERT_TRUE(g_notices[0].hasInfo);
    EXPECT_EQ("current.dll", g_notices[0].infoSource);
    EXPECT_EQ("ignore", g_notices[0].infoFailureControl);
    EXPECT_EQ(4u, g_notices[0].infoFileSize);
    EXPECT_TRUE(g_notices[0].infoUnpackedNull);

    ASSERT_EQ(1u, host.downloads.size());
    EXPECT_EQ(static_cast<void*>(pMissing), CGpcLiveContext::Find(host.downloads[0].context, GPC_LIVE_ITEM));
    EXPECT_EQ(&CVRGpcExtension::OnStdItemDownload, host.downloads[0].callback);
    EXPECT_TRUE(IsRandomUrl(host.downloads[0].url, "http://127.0.0.1/files/m.dll")) << host.downloads[0].url;
    EXPECT_EQ(ITEM_DOWNLOADING, pMissing->State);
    GpcDownloadJob* pJob = pMissing->Job;
    ASSERT_NE(nullptr, pJob);
    EXPECT_EQ(1, pJob->PendingItems.GetCount());
    EXPECT_EQ(100u, pJob->TotalBytes);

    // The download ends the job: one file notice, then the section notice.
    host.Complete(0, Download("NEW").c_str());
    ASSERT_EQ(3u, g_notices.size());
    EXPECT_EQ(GPC_ODE_FILE_DONE, g_notices[1].kind);
    EXPECT_EQ("missing.dll", g_notices[1].file);
    EXPECT_EQ(0, g_notices[1].result);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, g_notices[2].kind);
    EXPECT_EQ("<null>", g_notices[2].file);
    EXPECT_FALSE(g_notices[2].hasInfo);
}

TEST_F(OdeScheduling, NothingToDownloadFinishesTheSectionAtOnce)
{
    for (bool bEmpty : {false, true}) {
        g_notices.clear();
        if (!bEmpty) {
            GpcInstallItem* pItem = Add("a.dll;a.dll;;;;;;existence;");
            WriteFileBytes(InstallPath(pItem), "x");
        }
        EXPECT_EQ(1, mgr->ScheduleOdeDownloads("Sec", &RecordNotice, GPC_CONTEXT));
        ASSERT_EQ(bEmpty ? 1u : 2u, g_notices.size());
        const Notice& last = g_notices.back();
        EXPECT_EQ(GPC_ODE_SECTION_DONE, last.kind);
        EXPECT_EQ("<null>", last.file);
        EXPECT_EQ("Sec", last.section);
        EXPECT_EQ(0, last.result);
        EXPECT_FALSE(last.hasInfo);
        EXPECT_TRUE(host.downloads.empty());
        EXPECT_EQ(0, mgr->GetItemCount());
    }
}

TEST_F(OdeScheduling, KeepingInstalledFilesReportsEveryItemDoneWithoutDownloading)
{
    WriteRegString(HKEY_CURRENT_USER, settingsKey, "autoupdate", "0");
    Add("a.dll;a.dll;;;;;;;");
    Add("b.dll;b.dll;;;;;;version;");
    EXPECT_EQ(1, mgr->ScheduleOdeDownloads("Sec", &RecordNotice, GPC_CONTEXT));
    ASSERT_EQ(3u, g_notices.size());
    EXPECT_EQ("a.dll", g_notices[0].file);
    EXPECT_EQ("b.dll", g_notices[1].file);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(GPC_ODE_FILE_DONE, g_notices[i].kind);
        EXPECT_EQ(0, g_notices[i].result);
    }
    EXPECT_EQ(GPC_ODE_SECTION_DONE, g_notices[2].kind);
    EXPECT_TRUE(host.downloads.empty());
    EXPECT_FALSE(PathExists(dir + "\\a.dll"));
}

TEST_F(OdeScheduling, HaltedRequestLeavesTheCallbackForTheHeartbeat)
{
    // Only the standard-download mode has a heartbeat that answers it. That
    // mode reads "Software\<version>": a version name of this test's own
    // keeps the key private.
    ext->m_bStdDownload = 1;
    host.SetParam("GpcProductVersion", root);
    WriteRegString(HKEY_CURRENT_USER, "Software\\" + root, "autoupdate", "0");
    WriteRegString(HKEY_CURRENT_USER, "Software\\" + root, "alwaysconnect", "0");
    Add("a.dll;a.dll;;;;;;;");
    EXPECT_EQ(0, mgr->ScheduleOdeDownloads("Sec", &RecordNotice, GPC_CONTEXT));
    EXPECT_EQ(&RecordNotice, ext->m_pfnOdeFailureCallback);
    EXPECT_EQ(0, mgr->GetItemCount());
    EXPECT_TRUE(g_notices.empty());
    EXPECT_TRUE(host.downloads.empty());
}

TEST_F(OdeScheduling, HaltedRequestBesideAStartupIsAnsweredAtOnceAndFailsNothing)
{
    WriteRegString(HKEY_CURRENT_USER, settingsKey, "autoupdate", "0");
    WriteRegString(HKEY_CURRENT_USER, settingsKey, "alwaysconnect", "0");
    Add("a.dll;a.dll;;;;;;;");
    EXPECT_EQ(0, mgr->ScheduleOdeDownloads("Sec", &RecordNotice, GPC_CONTEXT));
    ASSERT_EQ(1u, g_notices.size());
    EXPECT_EQ(nullptr, g_notices[0].context);
    EXPECT_EQ(GPC_ODE_FILE_DONE, g_notices[0].kind);
    EXPECT_EQ(-1, g_notices[0].result);
    EXPECT_EQ(0, ext->m_bFailed);
    EXPECT_EQ(nullptr, ext->m_pfnOdeFailureCallback);
    EXPECT_EQ(0, mgr->GetItemCount());
    EXPECT_TRUE(host.downloads.empty());
}

// A host that completes downloads inside HostDownloadUrl must not end the
// job while the pass is still handing it items.
TEST_F(OdeScheduling, HostThatCompletesDownloadsAtOnceEndsTheJobExactlyOnce)
{
    g_syncFile = Download("NEW");
    host.Table()->HostDownloadUrl = &DownloadAtOnce;
    Add("a.dll;a.dll;;;;10;;;");
    Add("b.dll;b.dll;;;;20;;;redirect");
    Add("c.dll;c.dll;;;;30;;;");

    EXPECT_EQ(1, mgr->ScheduleOdeDownloads("Sync", &RecordNotice, GPC_CONTEXT));

    EXPECT_EQ(3u, host.downloads.size());
    std::vector<std::string> finished;
    int nSectionNotices = 0;
    for (const Notice& n : g_notices) {
        if (n.kind == GPC_ODE_FILE_DONE) finished.push_back(n.file);
        if (n.kind == GPC_ODE_SECTION_DONE) {
            ++nSectionNotices;
            EXPECT_EQ(0, n.result);
            EXPECT_EQ("Sync", n.section);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"a.dll", "b.dll", "c.dll"}), finished);
    EXPECT_EQ(1, nSectionNotices);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, g_notices.back().kind);
    int nFinished = 0;
    for (const std::string& t : trace.Texts()) nFinished += t == "StdDownload Finished" ? 1 : 0;
    EXPECT_EQ(1, nFinished);
    for (const char* name : {"a.dll", "b.dll", "c.dll"}) EXPECT_EQ("NEW", ReadFileBytes(dir + "\\" + name));
}

// ---------------------------------------------------------------------------
// What an interrupted run left behind

namespace {

// A temporary folder of the test's own (TMP and TEMP point there).
class PrivateTempFolder {
public:
    explicit PrivateTempFolder(const std::string& folder)
        : path(folder), m_tmp("TMP", folder.c_str()), m_temp("TEMP", folder.c_str())
    {
    }
    std::string path;

private:
    ScopedEnv m_tmp;
    ScopedEnv m_temp;
};

}  // namespace

// Only names the library makes, in the folders where it makes them, go: a
// "VR" file beside an item's destination (the product folder too when an
// item may be redirected there), a "VRK" manifest copy in the temporary
// folder, a "WT" write test in the product folder. Look-alike names, other
// folders, the temporary folder's "VR" files (a restart may be waiting to
// move one) and a file that its maker still holds open all stay.
TEST_F(Scheduling, LeftoversOfAnInterruptedRunAreRemovedAndNothingElse)
{
    PrivateTempFolder temp(workDir + "\\temp");
    CreateDirectoryA(temp.path.c_str(), nullptr);
    Add("a.dll;u;Sub;;;;;existence;");
    Add("b.dll;u;;;;;;existence;redirect");
    std::string sub = dir + "\\Sub";
    std::string other = dir + "\\Other";
    CreateDirectoryA(sub.c_str(), nullptr);
    CreateDirectoryA(other.c_str(), nullptr);
    const std::vector<std::string> gone = {sub + "\\VR1A2B.tmp", sub + "\\vrff.TMP", dir + "\\VR3.tmp",
                                           temp.path + "\\VRK12.tmp", dir + "\\WT7.tmp"};
    const std::vector<std::string> kept = {
        sub + "\\VRnotes.tmp", sub + "\\VR12345.tmp", sub + "\\VRK1.tmp",   sub + "\\WT1.tmp",
        sub + "\\VR1.tmp.bak", sub + "\\XVR1.tmp",    sub + "\\a.dll",      other + "\\VR1.tmp",
        temp.path + "\\VR55.tmp", temp.path + "\\WTAB.tmp", dir + "\\VRKAB.tmp", sub + "\\VRBEEF.tmp"};
    for (const std::string& f : gone) WriteFileBytes(f, "left over");
    for (const std::string& f : kept) WriteFileBytes(f, "keep");
    // Another running instance is still writing this one.
    HANDLE hHeld = CreateFileA((sub + "\\VRBEEF.tmp").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);

    EXPECT_EQ(static_cast<int>(gone.size()), mgr->RemoveLeftoverTempFiles(mgr->Items, 0, nullptr));
    CloseHandle(hHeld);

    for (const std::string& f : gone) EXPECT_FALSE(PathExists(f)) << f;
    for (const std::string& f : kept) EXPECT_EQ("keep", ReadFileBytes(f)) << f;
    EXPECT_TRUE(trace.HasLine("Removed 5 temporary files left by an earlier run")) << trace.Dump();
}

TEST(LibraryTempName, OnlyThePrefixHexDigitsAndTmp)
{
    struct {
        const char* lpszName;
        const char* lpszPrefix;
        bool bOurs;
    } cases[] = {
        {"VR1.tmp", "VR", true},      {"VRffff.TMP", "VR", true}, {"vr0A.tmp", "VR", true},
        {"VR.tmp", "VR", false},      {"VR12345.tmp", "VR", false}, {"VRK1.tmp", "VR", false},
        {"VRK1.tmp", "VRK", true},    {"VR1.tmp.bak", "VR", false}, {"VR1.tm", "VR", false},
        {"XVR1.tmp", "VR", false},    {"VRg1.tmp", "VR", false},  {"WT9.tmp", "WT", true},
        {"", "VR", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.bOurs, IsLibraryTempName(c.lpszName, c.lpszPrefix)) << c.lpszName;
    EXPECT_FALSE(IsLibraryTempName(nullptr, "VR"));
}

// An on-demand request clears what an interrupted run left beside its
// section's files before its first file can install, and a request that
// installs nothing touches nothing.
TEST_F(OdeScheduling, RequestRemovesLeftoversBeforeItInstallsAndOnlyThen)
{
    PrivateTempFolder temp(workDir + "\\temp");
    CreateDirectoryA(temp.path.c_str(), nullptr);
    std::string debris = dir + "\\VR9.tmp";
    WriteFileBytes(debris, "half a file");

    GpcInstallItem* pCurrent = Add("current.dll;c.dll;;;;;;existence;");
    WriteFileBytes(InstallPath(pCurrent), "1234");
    EXPECT_EQ(1, mgr->ScheduleOdeDownloads("Extras", &RecordNotice, GPC_CONTEXT));
    EXPECT_TRUE(PathExists(debris));
    EXPECT_FALSE(trace.Contains("temporary files left by an earlier run"));

    Add("current.dll;c.dll;;;;;;existence;");
    Add("missing.dll;m.dll;;;;;;existence;");
    size_t nBefore = host.downloads.size();
    EXPECT_EQ(1, mgr->ScheduleOdeDownloads("Extras", &RecordNotice, GPC_CONTEXT));
    EXPECT_EQ(nBefore + 1, host.downloads.size());
    EXPECT_FALSE(PathExists(debris));
    EXPECT_TRUE(trace.HasLine("Removed 1 temporary files left by an earlier run")) << trace.Dump();
}
