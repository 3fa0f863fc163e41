// Installation on the Windows 9x family: replacement at restart goes
// through WININIT.INI, and busy system files are not a question of rights.
//
// The program runs its tests as a Windows 98 program. Wine takes the
// version of a program from the prefix's registry
// (HKCU\Software\Wine\AppDefaults\<program.exe>\Version) when the program
// starts, so main() sets that value and starts the program again, handing
// its own standard handles and arguments to the second run.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "support/process.h"

namespace {

using Installation9x = InstallTest;

const char GPC_CHILD_MARK[] = "GPC_INSTALL_9X_RUN";

std::string WininitPath()
{
    char achDir[MAX_PATH];
    GetWindowsDirectoryA(achDir, sizeof(achDir));
    return std::string(achDir) + "\\WININIT.INI";
}

std::string RenameEntry(const std::string& key)
{
    char achValue[MAX_PATH] = "";
    GetPrivateProfileStringA("rename", key.c_str(), "", achValue, sizeof(achValue), WininitPath().c_str());
    return achValue;
}

// Puts WININIT.INI back as it was: the tests may create it.
class WininitGuard {
public:
    WininitGuard() : m_bExisted(PathExists(WininitPath()))
    {
        if (m_bExisted) m_Content = ReadFileBytes(WininitPath());
    }
    ~WininitGuard()
    {
        if (m_bExisted)
            WriteFileBytes(WininitPath(), m_Content);
        else
            DeleteFileA(WininitPath().c_str());
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, WininitPath().c_str());  // drop cached copies
    }

private:
    bool m_bExisted;
    std::string m_Content;
};

}  // namespace

TEST_F(Installation9x, ProgramRunsAsWindows98)
{
    OSVERSIONINFOA vi;
    vi.dwOSVersionInfoSize = sizeof(vi);
    ASSERT_TRUE(GetVersionExA(&vi));
    EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS), vi.dwPlatformId);
    EXPECT_EQ(4u, vi.dwMajorVersion);
    EXPECT_EQ(10u, vi.dwMinorVersion);
    EXPECT_EQ(0, IsWindowsNT());
}

TEST_F(Installation9x, ReplaceAtRebootWritesShortNamesIntoANewWininit)
{
    WininitGuard guard;
    DeleteFileA(WininitPath().c_str());
    PendingRenamesGuard pendingGuard;
    std::vector<std::string> pendingBefore = PendingRenames();

    CreateDirectoryA((dir + "\\Long Folder Name").c_str(), nullptr);
    std::string from = workDir + "\\new file.tmp";
    std::string to = dir + "\\Long Folder Name\\installed library.dll";
    WriteFileBytes(from, "NEW");
    WriteFileBytes(to, "OLD");
    std::string shortFrom = ShortPath(from);
    std::string shortTo = ShortPath(to);
    ASSERT_FALSE(shortFrom.empty());
    ASSERT_FALSE(shortTo.empty());
    ASSERT_NE(to, shortTo);

    ReplaceFileAtReboot(from.c_str(), to.c_str());

    EXPECT_TRUE(PathExists(WininitPath()));
    EXPECT_EQ(shortFrom, RenameEntry(shortTo));
    EXPECT_EQ("", RenameEntry(to));
    EXPECT_EQ(pendingBefore, PendingRenames());
    EXPECT_EQ("OLD", ReadFileBytes(to));
}

TEST_F(Installation9x, ReplaceAtRebootKeepsTheEntriesAlreadyInWininit)
{
    WininitGuard guard;
    WritePrivateProfileStringA("rename", "C:\\OTHER.DLL", "C:\\OTHER.TMP", WininitPath().c_str());
    std::string from = workDir + "\\n.tmp";
    std::string to = dir + "\\a.dll";
    WriteFileBytes(from, "NEW");
    WriteFileBytes(to, "OLD");

    ReplaceFileAtReboot(from.c_str(), to.c_str());

    EXPECT_EQ("C:\\OTHER.TMP", RenameEntry("C:\\OTHER.DLL"));
    EXPECT_EQ(ShortPath(from), RenameEntry(ShortPath(to)));
}

TEST_F(Installation9x, BusyDestinationWithRebootLeavesARenameEntryForTheRestart)
{
    WininitGuard guard;
    GpcInstallItem* pItem = Add("busy library.dll;u;;;;;;;reboot");
    std::string target = InstallPath(pItem);
    WriteFileBytes(target, "INSTALLED");
    {
        BusyFile busy(target);
        EXPECT_EQ(GPC_INSTALL_RESTART_NEEDED, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    ASSERT_EQ(1u, host.unpacks.size());
    std::string temp = host.unpacks[0].dest;
    EXPECT_EQ("NEW", ReadFileBytes(temp));
    EXPECT_EQ(ShortPath(temp), RenameEntry(ShortPath(target)));
    DeleteFileA(temp.c_str());
}

// A restart entry that cannot be written (another program holds WININIT.INI
// without sharing it) schedules nothing: the item failed and its new file
// is not left in the temporary folder.
TEST_F(Installation9x, RebootReplacementThatCannotBeWrittenFailsTheItem)
{
    WininitGuard guard;
    // The trace line is the only sign of why the entry was not written; it
    // reaches the test through a window, and windows need an X display.
    ASSERT_NE(nullptr, trace.Window()) << "no tracer window: no X display? (./run.sh test starts Xvfb)";
    WriteFileBytes(WininitPath(), "[rename]\r\n");
    BusyFile busyWininit(WininitPath());
    ASSERT_TRUE(busyWininit.IsOpen());
    GpcInstallItem* pItem = Add("a.dll;u;;;;;;;reboot");
    std::string target = InstallPath(pItem);
    WriteFileBytes(target, "INSTALLED");
    int nResult;
    {
        BusyFile busy(target);
        nResult = mgr->DoItemInstallation(pItem, Download("NEW").c_str());
    }
    EXPECT_EQ(GPC_INSTALL_NOT_WRITABLE, nResult);
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    ASSERT_EQ(1u, host.unpacks.size());
    EXPECT_FALSE(PathExists(host.unpacks[0].dest));
    EXPECT_TRUE(trace.Contains("Can not replace " + target + " at reboot")) << trace.Dump();
}

// Windows 9x has no administrator rights to lack: a busy system file is
// simply not writable.
TEST_F(Installation9x, BusySystemFileIsNotWritableWithoutAskingForRights)
{
    std::string name = UniqueName("gpc9x") + ".dat";
    GpcInstallItem* pItem = Add(name + ";u;%windows%;;;;;;retry");
    std::string target = InstallPath(pItem);
    WriteFileBytes(target, "INSTALLED");
    int nResult;
    {
        BusyFile busy(target);
        nResult = mgr->DoItemInstallation(pItem, Download("NEW").c_str());
    }
    EXPECT_EQ(GPC_INSTALL_NOT_WRITABLE, nResult);
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    DeleteFileA(target.c_str());
}

int main(int argc, char** argv)
{
    if (!IsWindowsNT()) {
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    char achMark[8];
    if (GetEnvironmentVariableA(GPC_CHILD_MARK, achMark, sizeof(achMark))) {
        std::fprintf(stderr, "The per-program Windows 98 setting did not take effect.\n");
        return 1;
    }

    // The key follows whatever name the program was built or copied under.
    const std::string self = OwnProgramPath();
    if (self.empty()) return 1;
    const std::string key = WineAppDefaultsKey(self);
    if (!WriteRegString(HKEY_CURRENT_USER, key, "Version", "win98")) {
        std::fprintf(stderr, "Could not write the Windows 98 setting %s.\n", key.c_str());
        return 1;
    }

    SetEnvironmentVariableA(GPC_CHILD_MARK, "1");
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    std::vector<char> command(GetCommandLineA(), GetCommandLineA() + strlen(GetCommandLineA()) + 1);
    if (!CreateProcessA(self.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "Could not start the Windows 98 run (%lu).\n", GetLastError());
        DeleteRegTree(HKEY_CURRENT_USER, key);
        return 1;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD dwExit = 1;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DeleteRegTree(HKEY_CURRENT_USER, key);
    return static_cast<int>(dwExit);
}
