// The manifest's arrival: its copies, the product directory, the update
// settings in the registry and the file list it yields.
#include "extension_fixture.h"
#include "support/case_names.h"
#include "support/scoped_wow64.h"

namespace {

std::vector<std::string> ItemNames(CVRGpcExtension* p)
{
    std::vector<std::string> v;
    for (int i = 0; i < p->m_InstallationMgr.GetItemCount(); ++i) {
        const char* lpsz = p->m_InstallationMgr.GetItem(i)->SourceName.GetText();
        v.push_back(lpsz ? lpsz : "<null>");
    }
    return v;
}

std::string Entry(const std::string& name)
{
    return name + ";" + name + ";;;;;;existence;";
}

}  // namespace

using Manifest = ExtensionTest;

TEST_F(Manifest, DownloadWithoutFileFailsWithErrorFive)
{
    SetOrdinaryPage();
    EnableReports();
    ASSERT_EQ(0, Init());
    m_pHost->Progress(0, 100);  // progress of the manifest changes nothing
    EXPECT_EQ(0, Ext()->m_bFailed);
    m_pHost->Complete(0, nullptr);
    EXPECT_EQ(1, Ext()->m_bFailed);
    EXPECT_EQ(0, Ext()->m_bReady);
    EXPECT_EQ(std::vector<int>{5}, ReportedCodes());
    EXPECT_EQ('\0', Ext()->m_achCurIniFile[0]);
}

struct ParseCase {
    const char* name;
    friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }
    std::string manifest;
    std::vector<std::string> items;
    std::vector<std::string> traces;  // lines that must appear
};

static std::vector<ParseCase> MakeParseCases()
{
    // The long tail lies in a field that no url or path is made of.
    const std::string longEntry = "big.dll;big.dll;;;;;" + std::string(3000, 'a');
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919) & 0xFF));
    return {
        {"ordinary", "[Corvo]\nCount=2\nFile1=" + Entry("main.dll") + "\nFile2=" + Entry("b.dll") + "\n",
         {"main.dll", "b.dll"}, {"vrgpcext: regular sec Corvo", "There are 2 files in the file list"}},
        {"third of five entries empty",
         "[Corvo]\nCount=5\nFile1=" + Entry("a.dll") + "\nFile2=" + Entry("b.dll") + "\nFile3=\nFile4=" +
             Entry("d.dll") + "\n",
         {"a.dll", "b.dll"}, {"There are 5 files in the file list", "Invalid INI file format"}},
        {"one-character entry ends the list", "[Corvo]\nCount=2\nFile1=x\nFile2=" + Entry("b.dll") + "\n", {},
         {"Invalid INI file format"}},
        {"count far larger than its entries", "[Corvo]\nCount=2000000000\nFile1=" + Entry("a.dll") + "\n",
         {"a.dll"}, {"There are 2000000000 files in the file list", "Invalid INI file format"}},
        {"empty file", "", {}, {"Invalid INI file format(0 files in Ini)"}},
        {"binary file", binary, {}, {"Invalid INI file format(0 files in Ini)"}},
        {"truncated in the middle of an entry", "[Corvo]\nCount=3\nFile1=" + Entry("a.dll") + "\nFile2=b.d",
         {"a.dll", "b.d"}, {"Invalid INI file format"}},
        {"count without digits", "[Corvo]\nCount=many\nFile1=" + Entry("a.dll") + "\n", {},
         {"Invalid INI file format(0 files in Ini)"}},
        {"negative count", "[Corvo]\nCount=-3\nFile1=" + Entry("a.dll") + "\n", {},
         {"Invalid INI file format(0 files in Ini)"}},
        {"entry longer than a line", "[Corvo]\nCount=2\nFile1=" + longEntry + "\nFile2=" + Entry("b.dll") + "\n",
         {"big.dll", "b.dll"}, {"There are 2 files in the file list"}},
        {"other section only", "[Other]\nCount=1\nFile1=" + Entry("a.dll") + "\n", {},
         {"Invalid INI file format(0 files in Ini)"}},
    };
}

class ManifestParsing : public Manifest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ManifestParsing, FileListFromTheActiveSectionSurvivesBadManifests)
{
    const ParseCase& c = GetParam();
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    DeliverManifest(c.manifest);
    CVRGpcExtension* p = Ext();
    EXPECT_EQ(1, p->m_bReady);
    EXPECT_EQ(0, p->m_bFailed);
    EXPECT_EQ(c.items, ItemNames(p));
    for (const std::string& t : c.traces) EXPECT_TRUE(m_pTrace->HasLine(t)) << t << "\n" << m_pTrace->Dump();
    // Every listed file is missing, so each one is asked of the host.
    EXPECT_EQ(c.items.size() + 1, m_pHost->downloads.size());
}

INSTANTIATE_TEST_SUITE_P(, ManifestParsing, ::testing::ValuesIn(MakeParseCases()), CaseName());

TEST_F(Manifest, ActiveSectionParameterChoosesTheSection)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcActiveIniSection", "Beta");
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("a.dll") + "\n[beta]\nCount=1\nFile1=" + Entry("b.dll") +
                    "\n");
    EXPECT_EQ(std::vector<std::string>{"b.dll"}, ItemNames(Ext()));
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: regular sec Beta"));
}

TEST_F(Manifest, TwoCopiesAreKeptAndOnlyTheTemporaryOneIsDeletedAtExit)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    const std::string text = "[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n";
    DeliverManifest(text);

    const std::string beside = TestBinDir() + m_strIniName;
    EXPECT_EQ(text, ReadFileBytes(beside));

    const std::string temp = Ext()->m_achCurIniFile;
    char achTempDir[MAX_PATH];
    GetTempPathA(MAX_PATH, achTempDir);
    ASSERT_EQ(0u, temp.find(std::string(achTempDir) + "VRK")) << temp;
    EXPECT_EQ(text, ReadFileBytes(temp));

    Exit();
    EXPECT_FALSE(PathExists(temp));
    EXPECT_TRUE(PathExists(beside));
}

// The copy beside the library takes the manifest's name only when that is
// a plain ".ini" name: a page naming another file (or a path, or a device)
// gets the per-OS manifest, copied under its own name, and the file it
// named is left alone.
TEST_F(Manifest, CopyBesideTheLibraryIsOnlyEverAManifest)
{
    const std::string victim = "victim" + m_strIniName + ".dll";
    const std::string up = "up" + m_strIniName;
    const std::string perOs = TestBinDir() + "gpc2k.ini";
    for (const std::string& name : {victim, "..\\" + up, "sub\\" + up}) {
        SCOPED_TRACE(name);
        WriteFileBytes(TestBinDir() + victim, "victim");
        DeleteFileA(perOs.c_str());
        SetOrdinaryPage();
        m_pHost->SetParam("GpcIniFileName", name);
        ASSERT_EQ(0, Init());
        ASSERT_EQ(1u, m_pHost->downloads.size());
        EXPECT_EQ(0u, m_pHost->downloads[0].url.find("http://127.0.0.1/files/gpc2k.ini?"));
        DeliverManifest("[Corvo]\nCount=0\n");
        EXPECT_EQ("victim", ReadFileBytes(TestBinDir() + victim));
        EXPECT_FALSE(PathExists(TestBinDir() + "..\\" + up));
        EXPECT_FALSE(PathExists(TestBinDir() + up));
        EXPECT_EQ("[Corvo]\nCount=0\n", ReadFileBytes(perOs));
        Exit();
        ResetModuleStateForTesting();
        m_pHost->downloads.clear();
    }
    DeleteFileA((TestBinDir() + victim).c_str());
    DeleteFileA(perOs.c_str());
}

TEST_F(Manifest, ProductDirectoryIsCreatedBelowTheHostDirectory)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n");
    CVRGpcExtension* p = Ext();
    EXPECT_STREQ(ProductDir().c_str(), p->m_InstallationMgr.DefaultInstallDir.GetText());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ProductDir().c_str()));
    EXPECT_STREQ("http://127.0.0.1/files", p->m_InstallationMgr.UrlRoot.GetText());

    char achRoot[GPC_MAX_PATH];
    p->GetProductDir(achRoot, 1);
    EXPECT_EQ(m_pHost->directory, achRoot);
}

TEST_F(Manifest, HostDirectoryEndingInSeparatorGetsNoSecondOne)
{
    SetOrdinaryPage();
    m_pHost->directory += "\\";
    ASSERT_EQ(0, Init());
    char achDir[GPC_MAX_PATH];
    Ext()->GetProductDir(achDir, 0);
    EXPECT_EQ(m_pHost->directory + m_strProductRoot + "\\1.0", achDir);
}

struct HostKindCase {
    const char* name;
    friend void PrintTo(const HostKindCase& c, std::ostream* os) { *os << c.name; }
    bool pluginHost;
};

const HostKindCase kHostKindCases[] = {
    {"plug-in host", true},
    {"ActiveX host", false},
};

class ManifestBrowserTag : public Manifest, public ::testing::WithParamInterface<HostKindCase> {};

TEST_P(ManifestBrowserTag, InstallationLogRecordsTheBrowserTag)
{
    const HostKindCase& c = GetParam();
    SetOrdinaryPage();
    m_pHost->SetPluginMarker(c.pluginHost);
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=0\n");
    std::string tag = "Internet Explorer";
    if (c.pluginHost) {
        char achTag[GPC_MAX_PATH];
        Ext()->GetHostProductVersion(achTag, sizeof(achTag));
        tag = achTag;
    }
    const std::string key = "SOFTWARE\\" + m_strProductRoot + "\\Deinstall\\" + tag + "\\" + m_strProductRoot +
                            "\\1.0";
    EXPECT_EQ(ProductDir(), ReadRegString(HKEY_LOCAL_MACHINE, key, "DefInstallDir")) << key;
}

INSTANTIATE_TEST_SUITE_P(, ManifestBrowserTag, ::testing::ValuesIn(kHostKindCases), CaseName());

namespace {

// A standard user: the machine's hive refuses writing the log's root key.
PFN_GpcOpenLogRootKey g_pfnRealLogRootOpen = nullptr;
LONG MachineHiveRefused(CGpcRegKey* pKey, HKEY hHive, const char* lpszRootKey)
{
    if (hHive == HKEY_LOCAL_MACHINE) return ERROR_ACCESS_DENIED;
    return g_pfnRealLogRootOpen(pKey, hHive, lpszRootKey);
}

}  // namespace

TEST_F(Manifest, StandardUserKeepsTheLogAndTheVersionsUnderTheUser)
{
    SetOrdinaryPage();
    m_pHost->SetPluginMarker(false);
    CreateDirectoryA((m_pHost->directory + "\\" + m_strProductRoot).c_str(), nullptr);
    CreateDirectoryA(ProductDir().c_str(), nullptr);
    WriteFileBytes(ProductDir() + "\\main.dll", "head#~@CorvoVersionTag@~#2.1");
    g_pfnRealLogRootOpen = SetLogRootOpenForTesting(&MachineHiveRefused);
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=1\nFile1=main.dll;main.dll;;2.1;;;;vertag;\n");
    SetLogRootOpenForTesting(nullptr);

    const std::string key =
        "SOFTWARE\\" + m_strProductRoot + "\\Deinstall\\Internet Explorer\\" + m_strProductRoot + "\\1.0";
    bool bMachine = true;
    ReadRegString(HKEY_LOCAL_MACHINE, key, "DefInstallDir", &bMachine);
    EXPECT_FALSE(bMachine);
    EXPECT_EQ(ProductDir(), ReadRegString(HKEY_CURRENT_USER, key, "DefInstallDir")) << key;
    // The file was current: nothing was fetched, and its version is kept
    // for the next start beside the user's log.
    EXPECT_EQ(1u, m_pHost->downloads.size());
    bool bKept = false;
    ReadRegString(HKEY_CURRENT_USER, key + "\\" + CVRGpcVersionCache::StoreKeyName(), ProductDir() + "\\main.dll",
                  &bKept);
    EXPECT_TRUE(bKept) << m_pTrace->Dump();
}

struct SettingCase {
    const char* name;
    friend void PrintTo(const SettingCase& c, std::ostream* os) { *os << c.name; }
    bool filePresent;  // the one item is installed already (no update pending)
    std::vector<std::pair<std::string, std::string>> hkcu;
    std::vector<std::pair<std::string, std::string>> hklm;
    int expectedUpdate;
    int expectedSetting;
    bool downloads;
    bool failed;
};

const SettingCase kSettingCases[] = {
    {"no settings", false, {}, {}, 1, 0, true, false},
    {"autoupdate on", false, {{"autoupdate", "1"}}, {}, 1, 0, true, false},
    {"off in HKCU only, nothing pending", true, {{"autoupdate", "0"}}, {}, 0, 1, false, false},
    {"off, pending, alwaysconnect 1", false, {{"autoupdate", "0"}, {"alwaysconnect", "1"}}, {}, 1, 1, false, false},
    {"off, pending, alwaysconnect missing", false, {{"autoupdate", "0"}}, {}, 1, 1, false, false},
    {"off, pending, alwaysconnect 0", false, {{"autoupdate", "0"}, {"alwaysconnect", "0"}}, {}, 1, 2, false, true},
    {"off, pending, connectmsg", false,
     {{"autoupdate", "0"}, {"alwaysconnect", "0"}, {"connectmsg", "Please update %s %d"}}, {}, 1, 2, false, true},
    {"HKLM wins over HKCU", false, {{"autoupdate", "0"}, {"alwaysconnect", "0"}}, {{"autoupdate", "1"}}, 1, 0, true,
     false},
    {"HKLM key without autoupdate falls back to HKCU", false, {{"autoupdate", "0"}}, {{"connectmsg", "x"}}, 1, 1,
     false, false},
};

class ManifestUpdateSettings : public Manifest, public ::testing::WithParamInterface<SettingCase> {};

TEST_P(ManifestUpdateSettings, UpdateSettingsDecideWhetherFilesAreFetched)
{
    const SettingCase& c = GetParam();
    SetOrdinaryPage();
    for (const auto& v : c.hkcu) SetUpdateSetting(HKEY_CURRENT_USER, v.first, v.second);
    for (const auto& v : c.hklm) SetUpdateSetting(HKEY_LOCAL_MACHINE, v.first, v.second);
    if (c.filePresent) {
        CreateDirectoryA((m_pHost->directory + "\\" + m_strProductRoot).c_str(), nullptr);
        CreateDirectoryA(ProductDir().c_str(), nullptr);
        WriteFileBytes(ProductDir() + "\\main.dll", "installed");
    }
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n");
    CVRGpcExtension* p = Ext();
    EXPECT_TRUE(m_pTrace->HasLine("CheckUpdateStatus:" + m_strProductRoot + ",1.0,Software\\" + m_strProductRoot +
                                  "\\1.0\\"))
        << m_pTrace->Dump();
    EXPECT_TRUE(m_pTrace->HasLine("Update setting: " + std::to_string(c.expectedUpdate) + "," +
                                  std::to_string(c.expectedSetting)))
        << m_pTrace->Dump();
    EXPECT_EQ(c.downloads ? 2u : 1u, m_pHost->downloads.size());
    EXPECT_EQ(c.failed ? 1 : 0, p->m_bFailed);
    EXPECT_EQ(1, p->m_bReady);
    ASSERT_EQ(1, p->m_InstallationMgr.GetItemCount());
    if (!c.downloads) {
        EXPECT_EQ(ITEM_DONE, p->m_InstallationMgr.GetItem(0)->State);
    }
}

INSTANTIATE_TEST_SUITE_P(, ManifestUpdateSettings, ::testing::ValuesIn(kSettingCases), CaseName());

TEST_F(Manifest, StandardDownloadModeReadsSettingsBelowTheVersionAlone)
{
    SetOrdinaryPage();
    m_pHost->SetParam("GpcStdDownload", "1");
    ASSERT_EQ(0, Init());
    HKEY hKey = nullptr;
    // "Software\<version>": give the version a name of this test's own.
    m_pHost->SetParam("GpcProductVersion", m_strProductRoot);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, ("Software\\" + m_strProductRoot).c_str(), 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr));
    RegSetValueExA(hKey, "autoupdate", 0, REG_SZ, reinterpret_cast<const BYTE*>("0"), 2);
    RegCloseKey(hKey);
    EXPECT_EQ(1, Ext()->CheckUpdateStatus(0));
    EXPECT_TRUE(m_pTrace->HasLine("CheckUpdateStatus:" + m_strProductRoot + "," + m_strProductRoot + ",Software\\" +
                                  m_strProductRoot + "\\"))
        << m_pTrace->Dump();
    EXPECT_EQ(0, Ext()->m_bFailed);
}

// On 64-bit Windows the machine's 64-bit view is asked first (in this
// 32-bit prefix both views are one key, so the first one asked answers).
TEST_F(Manifest, UpdateSettingsTraceTheKeyThatAnswered)
{
    struct {
        const char* name;
        bool wow64;
        bool machine;  // "autoupdate" in HKLM
        bool user;     // "autoupdate" in HKCU
        const char* line;
    } cases[] = {
        {"32-bit Windows, machine", false, true, true, "Update settings from HKEY_LOCAL_MACHINE"},
        {"32-bit Windows, user", false, false, true, "Update settings from HKEY_CURRENT_USER"},
        {"64-bit Windows, machine", true, true, true, "Update settings from HKEY_LOCAL_MACHINE (64-bit view)"},
        {"64-bit Windows, user", true, false, true, "Update settings from HKEY_CURRENT_USER"},
        {"64-bit Windows, none", true, false, false, "Update settings: none"},
    };
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteRegTree(HKEY_LOCAL_MACHINE, "Software\\" + m_strProductRoot);
        DeleteRegTree(HKEY_CURRENT_USER, "Software\\" + m_strProductRoot);
        if (c.machine) SetUpdateSetting(HKEY_LOCAL_MACHINE, "autoupdate", "0");
        if (c.user) SetUpdateSetting(HKEY_CURRENT_USER, "autoupdate", "0");
        ScopedWow64 wow64(c.wow64);
        m_pTrace->Clear();
        EXPECT_EQ(c.machine || c.user ? 1 : 0, Ext()->CheckUpdateStatus(0));
        EXPECT_TRUE(m_pTrace->HasLine(c.line)) << m_pTrace->Dump();
    }
}

TEST_F(Manifest, OverlongSettingIsTreatedAsMissing)
{
    SetOrdinaryPage();
    SetUpdateSetting(HKEY_CURRENT_USER, "autoupdate", "0" + std::string(400, 'x'));
    ASSERT_EQ(0, Init());
    EXPECT_EQ(0, Ext()->CheckUpdateStatus(1));
}

struct UserDirCase {
    const char* name;
    friend void PrintTo(const UserDirCase& c, std::ostream* os) { *os << c.name; }
    const char* userProfile;  // "<work>" stands for a folder of the test
    const char* temp;
    const char* tmp;
    int expectedRoot;  // 0 USERPROFILE, 1 TEMP, 2 TMP
};

const UserDirCase kUserDirCases[] = {
    {"USERPROFILE", "<work>", "<work>", "<work>", 0},
    {"TEMP when USERPROFILE is unset", nullptr, "<work>", "<work>", 1},
    {"TMP when the others are unset", nullptr, nullptr, "<work>", 2},
};

class ManifestUserDir : public Manifest, public ::testing::WithParamInterface<UserDirCase> {};

TEST_P(ManifestUserDir, UnwritableProductDirectoryMovesBelowTheUserDirectoryForTheProcess)
{
    const UserDirCase& c = GetParam();
    const std::string roots[] = {MakeTempDir("profile"), MakeTempDir("temp"), MakeTempDir("tmp")};
    SetEnv("USERPROFILE", c.userProfile ? roots[0].c_str() : nullptr);
    SetEnv("TEMP", c.temp ? roots[1].c_str() : nullptr);
    SetEnv("TMP", c.tmp ? roots[2].c_str() : nullptr);
    const std::string userDir = roots[c.expectedRoot] + "\\" + m_strProductRoot + "\\1.0";

    SetOrdinaryPage();
    // A plain file where the product folder should be: nothing can be
    // created inside it.
    WriteFileBytes(m_pHost->directory + "\\" + m_strProductRoot, "not a folder");
    ASSERT_EQ(0, Init());
    EXPECT_EQ(0, Ext()->m_bUserDirAsRoot);
    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n");

    CVRGpcExtension* p = Ext();
    EXPECT_EQ(1, p->m_bUserDirAsRoot);
    EXPECT_STREQ(userDir.c_str(), p->m_InstallationMgr.DefaultInstallDir.GetText());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(userDir.c_str()));
    EXPECT_TRUE(m_pTrace->HasLine("VRGPCEXT::ParseInitFile,bUpdate = 1")) << m_pTrace->Dump();
    EXPECT_TRUE(m_pTrace->HasLine("VRGPCEXT::EnableUserDirAsRoot,bValue = 1"));
    EXPECT_TRUE(m_pTrace->HasLine("Change default installation directory to " + userDir));
    // The item's directory, resolved for the update decision, is resolved
    // again for the download once the default directory has moved.
    EXPECT_TRUE(m_pTrace->HasLine("CVRGPCEXT::GetInstallDir,installdir = " + userDir + ",file = main.dll"))
        << m_pTrace->Dump();
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5A5A)),
              GetPropA(GetDesktopWindow(), UserDirMarkName().c_str()));
    // The file is still fetched, now for the user directory.
    ASSERT_EQ(2u, m_pHost->downloads.size());

    // A later instance in this process starts there at once and does not
    // consult the update settings again.
    Exit();
    m_pTrace.reset();
    m_pHost.reset();
    ResetModuleStateForTesting();
    m_pHost.reset(new FakeHost());
    m_pTrace.reset(new TraceCapture());
    SetOrdinaryPage();
    SetUpdateSetting(HKEY_CURRENT_USER, "autoupdate", "0");
    ASSERT_EQ(0, Init());
    EXPECT_EQ(1, Ext()->m_bUserDirAsRoot);
    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n");
    EXPECT_STREQ(userDir.c_str(), Ext()->m_InstallationMgr.DefaultInstallDir.GetText());
    EXPECT_FALSE(m_pTrace->Contains("CheckUpdateStatus:"));
    EXPECT_EQ(2u, m_pHost->downloads.size());
}

INSTANTIATE_TEST_SUITE_P(, ManifestUserDir, ::testing::ValuesIn(kUserDirCases), CaseName());

TEST_F(Manifest, WritableProductDirectoryLeavesNoTestFileBehind)
{
    SetOrdinaryPage();
    ASSERT_EQ(0, Init());
    DeliverManifest("[Corvo]\nCount=1\nFile1=" + Entry("main.dll") + "\n");
    EXPECT_EQ(0, Ext()->m_bUserDirAsRoot);
    EXPECT_TRUE(m_pTrace->Contains("VRGPCEXT::achTestFile : " + ProductDir() + "\\WT")) << m_pTrace->Dump();
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((ProductDir() + "\\WT*").c_str(), &data);
    EXPECT_EQ(INVALID_HANDLE_VALUE, hFind);
    if (hFind != INVALID_HANDLE_VALUE) FindClose(hFind);
    EXPECT_EQ(nullptr, GetPropA(GetDesktopWindow(), UserDirMarkName().c_str()));
}
