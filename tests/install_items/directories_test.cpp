// Install directories, install and redirect paths, system targets and the
// print spooler, against this Wine prefix's real directories.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <functional>
#include <string>

#include "feedback/trace.h"
#include "items_test_util.h"
#include "npvrgpc/handles.h"
#include "support/scoped_wow64.h"
#include "support/trace_capture.h"

namespace {

const char GPC_DEFAULT_DIR[] = "C:\\Program Files\\App\\1.0";
const char GPC_SYSTEM_DIR[] = "C:\\windows\\system32";
const char GPC_WINDOWS_DIR[] = "C:\\windows";
const char GPC_PRINTER_DRIVER_DIR[] = "C:\\windows\\system32\\spool\\drivers\\w32x86";
const char GPC_X64_PRINTER_DRIVER_DIR[] = "C:\\windows\\system32\\spool\\drivers\\x64";

std::string ModuleDir()
{
    std::string dir = TestBinDir();
    return dir.substr(0, dir.size() - 1);
}

GpcInstallItem MakeItem(const char* lpszName, const char* lpszTarget)
{
    GpcInstallItem item(nullptr);
    item.SourceName.Assign(lpszName);
    item.Target.Assign(lpszTarget);
    return item;
}

std::string InstallDir(CVRGpcInstallationMgr& mgr, const char* lpszTarget, const char* lpszName = "x.dll")
{
    GpcInstallItem item = MakeItem(lpszName, lpszTarget);
    char achDir[GPC_MAX_PATH];
    memset(achDir, '#', sizeof(achDir));
    mgr.GetInstallDir(&item, achDir);
    return achDir;
}

struct DirCase {
    const char* target;  // null: absent
    std::string expected;
};

TEST(InstallDir, TargetsResolveAgainstDefaultAndSystemDirectories)
{
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.DefaultInstallDir.Assign(GPC_DEFAULT_DIR);
    const std::string def = GPC_DEFAULT_DIR;
    const DirCase cases[] = {
        {nullptr, def},
        {"", def},
        {"%system%", GPC_SYSTEM_DIR},
        {"%SYSTEM%", GPC_SYSTEM_DIR},
        {"%kdriver%", std::string(GPC_SYSTEM_DIR) + "\\drivers"},
        {"%windows%/Fonts", std::string(GPC_WINDOWS_DIR) + "\\Fonts"},
        {"%Windows%", GPC_WINDOWS_DIR},
        {"Plugins\\Extra", def + "\\Plugins\\Extra"},
        {"Plugins//Extra\\", def + "\\Plugins\\Extra"},
        {"\\Shared", "C:\\Shared"},
        {"/Shared/%system%", "C:\\Shared\\%system%"},
        {"/", "C:"},
        {"\\\\/", "C:"},
        {"D:\\Tools", "D:\\Tools"},
        {"x:rel", "x:rel"},
        {"Sub/%system%", def + "\\Sub\\%system%"},
        {"%bogus%\\x", def + "\\%bogus%\\x"},
        {"%pdriver%", GPC_PRINTER_DRIVER_DIR},
        {"%pdriver%/sub", std::string(GPC_PRINTER_DRIVER_DIR) + "\\sub"},
        {"%uninstall%", ModuleDir()},
        {"%uninstall%\\Remove", ModuleDir() + "\\Remove"},
    };
    for (const DirCase& c : cases)
        EXPECT_EQ(c.expected, InstallDir(mgr, c.target)) << (c.target ? c.target : "(absent)");
}

// A 32-bit process on 64-bit Windows: kernel drivers go to the native
// folder (through its alias), x64 printer drivers to the x64 environment;
// every other token means what it means on 32-bit Windows.
TEST(InstallDir, SystemTokensUnderWow64NameTheFoldersThatLoadTheFiles)
{
    struct {
        const char* target;
        bool wow64;
        std::string expected;
    } cases[] = {
        {"%kdriver%", false, std::string(GPC_SYSTEM_DIR) + "\\drivers"},
        {"%kdriver%", true, std::string(GPC_WINDOWS_DIR) + "\\Sysnative\\drivers"},
        {"%KDRIVER%\\sub", true, std::string(GPC_WINDOWS_DIR) + "\\Sysnative\\drivers\\sub"},
        {"%pdriver64%", true, GPC_X64_PRINTER_DRIVER_DIR},
        {"%PDriver64%/sub", true, std::string(GPC_X64_PRINTER_DRIVER_DIR) + "\\sub"},
        {"%pdriver64%", false, ""},
        {"%pdriver%", true, GPC_PRINTER_DRIVER_DIR},
        {"%system%", true, GPC_SYSTEM_DIR},
        {"%windows%", true, GPC_WINDOWS_DIR},
    };
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.DefaultInstallDir.Assign(GPC_DEFAULT_DIR);
    for (const auto& c : cases) {
        ScopedWow64 wow64(c.wow64);
        mgr.ForgetInstallDirs();
        EXPECT_EQ(c.expected, InstallDir(mgr, c.target)) << c.target << (c.wow64 ? " (WOW64)" : "");
    }
}

TEST(InstallDir, DefaultWithoutDriveOrWithTrailingSeparator)
{
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.DefaultInstallDir.Assign("C:\\App\\");
    EXPECT_EQ("C:\\App\\Plugins", InstallDir(mgr, "Plugins"));
    EXPECT_EQ("C:\\App\\", InstallDir(mgr, ""));
    mgr.DefaultInstallDir.Assign("\\\\server\\share\\App");
    EXPECT_EQ("\\Shared", InstallDir(mgr, "\\Shared"));
    EXPECT_EQ("", InstallDir(mgr, "/"));
    EXPECT_EQ("\\\\server\\share\\App\\Sub", InstallDir(mgr, "Sub"));
}

TEST(InstallDir, TracesTheResultWithTheItemName)
{
    TraceCapture trace;
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.DefaultInstallDir.Assign(GPC_DEFAULT_DIR);
    InstallDir(mgr, "%windows%/Fonts", "font.ttf");
    EXPECT_TRUE(trace.HasLine("CVRGPCEXT::GetInstallDir,installdir = C:\\windows\\Fonts,file = font.ttf"))
        << trace.Dump();
}

TEST(InstallDir, UninstallTokenUsesTheProfileBaseInUserDirectoryMode)
{
    OwnedManager owned;
    owned.Manager().DefaultInstallDir.Assign(GPC_DEFAULT_DIR);
    EXPECT_EQ(ModuleDir(), InstallDir(owned.Manager(), "%uninstall%"));

    owned.Owner().bUserDirRoot = 1;
    struct {
        const char* profile;
        const char* temp;
        const char* tmp;
        const char* expected;
    } cases[] = {
        {"C:\\users\\probe", "C:\\t1", "C:\\t2", "C:\\users\\probe"},
        {nullptr, "C:\\t1", "C:\\t2", "C:\\t1"},
        {nullptr, nullptr, "C:\\t2", "C:\\t2"},
        {nullptr, nullptr, nullptr, "\\"},
    };
    for (const auto& c : cases) {
        ScopedEnv profile("USERPROFILE", c.profile);
        ScopedEnv temp("TEMP", c.temp);
        ScopedEnv tmp("TMP", c.tmp);
        TraceCapture trace;
        EXPECT_EQ(c.expected, InstallDir(owned.Manager(), "%uninstall%"));
        EXPECT_TRUE(trace.HasLine(std::string("Use alternate path instead of %uninstall%:") + c.expected))
            << trace.Dump();
        EXPECT_EQ(std::string(c.expected) + (std::string(c.expected) == "\\" ? "" : "\\") + "Bin",
                  InstallDir(owned.Manager(), "%uninstall%/Bin"));
    }
}

TEST(InstallPath, JoinsDirectoryAndNameAndRedirectsToTheDefault)
{
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.DefaultInstallDir.Assign(GPC_DEFAULT_DIR);
    GpcInstallItem item = MakeItem("x.dll", "%system%");
    char achPath[GPC_MAX_PATH];

    mgr.GetInstallPath(&item, achPath);
    EXPECT_STREQ("C:\\windows\\system32\\x.dll", achPath);
    mgr.GetRedirectDir(&item, achPath);
    EXPECT_STREQ(GPC_DEFAULT_DIR, achPath);
    mgr.GetRedirectPath(&item, achPath);
    EXPECT_STREQ("C:\\Program Files\\App\\1.0\\x.dll", achPath);
    EXPECT_STREQ("%system%", item.Target.GetText());

    mgr.DefaultInstallDir.Assign("C:\\App\\");
    mgr.GetRedirectPath(&item, achPath);
    EXPECT_STREQ("C:\\App\\x.dll", achPath);
    GpcInstallItem plain = MakeItem("y.dll", nullptr);
    mgr.GetInstallPath(&plain, achPath);
    EXPECT_STREQ("C:\\App\\y.dll", achPath);
    EXPECT_TRUE(plain.Target.IsNull());
}

TEST(InstallPath, SystemTargetsAreOnlyTheWholeSystemTokens)
{
    CVRGpcInstallationMgr mgr(nullptr);
    const struct {
        const char* target;
        int expected;
    } cases[] = {
        {"%system%", 1}, {"%WINDOWS%", 1}, {"%pdriver%", 1}, {"%KDriver%", 1}, {"%pdriver64%", 1},
        {"%uninstall%", 0}, {"%system%\\sub", 0}, {"/%system%", 0}, {"", 0},
        {nullptr, 0}, {"system", 0},
    };
    for (const auto& c : cases) {
        GpcInstallItem item = MakeItem("x.dll", c.target);
        EXPECT_EQ(c.expected, mgr.IsSystemTarget(&item)) << (c.target ? c.target : "(absent)");
    }
}

std::string Dir(size_t nLength)
{
    return "C:\\" + std::string(nLength - 3, 'a');
}

// Paths beyond 259 characters are refused (an empty result and a trace),
// never cut: a cut path would name some other directory.
TEST(InstallPath, OverlongResultsAreRefusedWithoutOverrun)
{
    const struct {
        std::string defaultDir;
        std::string target;
        std::string expected;
    } cases[] = {
        {Dir(259), "", Dir(259)},
        {Dir(260), "", ""},
        {Dir(251), "Plugins", Dir(251) + "\\Plugins"},
        {Dir(252), "Plugins", ""},
        {"C:\\App", "D:\\" + std::string(300, 'd'), ""},
        {"C:\\App", "Sub\\" + std::string(300, 'c') + "\\x", ""},
        {"C:\\App", "%system%\\" + std::string(255, 's'), ""},
        {Dir(300), "\\Shared", "C:\\Shared"},
    };
    for (const auto& c : cases) {
        CVRGpcInstallationMgr mgr(nullptr);
        mgr.DefaultInstallDir.Assign(c.defaultDir.c_str());
        GpcInstallItem item = MakeItem("x.dll", c.target.c_str());
        char achBuffer[600];
        memset(achBuffer, '#', sizeof(achBuffer));
        TraceCapture trace;
        mgr.GetInstallDir(&item, achBuffer);
        EXPECT_EQ(c.expected, std::string(achBuffer)) << c.target;
        EXPECT_EQ(std::string(sizeof(achBuffer) - GPC_MAX_PATH, '#'),
                  std::string(achBuffer + GPC_MAX_PATH, sizeof(achBuffer) - GPC_MAX_PATH));
        EXPECT_EQ(c.expected.empty(), trace.HasLine("CVRGPCEXT::GetInstallDir,path too long,file = x.dll"))
            << trace.Dump();
    }
}

TEST(InstallPath, PathThatNoLongerFitsWithItsNameIsRefused)
{
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.DefaultInstallDir.Assign(Dir(250).c_str());
    char achBuffer[600];

    GpcInstallItem fits = MakeItem("12345678", nullptr);  // 250 + 1 + 8 = 259
    mgr.GetInstallPath(&fits, achBuffer);
    EXPECT_EQ(Dir(250) + "\\12345678", achBuffer);

    GpcInstallItem tooLong = MakeItem("123456789", nullptr);
    memset(achBuffer, '#', sizeof(achBuffer));
    TraceCapture trace;
    mgr.GetInstallPath(&tooLong, achBuffer);
    EXPECT_STREQ("", achBuffer);
    EXPECT_EQ('#', achBuffer[GPC_MAX_PATH]);
    EXPECT_TRUE(trace.HasLine("CVRGPCEXT::GetInstallPath,path too long,file = 123456789")) << trace.Dump();
    mgr.GetRedirectPath(&tooLong, achBuffer);
    EXPECT_STREQ("", achBuffer);
}

TEST(InstallPath, OverlongProfileForUninstallIsRefused)
{
    OwnedManager owned;
    owned.Owner().bUserDirRoot = 1;
    std::string profile = Dir(300);
    ScopedEnv env("USERPROFILE", profile.c_str());
    EXPECT_EQ("", InstallDir(owned.Manager(), "%uninstall%"));
}

// The real "Spooler" service of the Wine prefix.
class Spooler : public testing::Test {
protected:
    void SetUp() override
    {
        m_hManager.Reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(m_hManager);
        m_hService.Reset(OpenServiceA(m_hManager.Get(), "Spooler", SERVICE_ALL_ACCESS));
        ASSERT_TRUE(m_hService);
    }
    DWORD State()
    {
        SERVICE_STATUS status;
        memset(&status, 0, sizeof(status));
        QueryServiceStatus(m_hService.Get(), &status);
        return status.dwCurrentState;
    }
    void Stop()
    {
        SERVICE_STATUS status;
        ControlService(m_hService.Get(), SERVICE_CONTROL_STOP, &status);
        for (int i = 0; i < 100 && State() != SERVICE_STOPPED; ++i)
            Sleep(100);
        ASSERT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State());
    }

    CGpcScHandle m_hManager;
    CGpcScHandle m_hService;
};

TEST_F(Spooler, StoppedSpoolerIsStartedAndReportedRunning)
{
    Stop();
    EXPECT_EQ(1, StartSpoolerService());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State());
}

TEST_F(Spooler, RunningSpoolerIsReportedWithoutWaiting)
{
    StartSpoolerService();
    ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State());
    DWORD dwStart = GetTickCount();
    EXPECT_EQ(1, StartSpoolerService());
    EXPECT_LT(GetTickCount() - dwStart, 900u);
}

TEST_F(Spooler, PrinterDriverTargetStartsTheSpoolerFirst)
{
    Stop();
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.DefaultInstallDir.Assign(GPC_DEFAULT_DIR);
    EXPECT_EQ(std::string(GPC_PRINTER_DRIVER_DIR) + "\\x", InstallDir(mgr, "%pdriver%\\x"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), State());
}

TEST_F(Spooler, VersionedDriverDirectoryIsThreeOnWindows2000AndLater)
{
    char achDir[GPC_MAX_PATH];
    GetVersionedPrinterDriverDir(achDir);
    EXPECT_EQ(std::string(GPC_PRINTER_DRIVER_DIR) + "\\3\\", achDir);
    GetVersionedPrinterDriverDir(achDir, "Windows x64");
    EXPECT_EQ(std::string(GPC_X64_PRINTER_DRIVER_DIR) + "\\3\\", achDir);
}


// Before the product directory is known the default is empty: a path built
// on it would land at the root of the current drive, so none is built.
TEST(InstallPath, EmptyDefaultDirectoryBuildsNoRelativePath)
{
    char achSystem[MAX_PATH];
    GetSystemDirectoryA(achSystem, MAX_PATH);
    const struct {
        const char* target;
        std::string expected;
    } cases[] = {
        {"", ""},
        {nullptr, ""},
        {"Plugins", ""},
        {"\\Shared", ""},
        {"/", ""},
        {"D:\\Abs", "D:\\Abs\\x.dll"},
        {"%system%", std::string(achSystem) + "\\x.dll"},
    };
    for (const auto& c : cases) {
        CVRGpcInstallationMgr mgr(nullptr);
        GpcInstallItem item = MakeItem("x.dll", c.target);
        char achPath[GPC_MAX_PATH];
        mgr.GetInstallPath(&item, achPath);
        EXPECT_EQ(c.expected, std::string(achPath)) << (c.target ? c.target : "(absent)");
    }
}

// How often the item named x.dll had its install directory resolved: each
// resolution ends with one line, the directory (empty when too long) or
// that there is none.
int Resolutions(const TraceCapture& trace)
{
    int nCount = 0;
    for (const std::string& text : trace.Texts()) {
        if (text.rfind("CVRGPCEXT::GetInstallDir,installdir = ", 0) == 0 ||
            text.rfind("CVRGPCEXT::GetInstallDir,no install directory,", 0) == 0) {
            if (text.find(",file = x.dll") != std::string::npos)
                ++nCount;
        }
    }
    return nCount;
}

// An item's directory is resolved once and kept; only a change to what it
// rests on (target, default directory, user-directory mode) or a new pass
// resolves it again. Each case uses the item three times, changes one
// thing, and uses it twice more.
TEST(InstallDir, KeptOnTheItemUntilWhatItRestsOnChanges)
{
    ScopedEnv profile("USERPROFILE", "C:\\users\\probe");
    const std::string def = GPC_DEFAULT_DIR;
    const struct {
        const char* name;
        std::string defaultDir;
        const char* target;
        std::function<void(OwnedManager&, GpcInstallItem&)> change;
        std::string before;
        std::string after;
        int resolutions;
    } cases[] = {
        {"nothing changes", GPC_DEFAULT_DIR, "Plugins", [](OwnedManager&, GpcInstallItem&) {},
         def + "\\Plugins", def + "\\Plugins", 1},
        {"the default directory is given again", GPC_DEFAULT_DIR, "Plugins",
         [](OwnedManager& o, GpcInstallItem&) { o.Manager().DefaultInstallDir.Assign(GPC_DEFAULT_DIR); },
         def + "\\Plugins", def + "\\Plugins", 1},
        {"the default directory changes", GPC_DEFAULT_DIR, "Plugins",
         [](OwnedManager& o, GpcInstallItem&) { o.Manager().DefaultInstallDir.Assign("C:\\Other"); },
         def + "\\Plugins", "C:\\Other\\Plugins", 2},
        {"the target changes", GPC_DEFAULT_DIR, "Plugins",
         [](OwnedManager&, GpcInstallItem& item) { item.Target.Assign("%windows%"); },
         def + "\\Plugins", GPC_WINDOWS_DIR, 2},
        {"an absent target becomes empty", GPC_DEFAULT_DIR, nullptr,
         [](OwnedManager&, GpcInstallItem& item) { item.Target.Assign(""); }, def, def, 1},
        {"the owner moves to the user directory", GPC_DEFAULT_DIR, "%uninstall%",
         [](OwnedManager& o, GpcInstallItem&) { o.Owner().bUserDirRoot = 1; }, ModuleDir(), "C:\\users\\probe",
         2},
        {"a new pass", GPC_DEFAULT_DIR, "%system%",
         [](OwnedManager& o, GpcInstallItem&) { o.Manager().ForgetInstallDirs(); }, GPC_SYSTEM_DIR,
         GPC_SYSTEM_DIR, 2},
        {"a refusal is kept", "", "Plugins", [](OwnedManager&, GpcInstallItem&) {}, "", "", 1},
        {"a refusal ends when the default directory arrives", "", "Plugins",
         [](OwnedManager& o, GpcInstallItem&) { o.Manager().DefaultInstallDir.Assign(GPC_DEFAULT_DIR); }, "",
         def + "\\Plugins", 2},
        {"a path too long is kept refused", Dir(252), "Plugins",
         [](OwnedManager&, GpcInstallItem&) {}, "", "", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedManager owned;
        CVRGpcInstallationMgr& mgr = owned.Manager();
        mgr.DefaultInstallDir.Assign(c.defaultDir.c_str());
        GpcInstallItem item = MakeItem("x.dll", c.target);
        item.Owner = &owned.Owner();
        TraceCapture trace;
        char achDir[GPC_MAX_PATH];
        char achPath[GPC_MAX_PATH];
        for (int i = 0; i < 3; ++i) {
            mgr.GetInstallDir(&item, achDir);
            EXPECT_EQ(c.before, achDir);
            mgr.GetInstallPath(&item, achPath);
            EXPECT_EQ(c.before.empty() ? "" : c.before + "\\x.dll", achPath);
        }
        c.change(owned, item);
        for (int i = 0; i < 2; ++i) {
            mgr.GetInstallPath(&item, achPath);
            EXPECT_EQ(c.after.empty() ? "" : c.after + "\\x.dll", achPath);
            mgr.GetInstallDir(&item, achDir);
            EXPECT_EQ(c.after, achDir);
        }
        EXPECT_EQ(c.resolutions, Resolutions(trace)) << trace.Dump();
    }
}

}  // namespace
