// On-demand requests: section integrity, section downloads with their
// notices, and the start-up files' completion handler.
#include "extension_fixture.h"
#include "support/case_names.h"

namespace {

std::string Entry(const std::string& name, const std::string& failure = "", int size = 10)
{
    return name + ";" + name + ";;;;" + std::to_string(size) + ";;existence;" + failure;
}

std::vector<OdeNotice> NoticesOf(void* pContext)
{
    std::vector<OdeNotice> v;
    for (const OdeNotice& n : OdeNotices()) {
        if (n.context == pContext) v.push_back(n);
    }
    return v;
}

}  // namespace

// An instance in the standard-download mode: everything is driven by the
// on-demand calls.
class OnDemand : public ExtensionTest {
protected:
    void SetUp() override
    {
        ExtensionTest::SetUp();
        SetOrdinaryPage();
        m_pHost->SetParam("GpcStdDownload", "yes");
        ASSERT_EQ(0, Init());
        ASSERT_NE(nullptr, Ext());
        m_strManifest = m_strWork + "\\sections.ini";
    }
    void WriteManifest(const std::string& text) { WriteFileBytes(m_strManifest, text); }
    GpcCookie Cookie() { return m_pHost->Cookie(); }
    int Download(const char* lpszSection, void* pContext, const char* lpszFile = nullptr)
    {
        if (lpszFile) {
            return GpcOdeDownload2(Cookie(), m_strManifest.c_str(), lpszSection, lpszFile, RecordOdeNotice, pContext);
        }
        return GpcStdDownloadExt(Cookie(), m_strManifest.c_str(), lpszSection, RecordOdeNotice, pContext);
    }
    std::string m_strManifest;
};

TEST_F(OnDemand, IntegrityWithoutAnyManifestReadsNothingAndAnswersIntact)
{
    EXPECT_EQ(1, GpcOdeGetSectionIntegrity(Cookie(), nullptr, "Extras"));
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(Cookie(), nullptr, nullptr));
}

TEST_F(OnDemand, IntegrityFollowsTheInstalledFiles)
{
    WriteManifest("[Extras]\nCount=2\nFile1=" + Entry("a.dat") + "\nFile2=" + Entry("b.dat") + "\n");
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
    WriteFileBytes(ProductDir() + "\\a.dat", "a");
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
    // Asking for a single file looks at that file alone.
    EXPECT_EQ(1, GpcOdeGetSectionIntegrity2(Cookie(), m_strManifest.c_str(), "Extras", "A.DAT"));
    WriteFileBytes(ProductDir() + "\\b.dat", "b");
    EXPECT_EQ(1, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
    EXPECT_TRUE(m_pHost->downloads.empty());
}

// Every question is a pass of its own: a file replaced since the last one
// is read again, not answered from what the last one read of it.
TEST_F(OnDemand, IntegrityReadsTheVersionsAgainOnEveryQuestion)
{
    WriteManifest("[Extras]\nCount=1\nFile1=v.dll;v.dll;;1,0,0,7;;10;;version;\n");
    std::string path = ProductDir() + "\\v.dll";
    const struct {
        const char* lpszFixture;
        int nIntact;
    } steps[] = {{"ver_1_0_0_7.dll", 1}, {"nover.dll", 0}, {"ver_1_0_0_7.dll", 1}};
    for (const auto& step : steps) {
        ASSERT_TRUE(CopyFileA((TestBinDir() + step.lpszFixture).c_str(), path.c_str(), FALSE));
        EXPECT_EQ(step.nIntact, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"))
            << step.lpszFixture;
    }
}

// Every request reads the manifest as it is now: one rewritten in place
// between two requests is never answered from the earlier reading.
TEST_F(OnDemand, ManifestRewrittenBetweenRequestsIsReadAgain)
{
    WriteFileBytes(ProductDir() + "\\a.dat", "a");
    WriteManifest("[Extras]\nCount=1\nFile1=" + Entry("a.dat") + "\n");
    EXPECT_EQ(1, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
    WriteManifest("[Extras]\nCount=2\nFile1=" + Entry("a.dat") + "\nFile2=" + Entry("b.dat") + "\n");
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
    WriteManifest("[Extras]\nCount=1\nFile1=a.dat;a.dat;Sub;;;10;;existence;\n");
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
    CreateDirectoryA((ProductDir() + "\\Sub").c_str(), nullptr);
    WriteFileBytes(ProductDir() + "\\Sub\\a.dat", "a");
    EXPECT_EQ(1, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
}

TEST_F(OnDemand, CallerManifestBecomesTheDefaultButIsNotDeletedAtExit)
{
    WriteManifest("[Extras]\nCount=1\nFile1=" + Entry("a.dat") + "\n");
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
    EXPECT_EQ(m_strManifest, Ext()->m_achCurIniFile);
    // Later calls without a manifest read the same one.
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(Cookie(), nullptr, "Extras"));
    EXPECT_EQ(1, GpcOdeGetSectionIntegrity(Cookie(), nullptr, "Missing"));
    Exit();
    EXPECT_TRUE(PathExists(m_strManifest));
}

TEST_F(OnDemand, EmptySectionReturnsOneAndNeverCallsBack)
{
    WriteManifest("[Extras]\nCount=0\n");
    int nContext = 0;
    EXPECT_EQ(1, Download("Extras", &nContext));
    EXPECT_EQ(1, Download("Absent", &nContext));
    EXPECT_EQ(0, Download(nullptr, &nContext));
    EXPECT_TRUE(OdeNotices().empty());
    EXPECT_TRUE(m_pHost->downloads.empty());
}

TEST_F(OnDemand, UnknownFileNameEndsTheSectionAtOnce)
{
    WriteManifest("[Extras]\nCount=2\nFile1=" + Entry("a.dat") + "\nFile2=" + Entry("b.dat") + "\n");
    int nContext = 0;
    EXPECT_EQ(1, Download("Extras", &nContext, "nothere.dat"));
    auto notices = NoticesOf(&nContext);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(GPC_ODE_SECTION_DONE, notices[0].kind);
    EXPECT_EQ(0, notices[0].result);
    EXPECT_TRUE(m_pHost->downloads.empty());
}

TEST_F(OnDemand, SectionDownloadInstallsEachFileAndReportsProgressAndTheEnd)
{
    WriteManifest("[Extras]\nCount=2\nFile1=" + Entry("a.dat", "", 100) + "\nFile2=" + Entry("b.dat", "", 50) +
                  "\n");
    int nContext = 0;
    EXPECT_EQ(1, Download("Extras", &nContext));
    ASSERT_EQ(2u, m_pHost->downloads.size());
    EXPECT_EQ(0u, m_pHost->downloads[0].url.find("http://127.0.0.1/files/a.dat?random="));
    EXPECT_EQ(0, Ext()->m_InstallationMgr.GetItemCount());

    m_pHost->Progress(0, 40);
    auto notices = NoticesOf(&nContext);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(GPC_ODE_PROGRESS, notices[0].kind);
    EXPECT_EQ("a.dat", notices[0].file);
    EXPECT_EQ("Extras", notices[0].section);
    EXPECT_EQ(150u, notices[0].info.dwFileSize);
    EXPECT_EQ(40u, notices[0].info.dwCompressedSize);
    EXPECT_EQ(nullptr, notices[0].info.lpszSourceName);

    CompleteWith(0, "AAAA");
    CompleteWith(1, "BB");
    notices = NoticesOf(&nContext);
    ASSERT_EQ(4u, notices.size());
    EXPECT_EQ(GPC_ODE_FILE_DONE, notices[1].kind);
    EXPECT_EQ("a.dat", notices[1].file);
    EXPECT_EQ(0, notices[1].result);
    EXPECT_TRUE(notices[1].unpackedFile.empty());
    EXPECT_EQ(GPC_ODE_FILE_DONE, notices[2].kind);
    EXPECT_EQ("b.dat", notices[2].file);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, notices[3].kind);
    EXPECT_EQ("<null>", notices[3].file);
    EXPECT_EQ(0, notices[3].result);
    EXPECT_FALSE(notices[3].hasInfo);
    EXPECT_EQ("AAAA", ReadFileBytes(ProductDir() + "\\a.dat"));
    EXPECT_EQ("BB", ReadFileBytes(ProductDir() + "\\b.dat"));
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: sec: Extras, file: a.dat, res: 0")) << m_pTrace->Dump();
    EXPECT_TRUE(m_pTrace->HasLine("StdDownload Finished"));
}

struct FailureCase {
    const char* name;
    friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
    std::string failureControl;  // "" for absent
    bool cancel;
    int expectedFileResult;
    int expectedSectionResult;
};

const FailureCase kFailureCases[] = {
    {"failure control absent", "", false, -1, 0},
    {"ignore in capitals", "IGNORE", false, -1, 0},
    {"redirect", "redirect", false, -1, -1},
    {"cancelled, ignore", "ignore", true, -7, -1},
};

class OnDemandFailures : public OnDemand, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(OnDemandFailures, FailedFileCountsForTheSectionOnlyWhenItsFailureMatters)
{
    const FailureCase& c = GetParam();
    // Eight fields leave the failure control absent; a ninth sets it.
    std::string entry = "a.dat;a.dat;;;;10;;existence";
    if (!c.failureControl.empty()) entry += ";" + c.failureControl;
    WriteManifest("[Extras]\nCount=2\nFile1=" + entry + "\nFile2=" + Entry("b.dat") + "\n");
    int nContext = 0;
    ASSERT_EQ(1, Download("Extras", &nContext));
    ASSERT_EQ(2u, m_pHost->downloads.size());
    if (c.cancel) {
        EXPECT_EQ(1, GpcCancelFileIndex(Cookie(), 0));
    }
    m_pHost->Complete(0, nullptr);
    CompleteWith(1, "B");
    auto notices = NoticesOf(&nContext);
    ASSERT_EQ(3u, notices.size());
    EXPECT_EQ(c.expectedFileResult, notices[0].result);
    EXPECT_TRUE(notices[0].hasInfo);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, notices[2].kind);
    EXPECT_EQ(c.expectedSectionResult, notices[2].result);
    // The request's end resets what it shared with the extension.
    EXPECT_EQ(0, Ext()->m_nSectionResult);
    EXPECT_EQ(0, Ext()->m_bCancelRequested);
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: sec: Extras, file: a.dat, res: -1"));
}

INSTANTIATE_TEST_SUITE_P(, OnDemandFailures, ::testing::ValuesIn(kFailureCases), CaseName());

TEST_F(OnDemand, BusyTargetHandsTheCallerAnUnpackedCopyThatIsDeletedAfterwards)
{
    // No update test: the file present is replaced whatever it holds; the
    // failure control is one that does not apply to a busy file.
    WriteManifest("[Extras]\nCount=1\nFile1=busy.dat;busy.dat;;;;10;;;reboot2\n");
    WriteFileBytes(ProductDir() + "\\busy.dat", "old");
    // Held open without sharing: the installation cannot write it.
    HANDLE hBusy = CreateFileA((ProductDir() + "\\busy.dat").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hBusy);
    int nContext = 0;
    ASSERT_EQ(1, Download("Extras", &nContext));
    ASSERT_EQ(1u, m_pHost->downloads.size());
    CompleteWith(0, "NEW CONTENT");
    CloseHandle(hBusy);

    auto notices = NoticesOf(&nContext);
    ASSERT_EQ(2u, notices.size());
    EXPECT_EQ(-2, notices[0].result);
    ASSERT_FALSE(notices[0].unpackedFile.empty());
    char achTempDir[MAX_PATH];
    GetTempPathA(MAX_PATH, achTempDir);
    EXPECT_EQ(0u, notices[0].unpackedFile.find(std::string(achTempDir) + "VR")) << notices[0].unpackedFile;
    EXPECT_TRUE(notices[0].unpackedExisted);
    EXPECT_EQ("NEW CONTENT", notices[0].unpackedBytes);
    EXPECT_FALSE(PathExists(notices[0].unpackedFile));
    EXPECT_EQ(-2, notices[1].result);
    EXPECT_EQ("old", ReadFileBytes(ProductDir() + "\\busy.dat"));
}

TEST_F(OnDemand, TwoRequestsAtOnceEachOwnTheirItems)
{
    WriteManifest("[One]\nCount=2\nFile1=" + Entry("a.dat") + "\nFile2=" + Entry("b.dat") + "\n[Two]\nCount=1\nFile1=" +
                  Entry("c.dat") + "\n");
    int nFirst = 0, nSecond = 0;
    ASSERT_EQ(1, Download("One", &nFirst));
    ASSERT_EQ(1, Download("Two", &nSecond));
    ASSERT_EQ(3u, m_pHost->downloads.size());
    CompleteWith(2, "C");
    auto second = NoticesOf(&nSecond);
    ASSERT_EQ(2u, second.size());
    EXPECT_EQ("c.dat", second[0].file);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, second[1].kind);
    EXPECT_EQ("Two", second[1].section);
    EXPECT_TRUE(NoticesOf(&nFirst).empty());

    CompleteWith(1, "B");
    CompleteWith(0, "A");
    auto first = NoticesOf(&nFirst);
    ASSERT_EQ(3u, first.size());
    EXPECT_EQ("b.dat", first[0].file);
    EXPECT_EQ("a.dat", first[1].file);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, first[2].kind);
    EXPECT_EQ("One", first[2].section);
    EXPECT_EQ("A", ReadFileBytes(ProductDir() + "\\a.dat"));
    EXPECT_EQ("C", ReadFileBytes(ProductDir() + "\\c.dat"));
}

TEST_F(OnDemand, EachRequestReportsItsOwnSectionResult)
{
    WriteManifest("[One]\nCount=2\nFile1=" + Entry("a.dat", "redirect") + "\nFile2=" + Entry("b.dat") +
                  "\n[Two]\nCount=1\nFile1=" + Entry("c.dat") + "\n");
    int nFirst = 0, nSecond = 0;
    ASSERT_EQ(1, Download("One", &nFirst));
    ASSERT_EQ(1, Download("Two", &nSecond));
    ASSERT_EQ(3u, m_pHost->downloads.size());
    m_pHost->Complete(0, nullptr);  // a.dat fails, and its failure counts for One
    CompleteWith(2, "C");           // Two ends first, untouched by One's failure
    auto second = NoticesOf(&nSecond);
    ASSERT_EQ(2u, second.size());
    EXPECT_EQ(GPC_ODE_SECTION_DONE, second[1].kind);
    EXPECT_EQ(0, second[1].result);

    CompleteWith(1, "B");
    auto first = NoticesOf(&nFirst);
    ASSERT_EQ(3u, first.size());
    EXPECT_EQ(GPC_ODE_SECTION_DONE, first[2].kind);
    EXPECT_EQ(-1, first[2].result);
}

TEST_F(OnDemand, CancelWithNothingRunningChangesNothing)
{
    EXPECT_EQ(1, GpcCancelFileIndex(Cookie(), 0));
    EXPECT_EQ(1, GpcCancelFileIndex(Cookie(), -3));
    WriteManifest("[Extras]\nCount=1\nFile1=" + Entry("a.dat") + "\n");
    int nContext = 0;
    ASSERT_EQ(1, Download("Extras", &nContext));
    ASSERT_EQ(1u, m_pHost->downloads.size());
    CompleteWith(0, "A");
    auto notices = NoticesOf(&nContext);
    ASSERT_EQ(2u, notices.size());
    EXPECT_EQ(0, notices[0].result);
    EXPECT_EQ(0, notices[1].result);
}

TEST_F(OnDemand, ProgressWindowCancelCancelsOnlyItsOwnRequest)
{
    // Job windows are opened only while the switch is off; the caption
    // names the section when the page gives no title.
    m_pHost->RemoveParam("GpcSuppressProgressBar");
    g_nProgressSwitch = 0;
    WriteManifest("[One]\nCount=1\nFile1=" + Entry("a.dat") + "\n[Two]\nCount=1\nFile1=" + Entry("c.dat") + "\n");
    int nFirst = 0, nSecond = 0;
    ASSERT_EQ(1, Download("One", &nFirst));
    ASSERT_EQ(1, Download("Two", &nSecond));
    ASSERT_EQ(2u, m_pHost->downloads.size());
    HWND hOne = FindWindowA(nullptr, "Corvo Downloading [One]");
    ASSERT_NE(nullptr, hOne);
    ASSERT_NE(nullptr, FindWindowA(nullptr, "Corvo Downloading [Two]"));
    SendMessageA(hOne, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(IsWindow(hOne));

    CompleteWith(1, "C");
    CompleteWith(0, "A");
    auto second = NoticesOf(&nSecond);
    ASSERT_EQ(2u, second.size());
    EXPECT_EQ(0, second[0].result);
    EXPECT_EQ(0, second[1].result);
    auto first = NoticesOf(&nFirst);
    ASSERT_EQ(2u, first.size());
    EXPECT_EQ(-7, first[0].result);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, first[1].kind);
}

TEST_F(OnDemand, HaltedRequestIsAnsweredOnEveryHeartbeat)
{
    // On-demand mode reads "Software\<version>": a version name of this
    // test's own keeps the key private.
    m_pHost->SetParam("GpcProductVersion", m_strProductRoot);
    ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, "Software\\" + m_strProductRoot, "autoupdate", "0"));
    ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, "Software\\" + m_strProductRoot, "alwaysconnect", "0"));
    WriteManifest("[Extras]\nCount=1\nFile1=" + Entry("a.dat") + "\n");
    int nContext = 0;
    EXPECT_EQ(1, Download("Extras", &nContext));
    EXPECT_TRUE(m_pHost->downloads.empty());
    EXPECT_EQ(1, Ext()->m_bFailed);
    EXPECT_TRUE(OdeNotices().empty());
    Beat(2);
    ASSERT_EQ(2u, OdeNotices().size());
    for (const OdeNotice& n : OdeNotices()) {
        EXPECT_EQ(nullptr, n.context);
        EXPECT_EQ(GPC_ODE_FILE_DONE, n.kind);
        EXPECT_EQ("<null>", n.file);
        EXPECT_EQ("<null>", n.section);
        EXPECT_EQ(-1, n.result);
        EXPECT_FALSE(n.hasInfo);
    }
}

namespace {

// A page script that, told of one file, asks about the section again.
struct AskAgain {
    GpcCookie cookie;
    std::string manifest;
    int answer = -1;
};

void WINAPI AskAgainOnFirstFile(void* pContext, int nKind, const char* lpszFileName, const char* lpszSectionName,
                                int nResult, GpcOdeFileInfo* pInfo)
{
    RecordOdeNotice(pContext, nKind, lpszFileName, lpszSectionName, nResult, pInfo);
    AskAgain* pAsk = static_cast<AskAgain*>(pContext);
    if (nKind == GPC_ODE_FILE_DONE && pAsk->answer == -1) {
        pAsk->answer = GpcOdeGetSectionIntegrity(pAsk->cookie, pAsk->manifest.c_str(), "Extras");
    }
}

}  // namespace

TEST_F(OnDemand, CallbackAskingAboutTheSectionDuringThePassSeesNoneOfTheRequestsItems)
{
    // a.dat is current and is reported inside the pass; b.dat is missing
    // and is on its way when the callback asks.
    WriteManifest("[Extras]\nCount=2\nFile1=" + Entry("a.dat") + "\nFile2=" + Entry("b.dat") + "\n");
    WriteFileBytes(ProductDir() + "\\a.dat", "a");
    AskAgain ask;
    ask.cookie = Cookie();
    ask.manifest = m_strManifest;
    ASSERT_EQ(1, GpcStdDownloadExt(Cookie(), m_strManifest.c_str(), "Extras", AskAgainOnFirstFile, &ask));
    // The request owns its items: the section is read afresh, b.dat is missing.
    EXPECT_EQ(0, ask.answer);
    ASSERT_EQ(1u, m_pHost->downloads.size());

    CompleteWith(0, "B");
    auto notices = NoticesOf(&ask);
    ASSERT_EQ(3u, notices.size());
    EXPECT_EQ("a.dat", notices[0].file);
    EXPECT_EQ(0, notices[0].result);
    EXPECT_EQ("b.dat", notices[1].file);
    EXPECT_EQ(0, notices[1].result);
    EXPECT_EQ(GPC_ODE_SECTION_DONE, notices[2].kind);
    EXPECT_EQ(0, notices[2].result);
    EXPECT_EQ("B", ReadFileBytes(ProductDir() + "\\b.dat"));
    EXPECT_EQ(1, GpcOdeGetSectionIntegrity(Cookie(), m_strManifest.c_str(), "Extras"));
}

// The start-up downloads and the on-demand calls share the manager's list.
using OnDemandDuringStartup = ExtensionTest;

TEST_F(OnDemandDuringStartup, RequestsWaitUntilTheStartupFilesAreSettled)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=" + Entry("b.dll") +
                    "\n[Extras]\nCount=1\nFile1=" + Entry("x.dat") + "\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    CVRGpcExtension* p = Ext();
    const std::string manifest = p->m_achCurIniFile;

    EXPECT_EQ(2, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), nullptr, "Extras"));
    EXPECT_TRUE(m_pTrace->Contains("CVRGpcExtension:OdeGetSectionIntegrityExt,lpszIniFile = (null),m_achCurIniFile = " +
                                   manifest + ",LastDownload = 0"))
        << m_pTrace->Dump();
    int nContext = 0;
    EXPECT_EQ(0, GpcStdDownloadExt(m_pHost->Cookie(), nullptr, "Extras", RecordOdeNotice, &nContext));
    ASSERT_EQ(2, p->m_InstallationMgr.GetItemCount());
    EXPECT_EQ(ITEM_DOWNLOADING, p->m_InstallationMgr.GetItem(0)->State);
    EXPECT_EQ(3u, m_pHost->downloads.size());

    // Completions still reach the items that were left in place.
    CompleteWith(1, "M");
    CompleteWith(2, "B");
    EXPECT_EQ("M", ReadFileBytes(ProductDir() + "\\main.dll"));
    Beat();
    ASSERT_EQ(1, p->m_bDownloadDone);
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), nullptr, "Extras"));
    ASSERT_EQ(1, p->m_InstallationMgr.GetItemCount());
    EXPECT_STREQ("x.dat", p->m_InstallationMgr.GetItem(0)->SourceName.GetText());
    EXPECT_EQ(1, GpcStdDownloadExt(m_pHost->Cookie(), nullptr, "Extras", RecordOdeNotice, &nContext));
    EXPECT_EQ(4u, m_pHost->downloads.size());
}

TEST_F(OnDemandDuringStartup, QueriesBeforeTheManifestLeaveNoItemsBehind)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    const std::string own = WriteWorkFile("own.ini", "[Extras]\nCount=1\nFile1=" + Entry("x.dat") + "\n");
    EXPECT_EQ(2, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), own.c_str(), "Extras"));
    int nContext = 0;
    EXPECT_EQ(0, GpcStdDownloadExt(m_pHost->Cookie(), own.c_str(), "Extras", RecordOdeNotice, &nContext));
    EXPECT_EQ(0, Ext()->m_InstallationMgr.GetItemCount());

    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n");
    ASSERT_EQ(2u, m_pHost->downloads.size());
    EXPECT_NE(-1, m_pHost->FindDownload("/main.dll?"));
    ASSERT_EQ(1, Ext()->m_InstallationMgr.GetItemCount());
    EXPECT_STREQ("main.dll", Ext()->m_InstallationMgr.GetItem(0)->SourceName.GetText());
    EXPECT_TRUE(OdeNotices().empty());
}

TEST_F(OnDemandDuringStartup, QueriesWaitForTheDoneStateNotJustForTheFiles)
{
    // A page that polls until it stops hearing 2 lands between the last
    // file and the heartbeat that loads the component and registers.
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=" + Entry("b.dll") +
                    "\n[Extras]\nCount=1\nFile1=" + Entry("x.dat") + "\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    CompleteWith(1, "M");
    CompleteWith(2, "B");
    EXPECT_EQ(2, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), nullptr, "Extras"));
    int nContext = 0;
    EXPECT_EQ(0, GpcStdDownloadExt(m_pHost->Cookie(), nullptr, "Extras", RecordOdeNotice, &nContext));
    EXPECT_EQ(2, Ext()->m_InstallationMgr.GetItemCount());

    Beat();
    EXPECT_EQ(1, Ext()->m_bDownloadDone);
    EXPECT_TRUE(m_pTrace->HasLine("Download is done")) << m_pTrace->Dump();
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), nullptr, "Extras"));
}

TEST_F(OnDemandDuringStartup, HaltedRequestIsAnsweredAtOnceAndLeavesTheStartupAlone)
{
    SetOrdinaryPage();
    // main.dll is in place, so the start-up keeps it; x.dat is missing, so
    // the on-demand request meets the halt.
    CreateDirectoryA((m_pHost->directory + "\\" + m_strProductRoot).c_str(), nullptr);
    CreateDirectoryA(ProductDir().c_str(), nullptr);
    WriteFileBytes(ProductDir() + "\\main.dll", "M");
    SetUpdateSetting(HKEY_CURRENT_USER, "autoupdate", "0");
    SetUpdateSetting(HKEY_CURRENT_USER, "alwaysconnect", "0");
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n[Extras]\nCount=1\nFile1=" +
                    Entry("x.dat") + "\n");
    Beat();
    ASSERT_EQ(1, Ext()->m_bDownloadDone);
    ASSERT_EQ(0, Ext()->m_bFailed);

    int nContext = 0;
    EXPECT_EQ(1, GpcStdDownloadExt(m_pHost->Cookie(), nullptr, "Extras", RecordOdeNotice, &nContext));
    EXPECT_EQ(1u, m_pHost->downloads.size());
    // The halted-request notice: null context, kind 0, result -1.
    auto notices = OdeNotices();
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(nullptr, notices[0].context);
    EXPECT_EQ(GPC_ODE_FILE_DONE, notices[0].kind);
    EXPECT_EQ("<null>", notices[0].file);
    EXPECT_EQ(-1, notices[0].result);
    EXPECT_FALSE(notices[0].hasInfo);
    EXPECT_EQ(0, Ext()->m_bFailed);
    Beat(2);
    EXPECT_EQ(1u, OdeNotices().size());
}

struct NoDirectoryCase {
    const char* name;
    friend void PrintTo(const NoDirectoryCase& c, std::ostream* os) { *os << c.name; }
    bool standardDownload;  // else an ordinary start-up whose manifest never came
};

const NoDirectoryCase kNoDirectoryCases[] = {
    {"manifest download failed", false},
    {"standard download without url root", true},
};

class OnDemandWithoutInstallDir : public OnDemandDuringStartup, public ::testing::WithParamInterface<NoDirectoryCase> {};

// Without a product directory every path would start at the drive root.
TEST_P(OnDemandWithoutInstallDir, WithoutAnInstallDirectoryNoPathIsBuilt)
{
    const NoDirectoryCase& c = GetParam();
    SetOrdinaryPage();
    if (c.standardDownload) {
        m_pHost->SetParam("GpcStdDownload", "yes");
        m_pHost->RemoveParam("GpcUrlRoot");
    }
    ASSERT_EQ(0, Init());
    if (!c.standardDownload) m_pHost->Complete(0, nullptr);
    ASSERT_EQ(1, Ext()->m_bFailed);
    ASSERT_TRUE(Ext()->m_InstallationMgr.DefaultInstallDir.IsEmpty());
    const size_t nDownloads = m_pHost->downloads.size();
    const std::string own = WriteWorkFile("own.ini", "[Extras]\nCount=1\nFile1=" + Entry("x.dat") + "\n");
    m_pTrace->Clear();

    // A failed start-up is finished: nobody is kept waiting on 2.
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), own.c_str(), "Extras"));
    int nContext = 0;
    EXPECT_EQ(0, GpcOdeDownload2(m_pHost->Cookie(), own.c_str(), "Extras", "x.dat", RecordOdeNotice, &nContext));
    EXPECT_EQ(nDownloads, m_pHost->downloads.size());
    EXPECT_TRUE(OdeNotices().empty());
    EXPECT_FALSE(m_pTrace->Contains("installdir = ,")) << m_pTrace->Dump();
    EXPECT_FALSE(m_pTrace->Contains("\\x.dat")) << m_pTrace->Dump();
}

INSTANTIATE_TEST_SUITE_P(, OnDemandWithoutInstallDir, ::testing::ValuesIn(kNoDirectoryCases), CaseName());

struct StartupFileCase {
    const char* name;
    friend void PrintTo(const StartupFileCase& c, std::ostream* os) { *os << c.name; }
    std::string failureControl;  // "<absent>" for no ninth field
    int unpackResult;            // what the host answers to the unpack
    bool busy;                   // the installed file is held open without sharing
    int expectedResult;
    int expectedIgnore;
    bool failed;
    std::vector<int> reported;
};

const StartupFileCase kStartupFileCases[] = {
    {"unpack failed, control absent", "<absent>", 7, false, -3, 1, false, {}},
    {"unpack failed, reboot", "reboot", 7, false, -3, 0, true, {7}},
    {"unpack failed, IGNORE: failed, but nothing is shown", "IGNORE", 7, false, -3, 1, false, {}},
    {"unpack failed, redirect: failed, but nothing is shown", "redirect", 7, false, -3, 1, false, {}},
    {"installed", "reboot", -1, false, 0, 0, false, {}},
    {"busy, control absent", "<absent>", -1, true, -2, 1, false, {}},
    {"busy, unknown control", "later", -1, true, -2, 0, true, {7}},
    {"busy, reboot: restart needed is no failure", "reboot", -1, true, -4, 0, false, {8}},
};

class OnDemandStartupFileFailures : public OnDemandDuringStartup, public ::testing::WithParamInterface<StartupFileCase> {};

TEST_P(OnDemandStartupFileFailures, StartupFileFailureStopsOnlyWhenItsFailureMatters)
{
    const StartupFileCase& c = GetParam();
    SetOrdinaryPage();
    EnableReports();
    ASSERT_EQ(0, Init());
    // An empty update control: the file is replaced whatever it holds.
    std::string entry = "main.dll;main.dll;;;;;;";
    if (c.failureControl != "<absent>") entry += ";" + c.failureControl;
    DeliverManifest("[Corvo]\nCount=1\nFile1=" + entry + "\n");
    ASSERT_EQ(2u, m_pHost->downloads.size());
    m_pHost->unpackResult = c.unpackResult;
    HANDLE hBusy = INVALID_HANDLE_VALUE;
    if (c.busy) {
        WriteFileBytes(ProductDir() + "\\main.dll", "old");
        hBusy = CreateFileA((ProductDir() + "\\main.dll").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hBusy);
    }
    CompleteWith(1, "M");
    if (hBusy != INVALID_HANDLE_VALUE) CloseHandle(hBusy);
    EXPECT_TRUE(m_pTrace->HasLine("DoItemInstall: " + std::to_string(c.expectedResult) +
                                  ", IGNORE: " + std::to_string(c.expectedIgnore)))
        << m_pTrace->Dump();
    EXPECT_EQ(c.failed ? 1 : 0, Ext()->m_bFailed);
    EXPECT_EQ(c.reported, ReportedCodes());
    if (c.unpackResult >= 0) {
        // Whether shown or not, a file that did not unpack has failed.
        EXPECT_EQ(ITEM_FAILED, Ext()->m_InstallationMgr.GetItem(0)->State);
        bool bPassedOver = c.failureControl == "IGNORE" || c.failureControl == "redirect";
        EXPECT_EQ(bPassedOver, m_pTrace->HasLine("WRONG(IGNORE): fail to decompress the file."));
    }
}

INSTANTIATE_TEST_SUITE_P(, OnDemandStartupFileFailures, ::testing::ValuesIn(kStartupFileCases), CaseName());

TEST_F(OnDemandDuringStartup, StartupDownloadWithoutFileShowsErrorSixOnce)
{
    SetOrdinaryPage();
    EnableReports();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=" + Entry("b.dll") + "\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    m_pHost->Progress(1, 5);
    m_pHost->Complete(1, nullptr);
    m_pHost->Complete(2, nullptr);
    EXPECT_EQ(1, Ext()->m_bFailed);
    EXPECT_EQ(std::vector<int>{6}, ReportedCodes());
    // Nothing is on its way any more: the section can be asked about.
    EXPECT_NE(2, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), nullptr, "Corvo"));
}

TEST_F(OnDemandDuringStartup, LateFileFailureAfterTheComponentStartedIsShownButNotFatal)
{
    SetOrdinaryPage();
    EnableReports();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=" + Entry("late.dll", "reboot") + "\n");
    ASSERT_EQ(3u, m_pHost->downloads.size());
    CompleteWith(1, "M");
    Beat();
    ASSERT_EQ(1, Ext()->m_bComponentLoadStarted);
    m_pHost->unpackResult = 7;
    CompleteWith(2, "L");
    EXPECT_TRUE(m_pTrace->HasLine("DoItemInstall: -3, IGNORE: 0")) << m_pTrace->Dump();
    EXPECT_EQ(std::vector<int>{7}, ReportedCodes());
    EXPECT_EQ(0, Ext()->m_bFailed);
}
