// Start-up: the lists and variables taken from the page, the four start
// paths and the manifest url asked of the host.
#include <new>
#include <regex>

#include "extension_fixture.h"
#include "support/case_names.h"

namespace {

std::vector<std::string> Urls(CVRGpcExtension* p)
{
    std::vector<std::string> v;
    for (int i = 0; p->GetUrl(i); ++i) v.push_back(p->GetUrl(i));
    return v;
}

std::vector<std::string> Actions(CVRGpcExtension* p)
{
    std::vector<std::string> v;
    for (int i = 0; p->GetAction(i); ++i) v.push_back(p->GetAction(i));
    return v;
}

// The url part before "?random=", and whether the suffix is the whole
// decimal tick count of a moment between two readings of the tick count.
struct SplitUrl {
    std::string base;
    bool randomOk;
};
SplitUrl SplitRandom(const std::string& url, DWORD dwBefore, DWORD dwAfter)
{
    static const std::regex re("^(.*)\\?random=([0-9]+)$");
    std::smatch m;
    if (!std::regex_match(url, m, re)) return {url, false};
    unsigned long ulTick = std::stoul(m[2].str());
    return {m[1].str(), ulTick >= dwBefore && ulTick <= dwAfter};
}

}  // namespace

using Startup = ExtensionTest;

struct ListCase {
    const char* name;
    friend void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }
    const char* urls;
    const char* actions;
    std::vector<std::string> expectedUrls;
    std::vector<std::string> expectedActions;
};

const ListCase kListCases[] = {
    {"three urls, blanks and an empty field", "http://a/1| \t\r\nhttp://b/2||http://c/3 ", "Do(1)",
     {"http://a/1", "http://b/2", "http://c/3 "}, {"Do(1)"}},
    {"action kept untrimmed", "x", "  Call(a, b)  ", {"x"}, {"  Call(a, b)  "}},
    {"two actions", "", "A()|B( 1 )", {}, {"A()", "B( 1 )"}},
    {"only separators", "||||", "|||", {}, {}},
    {"blank pieces stay as empty urls", " | \t", " | ", {"", ""}, {" ", " "}},
};

class StartupLists : public Startup, public ::testing::WithParamInterface<ListCase> {};

TEST_P(StartupLists, UrlsAndActionsAreSplitAtBarsUrlsLoseLeadingBlanksOnly)
{
    const ListCase& c = GetParam();
    SetOrdinaryPage();
    m_pHost->SetParam("GpcUrls", c.urls);
    m_pHost->SetParam("GpcActions", c.actions);
    ASSERT_EQ(0, Init());
    ASSERT_NE(nullptr, Ext());
    EXPECT_EQ(c.expectedUrls, Urls(Ext()));
    EXPECT_EQ(c.expectedActions, Actions(Ext()));
    EXPECT_EQ(nullptr, Ext()->GetUrl(-1));
    EXPECT_EQ(nullptr, Ext()->GetAction(-1));
}

INSTANTIATE_TEST_SUITE_P(, StartupLists, ::testing::ValuesIn(kListCases), CaseName());

TEST_F(Startup, MissingListParametersGiveEmptyLists)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    EXPECT_EQ(nullptr, Ext()->GetUrl(0));
    EXPECT_EQ(nullptr, Ext()->GetAction(0));
}

TEST_F(Startup, EveryPageParameterBecomesAScriptVariable)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcExitCall", "Bye(1)");
    m_pHost->SetParam("SomethingElse", "value with spaces");
    ASSERT_EQ(0, Init());
    for (const auto& p : m_pHost->Params()) {
        const char* lpszValue = Ext()->m_CallEngine.GetVariable(p.first.c_str());
        ASSERT_NE(nullptr, lpszValue) << p.first;
        EXPECT_EQ(p.second, lpszValue) << p.first;
    }
}

TEST_F(Startup, ConstructorSetsTheProcessSwitches)
{
    ASSERT_EQ(0, g_nProgressSwitch);
    ASSERT_EQ(0, g_nMessageWndSwitch);
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    EXPECT_EQ(1, g_nProgressSwitch);
    EXPECT_EQ(1, g_nMessageWndSwitch);
    // So start-up never builds the message window.
    EXPECT_EQ(nullptr, Ext()->m_hMessageWnd);
}

TEST_F(Startup, OrdinaryPathAsksForTheNamedManifestWithARandomSuffix)
{
    SetOrdinaryPage();
    DWORD dwBefore = GetTickCount();
    ASSERT_EQ(0, Init());
    DWORD dwAfter = GetTickCount();
    ASSERT_EQ(1u, m_pHost->downloads.size());
    SplitUrl url = SplitRandom(m_pHost->downloads[0].url, dwBefore, dwAfter);
    EXPECT_TRUE(url.randomOk) << m_pHost->downloads[0].url;
    EXPECT_EQ("http://127.0.0.1/files/" + m_strIniName, url.base);
    // The host holds a number for the instance, never its address.
    EXPECT_NE(nullptr, m_pHost->downloads[0].context);
    EXPECT_NE(static_cast<void*>(Ext()), m_pHost->downloads[0].context);
    EXPECT_TRUE(m_pTrace->HasLine("CVRGpcExtension::InitInstance url=" + m_pHost->downloads[0].url))
        << m_pTrace->Dump();
    // Nothing is decided before the manifest arrives.
    EXPECT_EQ(0, Ext()->m_bReady);
    EXPECT_EQ(0, Ext()->m_bFailed);
}

struct UrlCase {
    const char* name;
    friend void PrintTo(const UrlCase& c, std::ostream* os) { *os << c.name; }
    std::string root;       // "<absent>" for no parameter
    std::string iniName;    // "<absent>" for no parameter
    bool ok;
    std::string expectedBase;  // without "?random=..."
    bool defaultNameTrace;
};

static std::vector<UrlCase> MakeUrlCases()
{
    const std::string root949 = "http://127.0.0.1/" + std::string(949 - 17, 'r');
    const std::string root950 = root949 + "s";
    const std::string root5000 = "http://127.0.0.1/" + std::string(5000 - 17, 'r');
    const std::string name63 = std::string(59, 'n') + ".ini";
    const std::string name64 = std::string(60, 'n') + ".ini";
    // The prefix reports Windows 7, an NT 5+ system.
    return {
        {"root without slash", "http://h/x", "a.ini", true, "http://h/x/a.ini", false},
        {"root with slash gets no second one", "http://h/x/", "a.ini", true, "http://h/x/a.ini", false},
        {"no name: per-OS name", "http://h/x", "<absent>", true, "http://h/x/gpc2k.ini", false},
        {"63-character name is used", "http://h/x", name63, true, "http://h/x/" + name63, false},
        {"64-character name is ignored", "http://h/x", name64, true, "http://h/x/gpc2k.ini", true},
        {"949-character root with the longest name", root949, name63, true, root949 + "/" + name63, false},
        {"950-character root", root950, "a.ini", false, "", false},
        {"5000-character root", root5000, "a.ini", false, "", false},
        {"no root", "<absent>", "a.ini", false, "", false},
        // The name also names the copy beside the library: anything but a
        // plain ".ini" name is passed over as the over-long one is.
        {"other kind of file", "http://h/x", "victim.dll", true, "http://h/x/gpc2k.ini", true},
        {"name in a subfolder", "http://h/x", "sub\\a.ini", true, "http://h/x/gpc2k.ini", true},
        {"name in the parent folder", "http://h/x", "../a.ini", true, "http://h/x/gpc2k.ini", true},
        {"drive-relative name", "http://h/x", "c:a.ini", true, "http://h/x/gpc2k.ini", true},
        {"device name", "http://h/x", "NUL.ini", true, "http://h/x/gpc2k.ini", true},
        {"device name in another case", "http://h/x", "com1.INI", true, "http://h/x/gpc2k.ini", true},
        {"name without a base", "http://h/x", ".ini", true, "http://h/x/gpc2k.ini", true},
        {"name with a control byte", "http://h/x", "a\tb.ini", true, "http://h/x/gpc2k.ini", true},
        {"device-like but longer", "http://h/x", "com10.ini", true, "http://h/x/com10.ini", false},
        {"extension in capitals", "http://h/x", "A.INI", true, "http://h/x/A.INI", false},
    };
}

class StartupManifestUrl : public Startup, public ::testing::WithParamInterface<UrlCase> {};

TEST_P(StartupManifestUrl, ManifestUrlFromRootAndName)
{
    const UrlCase& c = GetParam();
    SetOrdinaryPage();
    EnableReports();
    if (c.root == "<absent>") {
        m_pHost->RemoveParam("GpcUrlRoot");
    } else {
        m_pHost->SetParam("GpcUrlRoot", c.root);
    }
    if (c.iniName == "<absent>") {
        m_pHost->RemoveParam("GpcIniFileName");
    } else {
        m_pHost->SetParam("GpcIniFileName", c.iniName);
    }
    DWORD dwBefore = GetTickCount();
    ASSERT_EQ(0, Init());
    DWORD dwAfter = GetTickCount();
    EXPECT_EQ(c.defaultNameTrace,
              m_pTrace->HasLine("Error: Invalid value of the parameter 'GpcIniFileName', use default name"));
    if (c.ok) {
        ASSERT_EQ(1u, m_pHost->downloads.size());
        SplitUrl url = SplitRandom(m_pHost->downloads[0].url, dwBefore, dwAfter);
        EXPECT_TRUE(url.randomOk) << m_pHost->downloads[0].url.substr(m_pHost->downloads[0].url.size() - 40);
        EXPECT_EQ(c.expectedBase, url.base);
        EXPECT_EQ(0, Ext()->m_bFailed);
    } else {
        EXPECT_TRUE(m_pHost->downloads.empty());
        EXPECT_EQ(1, Ext()->m_bFailed);
        EXPECT_EQ(std::vector<int>{2}, ReportedCodes());
    }
}

INSTANTIATE_TEST_SUITE_P(, StartupManifestUrl, ::testing::ValuesIn(MakeUrlCases()), CaseName());

TEST_F(Startup, PluginHostWithoutVersionParametersTakesTheDependencyList)
{
    SetOrdinaryPage();
    m_pHost->RemoveParam("GpcUnpackVersion");  // only "GpcExtVersion" given
    m_pHost->SetParam("GpcDependency", "main.dll;main.dll;;;;;;existence;|other.dll;other.dll;;;;;;existence;");
    ASSERT_EQ(0, Init());
    CVRGpcExtension* p = Ext();
    EXPECT_EQ(1, p->m_bCheckItemOsVersion);
    EXPECT_EQ(1, p->m_bReady);
    EXPECT_EQ(0, p->m_bFailed);
    ASSERT_EQ(2, p->m_InstallationMgr.GetItemCount());
    EXPECT_STREQ("main.dll", p->m_InstallationMgr.GetItem(0)->SourceName.GetText());
    EXPECT_STREQ("other.dll", p->m_InstallationMgr.GetItem(1)->SourceName.GetText());
    // No manifest: the two files are the only downloads.
    ASSERT_EQ(2u, m_pHost->downloads.size());
    EXPECT_EQ(0u, m_pHost->downloads[0].url.find("http://127.0.0.1/files/main.dll?random="));
}

TEST_F(Startup, EmptyVersionParameterCountsAsAbsent)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcExtVersion", "");
    ASSERT_EQ(0, Init());
    EXPECT_EQ(1, Ext()->m_bCheckItemOsVersion);
    EXPECT_EQ(1, Ext()->m_bReady);
}

TEST_F(Startup, ActiveXHostNeverLooksAtVersionParameters)
{
    SetOrdinaryPage();
    m_pHost->SetPluginMarker(false);
    m_pHost->RemoveParam("GpcUnpackVersion");
    m_pHost->RemoveParam("GpcExtVersion");
    ASSERT_EQ(0, Init());
    EXPECT_EQ(0, Ext()->m_bCheckItemOsVersion);
    ASSERT_EQ(1u, m_pHost->downloads.size());  // the manifest
    EXPECT_EQ(0, Ext()->m_bReady);
}

TEST_F(Startup, StandardDownloadPreparesWithoutManifestOrComponent)
{
    SetOrdinaryPage();
    m_pHost->RemoveParam("GpcComponentName");
    m_pHost->SetParam("GpcStdDownload", "");
    ASSERT_EQ(0, Init());
    CVRGpcExtension* p = Ext();
    EXPECT_EQ(1, p->m_bStdDownload);
    EXPECT_EQ(1, p->m_bReady);
    EXPECT_EQ(0, p->m_bFailed);
    EXPECT_TRUE(m_pHost->downloads.empty());
    EXPECT_EQ(0, p->m_InstallationMgr.GetItemCount());
    EXPECT_STREQ(ProductDir().c_str(), p->m_InstallationMgr.DefaultInstallDir.GetText());
}

TEST_F(Startup, SuppressedInstallationListsOnlyTheFinishedComponent)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcSuppressInstallation", "tRUE");
    ASSERT_EQ(0, Init());
    CVRGpcExtension* p = Ext();
    EXPECT_EQ(1, p->m_bSuppressInstallation);
    EXPECT_EQ(1, p->m_bReady);
    EXPECT_TRUE(m_pHost->downloads.empty());
    ASSERT_EQ(1, p->m_InstallationMgr.GetItemCount());
    EXPECT_STREQ("main.dll", p->m_InstallationMgr.GetItem(0)->SourceName.GetText());
    EXPECT_EQ(ITEM_DONE, p->m_InstallationMgr.GetItem(0)->State);
    EXPECT_STREQ(ProductDir().c_str(), p->m_InstallationMgr.DefaultInstallDir.GetText());
    EXPECT_TRUE(m_pTrace->HasLine("Suppress installation:init installation manager")) << m_pTrace->Dump();
}

struct ComponentlessCase {
    const char* name;
    friend void PrintTo(const ComponentlessCase& c, std::ostream* os) { *os << c.name; }
    const char* suppress;  // "GpcSuppressInstallation", or null for none
};

const ComponentlessCase kComponentlessCases[] = {
    {"suppressed", "True"},
    {"dependency list", nullptr},
};

class StartupWithoutComponent : public Startup, public ::testing::WithParamInterface<ComponentlessCase> {};

TEST_P(StartupWithoutComponent, MissingComponentNameFailsWithErrorOne)
{
    const ComponentlessCase& c = GetParam();
    SetOrdinaryPage();
    EnableReports();
    m_pHost->RemoveParam("GpcComponentName");
    m_pHost->RemoveParam("GpcExtVersion");
    if (c.suppress) m_pHost->SetParam("GpcSuppressInstallation", c.suppress);
    ASSERT_EQ(0, Init());
    EXPECT_EQ(1, Ext()->m_bFailed);
    EXPECT_EQ(0, Ext()->m_bReady);
    EXPECT_EQ(std::vector<int>{1}, ReportedCodes());
}

INSTANTIATE_TEST_SUITE_P(, StartupWithoutComponent, ::testing::ValuesIn(kComponentlessCases), CaseName());

struct ProductPartCase {
    const char* name;
    friend void PrintTo(const ProductPartCase& c, std::ostream* os) { *os << c.name; }
    const char* root;     // null: as the ordinary page has it
    const char* version;  // null: as the ordinary page has it
    bool ok;
};

const ProductPartCase kProductPartCases[] = {
    {"root climbs out", "..\\planted", nullptr, false},
    {"version is the folder itself", nullptr, ".", false},
    {"version climbs out", nullptr, "..", false},
    {"inner part climbs out", "Vendor\\..\\..\\x", nullptr, false},
    {"forward-slash part climbs out", "Vendor/../../x", nullptr, false},
    {"root starts with a separator", "\\x", nullptr, false},
    {"root is a server share", "\\\\server\\share", nullptr, false},
    {"root starts with a slash", "/x", nullptr, false},
    {"root names a drive", "c:\\x", nullptr, false},
    {"version names a stream", nullptr, "1.0:s", false},
    {"dots inside a name are plain", "Vendor..x", "1..0", true},
    {"inner separator", "Vendor\\Product", nullptr, true},
};

class StartupProductParts : public Startup, public ::testing::WithParamInterface<ProductPartCase> {};

// The product folder stays below the host's: a root or version that would
// lead elsewhere stops the start-up with message 2 before anything is asked
// for, created or loaded; every other name works as it always has.
TEST_P(StartupProductParts, ProductFolderStaysBelowTheHostFolder)
{
    const ProductPartCase& c = GetParam();
    SetOrdinaryPage();
    EnableReports();
    std::string root = c.root ? c.root : m_strProductRoot;
    if (c.root) m_pHost->SetParam("GpcProductRoot", root);
    if (c.version) m_pHost->SetParam("GpcProductVersion", c.version);
    for (const char* suppress : {"FALSE", "TRUE"}) {
        SCOPED_TRACE(suppress);
        m_pHost->SetParam("GpcSuppressInstallation", suppress);
        ASSERT_EQ(0, Init());
        CVRGpcExtension* p = Ext();
        if (c.ok) {
            EXPECT_EQ(0, p->m_bFailed);
            char achDir[GPC_MAX_PATH];
            p->GetProductDir(achDir, 0);
            EXPECT_EQ(m_pHost->directory + "\\" + root + "\\" + (c.version ? c.version : "1.0"), achDir);
            EXPECT_TRUE(ReportedCodes().empty());
        } else {
            EXPECT_EQ(1, p->m_bFailed);
            EXPECT_EQ(0, p->m_bReady);
            EXPECT_TRUE(m_pHost->downloads.empty());
            EXPECT_EQ(std::vector<int>{2}, ReportedCodes()) << m_pTrace->Dump();
            Beat(2);
            EXPECT_FALSE(m_pTrace->Contains("Init the main component"));
        }
        // The next start in the same process, as a page opened again.
        Exit();
        ResetModuleStateForTesting();
        m_pTrace->Clear();
    }
}

INSTANTIATE_TEST_SUITE_P(, StartupProductParts, ::testing::ValuesIn(kProductPartCases), CaseName());

TEST_F(Startup, MessageTitleComesFromThePageOrIsCorvo)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    EXPECT_STREQ("Corvo", Ext()->GetMessageTitle());
    m_pHost->SetParam("GpcMessageTitle", "Hub");
    EXPECT_STREQ("Hub", Ext()->GetMessageTitle());
}

TEST_F(Startup, HostProductVersionIsTaggedNs)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    char achVersion[GPC_MAX_PATH];
    Ext()->GetHostProductVersion(achVersion, sizeof(achVersion));
    EXPECT_EQ(0, strncmp(achVersion, "NS", 2)) << achVersion;
    EXPECT_GT(strlen(achVersion), 2u);
    // A buffer too small for the text still ends inside itself.
    char achSmall[4];
    std::memset(achSmall, 'x', sizeof(achSmall));
    Ext()->GetHostProductVersion(achSmall, 3);
    EXPECT_EQ('\0', achSmall[2]);
    EXPECT_EQ('x', achSmall[3]);
}

namespace {

// A page-parameter count that breaks off the start-up half-way, as an
// out-of-memory deep inside it would.
int WINAPI BreakingParamCount(GpcCookie)
{
    throw std::bad_alloc();
}

}  // namespace

TEST_F(Startup, StartUpBrokenOffAfterTheHandOverStillAnswersZeroAndEndsNormally)
{
    SetOrdinaryPage();
    m_pHost->Table()->HostGetParamCount = &BreakingParamCount;
    // The host already holds the instance: 20005 ("not allocated") would
    // make it drop an object that lives on.
    EXPECT_EQ(0, Init());
    ASSERT_NE(nullptr, Ext());
    EXPECT_TRUE(m_pTrace->HasLine("Begin initializing extension...")) << m_pTrace->Dump();
    Exit();
    EXPECT_TRUE(m_pTrace->HasLine("Delete CVRGpcExtension object")) << m_pTrace->Dump();
    EXPECT_TRUE(m_pTrace->HasLine("GpcExitInstance Exit")) << m_pTrace->Dump();
}

// A start-up removes what an interrupted run left (its manifest copy in the
// temporary folder, the product folder's write test, a half-unpacked file
// beside a destination) before it installs anything, and holds its own
// manifest copy open so that the same sweep by another instance leaves it.
TEST_F(Startup, StartUpRemovesTheLeftoversOfAnInterruptedRunButNotItsOwnManifestCopy)
{
    std::string temp = m_strWork + "\\temp";
    CreateDirectoryA(temp.c_str(), nullptr);
    SetEnv("TMP", temp.c_str());
    SetEnv("TEMP", temp.c_str());
    SetOrdinaryPage();
    CreateDirectoryA((m_pHost->directory + "\\" + m_strProductRoot).c_str(), nullptr);
    CreateDirectoryA(ProductDir().c_str(), nullptr);
    CreateDirectoryA((ProductDir() + "\\Sub").c_str(), nullptr);
    const std::vector<std::string> debris = {temp + "\\VRK1F.tmp", ProductDir() + "\\WT2.tmp",
                                             ProductDir() + "\\Sub\\VR3.tmp"};
    for (const std::string& f : debris) WriteFileBytes(f, "left over");

    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=1\nFile1=b.dll;b.dll;Sub;;;10;;existence;\n");
    for (const std::string& f : debris) EXPECT_FALSE(PathExists(f)) << f;
    EXPECT_TRUE(m_pTrace->HasLine("Removed 3 temporary files left by an earlier run")) << m_pTrace->Dump();
    EXPECT_LT(m_pTrace->IndexOf("Removed 3 temporary files"), m_pTrace->IndexOf("PrepareDownload Down file="));

    std::string own = Ext()->m_achCurIniFile;
    ASSERT_EQ(0, _strnicmp(own.c_str(), (temp + "\\VRK").c_str(), temp.size() + 4)) << own;
    CVRGpcInstallationMgr& mgr = Ext()->m_InstallationMgr;
    EXPECT_EQ(0, mgr.RemoveLeftoverTempFiles(mgr.Items, 0, nullptr));
    EXPECT_TRUE(PathExists(own));
}
