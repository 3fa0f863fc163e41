// Installing downloaded items: the destination probe, busy destinations and
// their failure controls, unpack failures, the checks after unpacking, the
// printer-driver copies, replacement at restart, and the registration
// actions.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "host/lib/lz_expand.h"
#include "install_fixture.h"
#include "support/scoped_wow64.h"

namespace {

using Installation = InstallTest;

// A host unpacker that writes part of the file and then gives up, as a host
// does when the download is damaged.
int WINAPI UnpackHalfAndFail(GpcCookie, const char*, const char* lpszDest)
{
    if (FakeHost::Current()) FakeHost::Current()->unpacks.push_back({nullptr, "", lpszDest ? lpszDest : ""});
    if (lpszDest) WriteFileBytes(lpszDest, "HALF");
    return 7;
}

// What the host was asked to unpack into, looked at while it unpacks: the
// final name must not exist yet (or still hold the old file).
struct UnpackObserver {
    UnpackObserver(const std::string& final, bool* pbFinalSeen) : finalPath(final), pbSeen(pbFinalSeen)
    {
        s_pCurrent = this;
    }
    ~UnpackObserver() { s_pCurrent = nullptr; }
    std::string finalPath;
    std::string oldBytes;  // empty: no file may be at the final name
    bool* pbSeen;
    static UnpackObserver* s_pCurrent;
};
UnpackObserver* UnpackObserver::s_pCurrent = nullptr;

int WINAPI UnpackAndLookAtTheFinalName(GpcCookie pCookie, const char* lpszSource, const char* lpszDest)
{
    UnpackObserver* pObserver = UnpackObserver::s_pCurrent;
    if (pObserver) {
        bool bThere = PathExists(pObserver->finalPath);
        *pObserver->pbSeen = pObserver->oldBytes.empty()
                                 ? bThere
                                 : !bThere || ReadFileBytes(pObserver->finalPath) != pObserver->oldBytes;
    }
    if (FakeHost::Current())
        FakeHost::Current()->unpacks.push_back({pCookie, lpszSource ? lpszSource : "", lpszDest ? lpszDest : ""});
    // Written in two steps, as a host writes a large file: the first half
    // must never be seen under the final name.
    WriteFileBytes(lpszDest, "HALF");
    std::string bytes = ReadFileBytes(lpszSource);
    WriteFileBytes(lpszDest, bytes);
    return 0;
}

// A name GetTempFileName made with the library's prefix in the folder of
// the destination.
bool IsLibraryTempBeside(const std::string& temp, const std::string& final)
{
    size_t nSlash = final.find_last_of('\\');
    if (temp.size() <= nSlash + 1 || _strnicmp(temp.c_str(), final.c_str(), nSlash + 1) != 0) return false;
    std::string name = temp.substr(nSlash + 1);
    return name.find('\\') == std::string::npos && IsLibraryTempName(name.c_str(), "VR");
}

FILETIME DosDate2002()
{
    FILETIME ft;
    DosDateTimeToFileTime(0x2C21, 0, &ft);
    return ft;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

bool GetTimes(const std::string& path, FILETIME* pCreate, FILETIME* pAccess, FILETIME* pWrite)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BOOL b = GetFileTime(h, pCreate, pAccess, pWrite);
    CloseHandle(h);
    return b != 0;
}


// The names of the files in a folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    return names;
}

// Failure reports go to a closed local port; each one traces its request.
void ExpectReports(FakeHost& host)
{
    host.SetParam("LoggingURL", "http://127.0.0.1:9/log?");
    host.SetParam("MeetingID", "m1");
    host.SetParam("SessionID", "s1");
}

// MoveFileEx as a user without the right to schedule renames sees it.
BOOL WINAPI MoveAtRebootDenied(const char*, const char*, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// MoveFileEx that records what it was asked to move at the restart.
struct RebootMove {
    std::string from;
    std::string to;
    DWORD flags;
};
std::vector<RebootMove> g_rebootMoves;
BOOL WINAPI MoveAtRebootRecorded(const char* lpszFrom, const char* lpszTo, DWORD dwFlags)
{
    g_rebootMoves.push_back({lpszFrom, lpszTo, dwFlags});
    return TRUE;
}

}  // namespace

// ---------------------------------------------------------------------------
// The destination probe and the unpack

TEST_F(Installation, MissingDownloadFailsWithoutTouchingTheDestination)
{
    for (const char* lpszFile : {static_cast<const char*>(nullptr), ""}) {
        GpcInstallItem* pItem = Add("a.dll;a.dll;;;;;;;ignore");
        EXPECT_EQ(GPC_INSTALL_NO_FILE, mgr->DoItemInstallation(pItem, lpszFile));
        EXPECT_EQ(ITEM_FAILED, pItem->State);
        EXPECT_FALSE(PathExists(InstallPath(pItem)));
    }
    EXPECT_TRUE(host.unpacks.empty());
}

// A new file is unpacked into a temporary file of the library's beside its
// destination and takes its name only once complete: creating that file is
// the write test, and nothing ever stands under the final name half written.
TEST_F(Installation, NewDestinationIsUnpackedBesideAndRenamedIntoPlace)
{
    GpcInstallItem* pItem = Add("viewer.dll;bin/viewer.dll;Plugins\\Extra;;;;;existence;");
    std::string target = dir + "\\Plugins\\Extra\\viewer.dll";
    std::string download = Download("NEW CONTENT");
    bool bFinalSeenDuringUnpack = true;
    host.Table()->HostUnpackFile = &UnpackAndLookAtTheFinalName;
    UnpackObserver observer(target, &bFinalSeenDuringUnpack);

    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pItem, download.c_str()));

    EXPECT_EQ(ITEM_INSTALLED, pItem->State);
    EXPECT_FALSE(bFinalSeenDuringUnpack);
    ASSERT_EQ(1u, host.unpacks.size());
    std::string temp = host.unpacks[0].dest;
    EXPECT_EQ(download, host.unpacks[0].source);
    EXPECT_EQ(host.Cookie(), host.unpacks[0].cookie);
    EXPECT_TRUE(IsLibraryTempBeside(temp, target)) << temp;
    EXPECT_EQ("NEW CONTENT", ReadFileBytes(target));
    EXPECT_EQ(std::vector<std::string>{"viewer.dll"}, FilesIn(dir + "\\Plugins\\Extra"));

    // The reserved temporary file was removed before the host unpacked.
    int nFirst = trace.IndexOf("CVRGpcInstallationMgr::DoItemInstallation");
    int nDeleted = trace.IndexOf("The temp created file is deleted: " + temp);
    int nUnpack = trace.IndexOf("VRGPCEXT::DoItemInstall,SrcFileName = " + download + ",achPath = " + target);
    int nName = trace.IndexOf("filename = viewer.dll");
    ASSERT_GE(nFirst, 0) << trace.Dump();
    EXPECT_LT(nFirst, nDeleted);
    EXPECT_LT(nDeleted, nUnpack);
    EXPECT_LT(nUnpack, nName);
    EXPECT_FALSE(trace.Contains("WARNING:"));
}

// Whatever the final name is (a new file, the installed file, a new or an
// earlier redirected copy), the host writes a temporary file of the
// library's beside it, and the final name holds the old file or nothing
// until the complete new file takes it in one rename.
TEST_F(Installation, EveryUnpackGoesBesideItsFinalNameAndTakesItInOneRename)
{
    struct {
        const char* lpszName;
        const char* lpszItem;
        const char* lpszInstalled;  // null: nothing at the install path
        const char* lpszRedirected;  // null: no earlier redirected copy
        bool bBusy;                  // the install path is held: the file is redirected
        int nResult;
    } cases[] = {
        {"new file", "n1.dll;u;Sub;;;;;;", nullptr, nullptr, false, GPC_INSTALL_OK},
        {"installed file", "n2.dll;u;Sub;;;;;;", "OLD", nullptr, false, GPC_INSTALL_OK},
        {"new redirected copy", "n3.dll;u;Sub;;;;;;redirect", "OLD", nullptr, true, GPC_INSTALL_RESTART_NEEDED},
        {"earlier redirected copy", "n4.dll;u;Sub;;;;;version;redirect", "OLD", "OLD COPY", true,
         GPC_INSTALL_RESTART_NEEDED},
    };
    host.Table()->HostUnpackFile = &UnpackAndLookAtTheFinalName;
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lpszName);
        GpcInstallItem* pItem = Add(c.lpszItem);
        std::string installed = InstallPath(pItem);
        std::string final = c.bBusy ? RedirectPath(pItem) : installed;
        if (c.lpszInstalled) WriteFileBytes(installed, c.lpszInstalled);
        if (c.lpszRedirected) WriteFileBytes(RedirectPath(pItem), c.lpszRedirected);
        const char* lpszOld = c.bBusy ? c.lpszRedirected : c.lpszInstalled;
        bool bSeen = true;
        UnpackObserver observer(final, &bSeen);
        observer.oldBytes = lpszOld ? lpszOld : "";
        host.unpacks.clear();
        int nResult;
        {
            std::unique_ptr<BusyFile> pBusy(c.bBusy ? new BusyFile(installed) : nullptr);
            nResult = mgr->DoItemInstallation(pItem, Download("NEW").c_str());
        }
        EXPECT_EQ(c.nResult, nResult);
        EXPECT_FALSE(bSeen) << "the final name changed while the host was unpacking";
        ASSERT_EQ(1u, host.unpacks.size());
        EXPECT_TRUE(IsLibraryTempBeside(host.unpacks[0].dest, final)) << host.unpacks[0].dest;
        EXPECT_EQ("NEW", ReadFileBytes(final));
        if (c.bBusy) {
            EXPECT_EQ("OLD", ReadFileBytes(installed));
        }
        EXPECT_FALSE(PathExists(host.unpacks[0].dest));
        // Only a file that is there is replaced.
        EXPECT_EQ(lpszOld != nullptr, trace.HasLine("Unpack into " + host.unpacks[0].dest + ", then replace " + final))
            << trace.Dump();
    }
    for (const std::string& name : FilesIn(dir + "\\Sub")) EXPECT_FALSE(IsLibraryTempName(name.c_str(), "VR")) << name;
    for (const std::string& name : FilesIn(dir)) EXPECT_FALSE(IsLibraryTempName(name.c_str(), "VR")) << name;
}

// A folder that cannot take a new file fails the write test the way a busy
// destination does: the failure control decides, nothing is unpacked and
// nothing is created.
TEST_F(Installation, FolderThatCannotBeWrittenGoesToTheFailureControl)
{
    // A file stands where the folder should be: no file can be made in it.
    WriteFileBytes(dir + "\\Blocked", "not a folder");
    const struct {
        const char* lpszFailureControl;  // null: absent
        int nResult;
        int nState;
        const char* lpszTrace;  // null: none
    } cases[] = {
        {nullptr, GPC_INSTALL_NOT_WRITABLE, ITEM_FAILED, nullptr},
        {"ignore", GPC_INSTALL_OK, ITEM_FAILED, "WRONG(IGNORE): fail to open the distination file."},
        {"retry", GPC_INSTALL_NOT_WRITABLE, ITEM_FAILED, nullptr},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string name = "w" + std::to_string(++n) + ".dll";
        std::string text = name + ";u;Blocked;;;;;;" + (c.lpszFailureControl ? c.lpszFailureControl : "");
        if (!c.lpszFailureControl) text = name + ";u;Blocked;;;;;";
        GpcInstallItem* pItem = Add(text);
        trace.Clear();
        host.unpacks.clear();
        EXPECT_EQ(c.nResult, mgr->DoItemInstallation(pItem, Download("NEW").c_str())) << text;
        EXPECT_EQ(c.nState, pItem->State) << text;
        EXPECT_TRUE(host.unpacks.empty()) << text;
        if (c.lpszTrace) {
            EXPECT_TRUE(trace.HasLine(c.lpszTrace)) << text << trace.Dump();
        }
        EXPECT_FALSE(trace.Contains("The temp created file is deleted")) << text;
    }
    EXPECT_EQ(std::vector<std::string>{"Blocked"}, FilesIn(dir));
    EXPECT_EQ("not a folder", ReadFileBytes(dir + "\\Blocked"));
}

// Files of one directory follow each other; the directory is still made
// again when it went away in between, and another directory is made too.
TEST_F(Installation, EachFileFindsItsDirectoryEvenWhenItWentAwayMeanwhile)
{
    GpcInstallItem* pFirst = Add("a.dll;a.dll;Plugins\\Extra;;;;;existence;");
    GpcInstallItem* pSecond = Add("b.dll;b.dll;Plugins\\Extra;;;;;existence;");
    GpcInstallItem* pThird = Add("c.dll;c.dll;Plugins\\Other;;;;;existence;");
    GpcInstallItem* pFourth = Add("d.dll;d.dll;Plugins\\Extra;;;;;existence;");
    std::string extra = dir + "\\Plugins\\Extra";

    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pFirst, Download("A").c_str()));
    EXPECT_EQ("A", ReadFileBytes(extra + "\\a.dll"));
    ASSERT_TRUE(DeleteFileA((extra + "\\a.dll").c_str()));
    ASSERT_TRUE(RemoveDirectoryA(extra.c_str()));

    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pSecond, Download("B").c_str()));
    EXPECT_EQ(ITEM_INSTALLED, pSecond->State);
    EXPECT_EQ("B", ReadFileBytes(extra + "\\b.dll"));
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pThird, Download("C").c_str()));
    EXPECT_EQ("C", ReadFileBytes(dir + "\\Plugins\\Other\\c.dll"));
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pFourth, Download("D").c_str()));
    EXPECT_EQ("D", ReadFileBytes(extra + "\\d.dll"));
}

// The new file is made complete beside the installed one and then takes its
// place in one step: at no time is the installed file half written.
TEST_F(Installation, ExistingDestinationIsReplacedInOneStep)
{
    GpcInstallItem* pItem = Add("a.dll;a.dll;;;;;;;");
    std::string target = InstallPath(pItem);
    WriteFileBytes(target, "OLD");

    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    EXPECT_EQ(ITEM_INSTALLED, pItem->State);
    EXPECT_EQ("NEW", ReadFileBytes(target));
    EXPECT_FALSE(trace.Contains("The temp created file is deleted"));
    ASSERT_EQ(1u, host.unpacks.size());
    EXPECT_NE(target, host.unpacks[0].dest);
    EXPECT_EQ(dir + "\\", host.unpacks[0].dest.substr(0, dir.size() + 1));
    EXPECT_EQ(std::vector<std::string>{"a.dll"}, FilesIn(dir));
}

// A program that opens the installed file while the new one is unpacked
// (after the probe found it free) keeps the new file from taking its place:
// the installed file stays as it was, the item fails, and nothing that was
// made for the new file is left beside it.
TEST_F(Installation, DestinationTakenDuringTheUnpackKeepsTheOldFileAndLeavesNothingBeside)
{
    GpcInstallItem* pItem = Add("a.dll;a.dll;;;;;;;");
    std::string target = InstallPath(pItem);
    WriteFileBytes(target, "OLD");
    std::unique_ptr<BusyFile> pHeld;
    host.onUnpacked = [&](const std::string&) { pHeld.reset(new BusyFile(target)); };

    int nResult = mgr->DoItemInstallation(pItem, Download("NEW").c_str());
    ASSERT_TRUE(pHeld && pHeld->IsOpen());
    pHeld.reset();

    EXPECT_NE(GPC_INSTALL_OK, nResult);
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("OLD", ReadFileBytes(target));
    EXPECT_EQ(std::vector<std::string>{"a.dll"}, FilesIn(dir));
}

// A failed update, whatever the failure control, leaves the working file as
// it was and is a failed installation: the control decides only what the
// user is told.
TEST_F(Installation, FailedUpdateLeavesTheInstalledFileAsItWas)
{
    host.Table()->HostUnpackFile = &UnpackHalfAndFail;
    for (const char* lpszControl : {static_cast<const char*>(nullptr), "ignore", "redirect", "reboot", "other"}) {
        std::string text = std::string("a.dll;u;;;;;;;") + (lpszControl ? lpszControl : "");
        if (!lpszControl) text = "a.dll;u;;;;;;";
        GpcInstallItem* pItem = Add(text);
        std::string target = InstallPath(pItem);
        WriteFileBytes(target, "INSTALLED");
        host.unpacks.clear();

        EXPECT_EQ(GPC_INSTALL_UNPACK_FAILED, mgr->DoItemInstallation(pItem, Download("NEW").c_str())) << text;
        EXPECT_EQ(ITEM_FAILED, pItem->State) << text;
        EXPECT_EQ("INSTALLED", ReadFileBytes(target)) << text;
        ASSERT_EQ(1u, host.unpacks.size()) << text;
        EXPECT_NE(target, host.unpacks[0].dest) << text;
        EXPECT_EQ(std::vector<std::string>{"a.dll"}, FilesIn(dir)) << text;
    }
}

// What the user sees of a failed unpack follows the failure control, but a
// start-up file that did not install is never counted as installed.
TEST_F(Installation, FailedUnpackIsNeverReportedAsDone)
{
    host.Table()->HostUnpackFile = &UnpackHalfAndFail;
    ExpectReports(host);
    struct {
        const char* lpszControl;
        const char* lpszTrace;
        bool bMessage;
    } cases[] = {
        {"ignore", "DoItemInstall: -3, IGNORE: 1", false},
        // "redirect" is about a busy file: an unpack failure is passed over.
        {"redirect", "DoItemInstall: -3, IGNORE: 1", false},
        {"reboot", "DoItemInstall: -3, IGNORE: 0", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::string name = "f" + std::to_string(++n) + ".dll";
        GpcInstallItem* pItem = Add(name + ";u;;;;;;;" + c.lpszControl);
        WriteFileBytes(InstallPath(pItem), "INSTALLED");
        trace.Clear();
        std::string download = Download("NEW");
        // Delivered as the host delivers it: under the item's live context.
        pItem->Live.Register(GPC_LIVE_ITEM, pItem);
        CVRGpcExtension::OnItemDownload(nullptr, pItem->Live.GetContext(), 0,
                                        reinterpret_cast<ULONG_PTR>(download.c_str()));
        EXPECT_TRUE(trace.HasLine(c.lpszTrace)) << c.lpszControl << trace.Dump();
        EXPECT_EQ(ITEM_FAILED, pItem->State) << c.lpszControl;
        EXPECT_EQ(c.bMessage, trace.Contains("ErrorCode=7&OptInfo1=" + name + "]")) << c.lpszControl;
        EXPECT_EQ("INSTALLED", ReadFileBytes(InstallPath(pItem))) << c.lpszControl;
    }
}

TEST_F(Installation, FileThatDoesNotMatchTheManifestIsKeptWithAWarning)
{
    GpcInstallItem* pItem = Add("a.dll;a.dll;;1, 0, 0, 7;999;;;size;");
    std::string target = InstallPath(pItem);
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pItem, Download("12345").c_str()));
    EXPECT_EQ(ITEM_INSTALLED, pItem->State);
    EXPECT_TRUE(trace.HasLine("WARNING:The version/tag/size of the destination isn't the same as in the config file."))
        << trace.Dump();
    EXPECT_TRUE(trace.HasLine("WARNING:The file is: " + target + ", File version info: 5, Version info in INI file: 1,0,0,7"))
        << trace.Dump();
}

// A name that makes the path longer than a path may be is refused as a
// whole: nothing is created under a cut name and the host is not asked.
TEST_F(Installation, OverlongDestinationIsRefusedAndNothingIsWritten)
{
    std::string longName(260, 'n');
    std::string longDir(250, 'd');
    for (const std::string& text : {longName + ".dll;u;;;;;;;", "a.dll;u;" + longDir + "\\" + longDir + ";;;;;;reboot",
                                    "b.dll;u;" + longDir + ";;;;;;redirect"}) {
        host.unpacks.clear();
        GpcInstallItem* pItem = Add(text);
        EXPECT_EQ(GPC_INSTALL_NOT_WRITABLE, mgr->DoItemInstallation(pItem, Download("X").c_str())) << text;
        EXPECT_EQ(ITEM_FAILED, pItem->State);
        EXPECT_TRUE(host.unpacks.empty());
    }
    // Only the download itself is in the scratch folder; the install folder is empty.
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((dir + "\\*").c_str(), &fd);
    int nEntries = 0;
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, "..")) ++nEntries;
        } while (FindNextFileA(hFind, &fd));
        FindClose(hFind);
    }
    EXPECT_EQ(0, nEntries);
}

// ---------------------------------------------------------------------------
// Busy destinations

struct BusyCase {
    const char* lpszFailureControl;  // null: absent
    int nResult;
    int nState;
    const char* lpszTrace;  // null: none
};

TEST_F(Installation, BusyDestinationWithoutRedirectOrRebootKeepsTheInstalledFile)
{
    const BusyCase cases[] = {
        {nullptr, GPC_INSTALL_NOT_WRITABLE, ITEM_FAILED, nullptr},
        {"ignore", GPC_INSTALL_OK, ITEM_FAILED, "WRONG(IGNORE): fail to open the distination file."},
        {"IGNORE", GPC_INSTALL_OK, ITEM_FAILED, "WRONG(IGNORE): fail to open the distination file."},
        {"", GPC_INSTALL_NOT_WRITABLE, ITEM_FAILED, nullptr},
        {"retry", GPC_INSTALL_NOT_WRITABLE, ITEM_FAILED, nullptr},
    };
    int n = 0;
    for (const BusyCase& c : cases) {
        std::string name = "busy" + std::to_string(++n) + ".dll";
        std::string text = name + ";u;;;;;;;" + (c.lpszFailureControl ? c.lpszFailureControl : "");
        if (!c.lpszFailureControl) text = name + ";u;;;;;;";
        GpcInstallItem* pItem = Add(text);
        ASSERT_EQ(c.lpszFailureControl == nullptr, pItem->FailureControl.IsNull()) << text;
        std::string target = InstallPath(pItem);
        WriteFileBytes(target, "INSTALLED");
        trace.Clear();
        host.unpacks.clear();
        {
            BusyFile busy(target);
            ASSERT_TRUE(busy.IsOpen());
            EXPECT_EQ(c.nResult, mgr->DoItemInstallation(pItem, Download("NEW").c_str())) << text;
        }
        EXPECT_EQ(c.nState, pItem->State) << text;
        EXPECT_TRUE(host.unpacks.empty()) << text;
        EXPECT_EQ("INSTALLED", ReadFileBytes(target)) << text;
        if (c.lpszTrace) {
            EXPECT_TRUE(trace.HasLine(c.lpszTrace)) << text;
        }
        EXPECT_FALSE(trace.Contains("The temp created file is deleted")) << text;
    }
}

// A busy file in a system directory: on the NT family a user who cannot
// manage services is told that administrator rights are missing.
TEST_F(Installation, BusySystemTargetAsksForAdministratorRightsOnlyWithoutThem)
{
    std::string name = UniqueName("gpcsys") + ".dat";
    GpcInstallItem* pItem = Add(name + ";u;%system%;;;;;;retry");
    std::string target = InstallPath(pItem);
    char achSystem[MAX_PATH];
    GetSystemDirectoryA(achSystem, sizeof(achSystem));
    ASSERT_EQ(std::string(achSystem) + "\\" + name, target);
    WriteFileBytes(target, "INSTALLED");
    int nResult;
    {
        BusyFile busy(target);
        nResult = mgr->DoItemInstallation(pItem, Download("NEW").c_str());
    }
    EXPECT_EQ(CanManageServices() ? GPC_INSTALL_NOT_WRITABLE : GPC_INSTALL_NEED_ADMIN, nResult);
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    DeleteFileA(target.c_str());
}

TEST_F(Installation, BusyDestinationWithRebootWaitsForTheRestartInATempFile)
{
    PendingRenamesGuard guard;
    GpcInstallItem* pItem = Add("a.dll;u;;;;;;;reboot");
    std::string target = InstallPath(pItem);
    WriteFileBytes(target, "INSTALLED");
    {
        BusyFile busy(target);
        EXPECT_EQ(GPC_INSTALL_RESTART_NEEDED, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));

    // The new file went to a "VR" temporary file in the user's temp folder.
    ASSERT_EQ(1u, host.unpacks.size());
    std::string temp = host.unpacks[0].dest;
    char achTempDir[MAX_PATH];
    GetTempPathA(sizeof(achTempDir), achTempDir);
    size_t nDir = strlen(achTempDir);
    ASSERT_GT(temp.size(), nDir + 2);
    EXPECT_EQ(0, _strnicmp(temp.c_str(), achTempDir, nDir)) << temp;
    EXPECT_EQ(0, _strnicmp(temp.c_str() + nDir, "VR", 2)) << temp;
    EXPECT_EQ("NEW", ReadFileBytes(temp));
    EXPECT_TRUE(trace.HasLine("The temp created file is deleted: " + temp)) << trace.Dump();

    // One entry moves it over the installed file at the restart.
    std::vector<std::string> renames = PendingRenames();
    ASSERT_GE(renames.size(), 2u);
    std::string from = renames[renames.size() - 2];
    std::string to = renames[renames.size() - 1];
    EXPECT_EQ("\\??\\" + temp, from);
    EXPECT_EQ("!\\??\\" + target, to);
    DeleteFileA(temp.c_str());
}

TEST_F(Installation, BusyDestinationWithRedirectInstallsBesideItAndAsksForARestart)
{
    GpcInstallItem* pItem = Add("a.dll;u;Sub;;;;;;redirect");
    std::string target = InstallPath(pItem);
    std::string redirect = RedirectPath(pItem);
    ASSERT_EQ(dir + "\\a.dll", redirect);
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(target, "INSTALLED");
    {
        BusyFile busy(target);
        EXPECT_EQ(GPC_INSTALL_RESTART_NEEDED, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ(ITEM_INSTALLED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    EXPECT_EQ("NEW", ReadFileBytes(redirect));
    EXPECT_TRUE(trace.HasLine("Redirect to " + redirect)) << trace.Dump();
    ASSERT_EQ(1u, host.unpacks.size());
    EXPECT_TRUE(IsLibraryTempBeside(host.unpacks[0].dest, redirect)) << host.unpacks[0].dest;
    EXPECT_TRUE(trace.HasLine("The temp created file is deleted: " + host.unpacks[0].dest)) << trace.Dump();
    EXPECT_EQ((std::vector<std::string>{"a.dll"}), FilesIn(dir));
}

TEST_F(Installation, RedirectIntoAMissingDirectoryAndWithoutAnInstalledFileIsNoRestart)
{
    // The install directory cannot hold a file (a file stands where the
    // directory should be), so the probe fails although nothing is installed.
    WriteFileBytes(dir + "\\Blocked", "not a directory");
    GpcInstallItem* pItem = Add("a.dll;u;Blocked;;;;;;redirect");
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    EXPECT_EQ(ITEM_INSTALLED, pItem->State);
    EXPECT_EQ("NEW", ReadFileBytes(dir + "\\a.dll"));
}

TEST_F(Installation, BusyDestinationWithCurrentRedirectCopyIsNotUnpackedAgain)
{
    GpcInstallItem* pItem = Add("a.dll;u;Sub;;3;;;size;Redirect");
    std::string target = InstallPath(pItem);
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(target, "INSTALLED");
    WriteFileBytes(RedirectPath(pItem), "CUR");
    {
        BusyFile busy(target);
        EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ(ITEM_INSTALLED, pItem->State);
    EXPECT_TRUE(host.unpacks.empty());
    EXPECT_EQ("CUR", ReadFileBytes(RedirectPath(pItem)));
}

// "existence" calls any file current without looking; a redirect copy that
// is not there must still be installed, not reported as present.
TEST_F(Installation, BusyDestinationWithMissingRedirectCopyIsInstalledEvenForExistence)
{
    GpcInstallItem* pItem = Add("a.dll;u;Sub;;;;;existence;redirect");
    std::string target = InstallPath(pItem);
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(target, "INSTALLED");
    {
        BusyFile busy(target);
        EXPECT_EQ(GPC_INSTALL_RESTART_NEEDED, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ("NEW", ReadFileBytes(RedirectPath(pItem)));
}

TEST_F(Installation, BusyDestinationAndBusyRedirectFileIsPassedOver)
{
    GpcInstallItem* pItem = Add("a.dll;u;Sub;;;;;version;redirect");
    std::string target = InstallPath(pItem);
    std::string redirect = RedirectPath(pItem);
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(target, "INSTALLED");
    WriteFileBytes(redirect, "OLD REDIRECT");
    {
        BusyFile busy(target);
        BusyFile busyRedirect(redirect);
        EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ(ITEM_DONE, pItem->State);
    EXPECT_TRUE(trace.HasLine("Can not create redirected file " + redirect)) << trace.Dump();
    EXPECT_TRUE(host.unpacks.empty());
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    EXPECT_EQ("OLD REDIRECT", ReadFileBytes(redirect));
}

// ---------------------------------------------------------------------------
// Unpack failures

struct UnpackFailureCase {
    const char* lpszFailureControl;  // null: absent
    int nResult;
    int nState;
};

TEST_F(Installation, FailedUnpackRemovesTheHalfWrittenFile)
{
    host.Table()->HostUnpackFile = &UnpackHalfAndFail;
    const UnpackFailureCase cases[] = {
        {nullptr, GPC_INSTALL_UNPACK_FAILED, ITEM_FAILED},
        {"ignore", GPC_INSTALL_UNPACK_FAILED, ITEM_FAILED},
        {"redirect", GPC_INSTALL_UNPACK_FAILED, ITEM_FAILED},
        {"reboot", GPC_INSTALL_UNPACK_FAILED, ITEM_FAILED},
        {"other", GPC_INSTALL_UNPACK_FAILED, ITEM_FAILED},
    };
    int n = 0;
    for (const UnpackFailureCase& c : cases) {
        std::string name = "u" + std::to_string(++n) + ".dll";
        std::string text = name + ";u;;;;;;;" + (c.lpszFailureControl ? c.lpszFailureControl : "");
        if (!c.lpszFailureControl) text = name + ";u;;;;;;";
        GpcInstallItem* pItem = Add(text);
        std::string target = InstallPath(pItem);
        trace.Clear();
        EXPECT_EQ(c.nResult, mgr->DoItemInstallation(pItem, Download("NEW").c_str())) << text;
        EXPECT_EQ(c.nState, pItem->State) << text;
        EXPECT_FALSE(PathExists(target)) << text;
        EXPECT_TRUE(trace.HasLine("Unpack file to " + target + " failed")) << text << trace.Dump();
        bool bIgnored = FieldIs(pItem->FailureControl, "ignore") || FieldIs(pItem->FailureControl, "redirect");
        EXPECT_EQ(bIgnored, trace.HasLine("WRONG(IGNORE): fail to decompress the file.")) << text;
        EXPECT_FALSE(trace.Contains("filename = ")) << text;
    }
}

TEST_F(Installation, FailedUnpackIntoRebootTempFileKeepsTheBusyInstalledFile)
{
    PendingRenamesGuard guard;
    std::vector<std::string> before = PendingRenames();
    host.Table()->HostUnpackFile = &UnpackHalfAndFail;
    GpcInstallItem* pItem = Add("a.dll;u;;;;;;;reboot");
    std::string target = InstallPath(pItem);
    WriteFileBytes(target, "INSTALLED");
    {
        BusyFile busy(target);
        EXPECT_EQ(GPC_INSTALL_UNPACK_FAILED, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    ASSERT_EQ(1u, host.unpacks.size());
    EXPECT_FALSE(PathExists(host.unpacks[0].dest));
    EXPECT_EQ(before, PendingRenames());
}

TEST_F(Installation, FailedUnpackIntoRedirectFileKeepsTheBusyInstalledFile)
{
    host.Table()->HostUnpackFile = &UnpackHalfAndFail;
    GpcInstallItem* pItem = Add("a.dll;u;Sub;;;;;;redirect");
    std::string target = InstallPath(pItem);
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(target, "INSTALLED");
    {
        BusyFile busy(target);
        EXPECT_EQ(GPC_INSTALL_UNPACK_FAILED, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    EXPECT_FALSE(PathExists(RedirectPath(pItem)));
}

// An earlier redirected copy is what runs while the install path is busy:
// a failed unpack over it keeps it.
TEST_F(Installation, FailedUnpackKeepsAnEarlierRedirectedCopy)
{
    host.Table()->HostUnpackFile = &UnpackHalfAndFail;
    GpcInstallItem* pItem = Add("a.dll;u;Sub;;;;;version;redirect");
    std::string target = InstallPath(pItem);
    std::string redirect = RedirectPath(pItem);
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(target, "INSTALLED");
    WriteFileBytes(redirect, "OLD REDIRECT");
    {
        BusyFile busy(target);
        EXPECT_EQ(GPC_INSTALL_UNPACK_FAILED, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
    }
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    EXPECT_EQ("OLD REDIRECT", ReadFileBytes(redirect));
    EXPECT_EQ(std::vector<std::string>{"a.dll"}, FilesIn(dir));
}

// The host's own expansion (LZ, as the reference host does it): a source
// that opens but cannot be read (the process's memory file, whose first
// page is never mapped) fails after the destination would have been opened.
TEST_F(Installation, HostExpansionThatFailsLeavesTheDestinationAsItWas)
{
    const char GPC_UNREADABLE[] = "Z:\\proc\\self\\mem";
    if (!PathExists(GPC_UNREADABLE)) GTEST_SKIP() << "no process memory file here";
    std::string dest = dir + "\\a.dll";
    WriteFileBytes(dest, "INSTALLED");
    EXPECT_LT(GpcExpandFile(GPC_UNREADABLE, dest.c_str()), 0);
    EXPECT_EQ("INSTALLED", ReadFileBytes(dest));
    EXPECT_EQ(std::vector<std::string>{"a.dll"}, FilesIn(dir));
}

// SZDD files (as Microsoft's compress writes them) are still expanded, also
// over an installed file, and plain files are copied unchanged.
TEST_F(Installation, HostExpansionExpandsCompressedFilesOverAnInstalledOne)
{
    const std::string plain = "Expanded text, long enough for two flag groups.";
    // Header (magic, mode "A", the name's missing last character, size), then
    // groups of eight literal bytes, each after a flag byte 0xFF.
    std::string szdd("SZDD\x88\xF0\x27\x33" "Al", 10);
    DWORD dwSize = static_cast<DWORD>(plain.size());
    szdd.append(reinterpret_cast<const char*>(&dwSize), 4);
    for (size_t i = 0; i < plain.size(); i += 8) szdd += '\xFF' + plain.substr(i, 8);
    std::string source = Download(szdd, "a.dl_");
    std::string dest = dir + "\\a.dll";
    WriteFileBytes(dest, "INSTALLED");
    EXPECT_EQ(0, GpcExpandFile(source.c_str(), dest.c_str()));
    EXPECT_EQ(plain, ReadFileBytes(dest));
    EXPECT_EQ(0, GpcExpandFile(Download("PLAIN").c_str(), dest.c_str()));
    EXPECT_EQ("PLAIN", ReadFileBytes(dest));
    EXPECT_EQ(std::vector<std::string>{"a.dll"}, FilesIn(dir));
}

// ---------------------------------------------------------------------------
// Time stamps, printer drivers, the log

TEST_F(Installation, StdNamesGetsTheDriverDateAndOtherFilesKeepTheirTimes)
{
    GpcInstallItem* pStd = Add("StdNames.gpd;u;;;;;;;");
    GpcInstallItem* pOther = Add("other.gpd;u;;;;;;;");
    ASSERT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pStd, Download("A", "a.bin").c_str()));
    ASSERT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pOther, Download("B", "b.bin").c_str()));

    FILETIME create, access, write;
    ASSERT_TRUE(GetTimes(InstallPath(pStd), &create, &access, &write));
    EXPECT_TRUE(SameTime(DosDate2002(), write));
    EXPECT_TRUE(SameTime(DosDate2002(), access));
    ASSERT_TRUE(GetTimes(InstallPath(pOther), &create, &access, &write));
    EXPECT_FALSE(SameTime(DosDate2002(), write));
}

TEST_F(Installation, FixStdNamesFileTimeActsOnlyOnThatName)
{
    std::string a = workDir + "\\x.gpd";
    WriteFileBytes(a, "A");
    FixStdNamesFileTime(a.c_str(), "stdnames.gpdx");
    FixStdNamesFileTime(a.c_str(), nullptr);
    FILETIME create, access, write;
    ASSERT_TRUE(GetTimes(a, &create, &access, &write));
    EXPECT_FALSE(SameTime(DosDate2002(), write));
    FixStdNamesFileTime(a.c_str(), "STDNAMES.GPD");
    ASSERT_TRUE(GetTimes(a, &create, &access, &write));
    EXPECT_TRUE(SameTime(DosDate2002(), write));
    // A file that is not there is left alone (and not created).
    FixStdNamesFileTime((workDir + "\\none.gpd").c_str(), "stdnames.gpd");
    EXPECT_FALSE(PathExists(workDir + "\\none.gpd"));
}

TEST_F(Installation, PrinterDriverFilesAreAddedToTheVersionedDirectoryButNotReplaced)
{
    std::string drivers = PrinterDriverDir();
    ASSERT_FALSE(drivers.empty());
    std::string versioned = drivers + "\\3";
    CreateDirectoryA(versioned.c_str(), nullptr);
    std::string fresh = UniqueName("gpcdrv") + ".dat";
    std::string kept = UniqueName("gpcdrv") + ".dat";
    WriteFileBytes(versioned + "\\" + kept, "SPOOLER COPY");

    GpcInstallItem* pFresh = Add(fresh + ";u;%pdriver%;;;;;;");
    GpcInstallItem* pKept = Add(kept + ";u;%PDRIVER%;;;;;;");
    GpcInstallItem* pLibrary = Add("VRPDRVNT.DLL;u;%pdriver%;;;;;;");
    std::string libraryCopy = versioned + "\\VRPDRVNT.DLL";
    bool bLibraryCopyBefore = PathExists(libraryCopy);
    std::string libraryInstalled = InstallPath(pLibrary);
    bool bLibraryBefore = PathExists(libraryInstalled);
    std::string libraryOld = bLibraryBefore ? ReadFileBytes(libraryInstalled) : std::string();

    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pFresh, Download("NEW1", "1.bin").c_str()));
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pKept, Download("NEW2", "2.bin").c_str()));
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pLibrary, Download("LIB", "3.bin").c_str()));

    EXPECT_EQ(drivers + "\\" + fresh, InstallPath(pFresh));
    EXPECT_EQ("NEW1", ReadFileBytes(drivers + "\\" + fresh));
    EXPECT_EQ("NEW1", ReadFileBytes(versioned + "\\" + fresh));
    EXPECT_EQ("NEW2", ReadFileBytes(drivers + "\\" + kept));
    EXPECT_EQ("SPOOLER COPY", ReadFileBytes(versioned + "\\" + kept));
    EXPECT_EQ(bLibraryCopyBefore, PathExists(libraryCopy));

    for (const std::string& f : {drivers + "\\" + fresh, versioned + "\\" + fresh, drivers + "\\" + kept,
                                 versioned + "\\" + kept})
        DeleteFileA(f.c_str());
    if (bLibraryBefore)
        WriteFileBytes(libraryInstalled, libraryOld);
    else
        DeleteFileA(libraryInstalled.c_str());
}

// On 64-bit Windows the x64 environment's drivers follow the same rules as
// the default environment's: installed in its driver folder, added (never
// replaced) to its versioned folder, the standard names file dated.
TEST_F(Installation, X64PrinterDriverFilesFollowThePrinterDriverRulesInTheirOwnFolder)
{
    ScopedWow64 wow64(true);
    char achX64[MAX_PATH] = "";
    DWORD cb = 0;
    char achEnvironment[] = "Windows x64";
    ASSERT_TRUE(GetPrinterDriverDirectoryA(nullptr, achEnvironment, 1, reinterpret_cast<BYTE*>(achX64),
                                           sizeof(achX64), &cb));
    const std::string drivers = achX64;
    const std::string versioned = drivers + "\\3";
    CreateDirectoryA(drivers.c_str(), nullptr);
    CreateDirectoryA(versioned.c_str(), nullptr);
    const std::string fresh = UniqueName("gpcdrv") + ".dat";
    const std::string kept = UniqueName("gpcdrv") + ".dat";
    WriteFileBytes(versioned + "\\" + kept, "SPOOLER COPY");
    const std::string stdNames = drivers + "\\STDNAMES.GPD";
    const std::string stdNamesCopy = versioned + "\\STDNAMES.GPD";
    ASSERT_FALSE(PathExists(stdNames));
    ASSERT_FALSE(PathExists(stdNamesCopy));

    GpcInstallItem* pFresh = Add(fresh + ";u;%pdriver64%;;;;;;");
    GpcInstallItem* pKept = Add(kept + ";u;%PDRIVER64%;;;;;;");
    GpcInstallItem* pStd = Add("STDNAMES.GPD;u;%pdriver64%;;;;;;");
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pFresh, Download("NEW1", "1.bin").c_str()));
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pKept, Download("NEW2", "2.bin").c_str()));
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pStd, Download("STD", "3.bin").c_str()));

    EXPECT_EQ(drivers + "\\" + fresh, InstallPath(pFresh));
    EXPECT_EQ("NEW1", ReadFileBytes(drivers + "\\" + fresh));
    EXPECT_EQ("NEW1", ReadFileBytes(versioned + "\\" + fresh));
    EXPECT_EQ("NEW2", ReadFileBytes(drivers + "\\" + kept));
    EXPECT_EQ("SPOOLER COPY", ReadFileBytes(versioned + "\\" + kept));
    FILETIME create, access, write;
    for (const std::string& f : {stdNames, stdNamesCopy}) {
        ASSERT_TRUE(GetTimes(f, &create, &access, &write)) << f;
        EXPECT_TRUE(SameTime(DosDate2002(), write)) << f;
    }

    for (const std::string& f : {drivers + "\\" + fresh, versioned + "\\" + fresh, drivers + "\\" + kept,
                                 versioned + "\\" + kept, stdNames, stdNamesCopy})
        DeleteFileA(f.c_str());
}

TEST_F(Installation, InstalledFilesAreLoggedUnderTheirInstallPathAndFailedOnesAreNot)
{
    std::string root = UniqueName("GpcInstLog");
    std::string key = "SOFTWARE\\" + root + "\\Deinstall\\Internet Explorer\\" + root + "\\1.0";
    ASSERT_TRUE(mgr->LogMgr);
    ASSERT_EQ(1, mgr->LogMgr->OpenLogRoot(dir.c_str(), "Internet Explorer", root.c_str(), "1.0"));

    GpcInstallItem* pPlain = Add("b.dll;u;;;;;;;");
    GpcInstallItem* pRedirected = Add("a.dll;u;Sub;;;;;;redirect");
    GpcInstallItem* pFailed = Add("c.dll;u;;;;;;;");
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(InstallPath(pRedirected), "INSTALLED");
    WriteFileBytes(InstallPath(pFailed), "INSTALLED");

    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pPlain, Download("B").c_str()));
    {
        BusyFile busy1(InstallPath(pRedirected));
        BusyFile busy2(InstallPath(pFailed));
        EXPECT_EQ(GPC_INSTALL_RESTART_NEEDED, mgr->DoItemInstallation(pRedirected, Download("A").c_str()));
        EXPECT_EQ(GPC_INSTALL_NOT_WRITABLE, mgr->DoItemInstallation(pFailed, Download("C").c_str()));
    }

    EXPECT_EQ(InstallPath(pPlain), ReadRegString(HKEY_LOCAL_MACHINE, key, "b.dll"));
    // The log names the install path, where the file is expected after a restart.
    EXPECT_EQ(InstallPath(pRedirected), ReadRegString(HKEY_LOCAL_MACHINE, key, "a.dll"));
    bool bFound = true;
    ReadRegString(HKEY_LOCAL_MACHINE, key, "c.dll", &bFound);
    EXPECT_FALSE(bFound);
    DeleteRegTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + root);
}

// The log lists a file before the file takes its name: a process killed in
// between leaves an entry for a missing or old file (the next start installs
// it), never an installed file that the log does not list.
TEST_F(Installation, LogListsTheFileBeforeItTakesItsName)
{
    std::string root = UniqueName("GpcLogFirst");
    std::string key = "SOFTWARE\\" + root + "\\Deinstall\\Internet Explorer\\" + root + "\\1.0";
    ASSERT_EQ(1, mgr->LogMgr->OpenLogRoot(dir.c_str(), "Internet Explorer", root.c_str(), "1.0"));
    GpcInstallItem* pNew = Add("l.dll;u;;;;;;;");
    GpcInstallItem* pOld = Add("m.dll;u;;;;;;;");
    WriteFileBytes(InstallPath(pOld), "OLD");
    for (GpcInstallItem* pItem : {pNew, pOld}) {
        std::string path = InstallPath(pItem);
        std::string atLog = "(not logged)";
        trace.SetOnLine([&](const std::string& line) {
            if (line.find(")Write log:" + path + ",") != std::string::npos)
                atLog = PathExists(path) ? ReadFileBytes(path) : "(none)";
        });
        EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pItem, Download("NEW").c_str()));
        trace.SetOnLine(nullptr);
        EXPECT_EQ(pItem == pNew ? "(none)" : "OLD", atLog) << path;
        EXPECT_EQ(path, ReadRegString(HKEY_LOCAL_MACHINE, key, pItem->SourceName.GetText()));
        EXPECT_EQ("NEW", ReadFileBytes(path));
    }
    DeleteRegTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + root);
}

namespace {

// What the fake host does to the final name after it unpacked, so that the
// rename that follows fails: a folder is made there, or the file there is
// held open without sharing until the test lets it go.
enum FinalNameBlock { BLOCK_WITH_FOLDER, BLOCK_BY_HOLDING };
struct FinalNameBlocker {
    FinalNameBlock nHow;
    std::string finalPath;
    HANDLE hHeld = INVALID_HANDLE_VALUE;
    static FinalNameBlocker* s_pCurrent;
};
FinalNameBlocker* FinalNameBlocker::s_pCurrent = nullptr;

int WINAPI UnpackThenBlockTheFinalName(GpcCookie pCookie, const char* lpszSource, const char* lpszDest)
{
    if (FakeHost::Current())
        FakeHost::Current()->unpacks.push_back({pCookie, lpszSource ? lpszSource : "", lpszDest ? lpszDest : ""});
    WriteFileBytes(lpszDest, ReadFileBytes(lpszSource));
    FinalNameBlocker* p = FinalNameBlocker::s_pCurrent;
    if (p && p->nHow == BLOCK_WITH_FOLDER) CreateDirectoryA(p->finalPath.c_str(), nullptr);
    if (p && p->nHow == BLOCK_BY_HOLDING)
        p->hHeld = CreateFileA(p->finalPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return 0;
}

}  // namespace

// A rename that fails leaves the old file (or nothing) under the final name
// and no temporary file; the entry written for the new file goes again,
// unless an older file is still at the path it names.
TEST_F(Installation, FailedRenameKeepsTheOldFileAndListsOnlyWhatIsThere)
{
    std::string root = UniqueName("GpcLogUndo");
    std::string key = "SOFTWARE\\" + root + "\\Deinstall\\Internet Explorer\\" + root + "\\1.0";
    ASSERT_EQ(1, mgr->LogMgr->OpenLogRoot(dir.c_str(), "Internet Explorer", root.c_str(), "1.0"));
    host.Table()->HostUnpackFile = &UnpackThenBlockTheFinalName;
    struct {
        const char* lpszName;
        FinalNameBlock nHow;
        const char* lpszInstalled;  // null: a new file
        bool bListedAfter;
    } cases[] = {
        {"new file, a folder took its name", BLOCK_WITH_FOLDER, nullptr, false},
        {"installed file held open", BLOCK_BY_HOLDING, "OLD", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lpszName);
        std::string folder = dir + "\\r" + std::to_string(++n);
        GpcInstallItem* pItem = Add("r.dll;u;r" + std::to_string(n) + ";;;;;;");
        std::string path = InstallPath(pItem);
        CreateDirectoryA(folder.c_str(), nullptr);
        if (c.lpszInstalled) {
            WriteFileBytes(path, c.lpszInstalled);
            ASSERT_TRUE(WriteRegString(HKEY_LOCAL_MACHINE, key, "r.dll", path));
        }
        FinalNameBlocker blocker{c.nHow, path};
        FinalNameBlocker::s_pCurrent = &blocker;
        host.unpacks.clear();
        trace.Clear();
        int nResult = mgr->DoItemInstallation(pItem, Download("NEW").c_str());
        FinalNameBlocker::s_pCurrent = nullptr;
        if (blocker.hHeld != INVALID_HANDLE_VALUE) CloseHandle(blocker.hHeld);

        EXPECT_EQ(GPC_INSTALL_NOT_WRITABLE, nResult);
        EXPECT_EQ(ITEM_FAILED, pItem->State);
        EXPECT_TRUE(trace.Contains("Can not replace " + path)) << trace.Dump();
        ASSERT_EQ(1u, host.unpacks.size());
        EXPECT_FALSE(PathExists(host.unpacks[0].dest));
        if (c.lpszInstalled) {
            EXPECT_EQ(c.lpszInstalled, ReadFileBytes(path));
            EXPECT_EQ(std::vector<std::string>{"r.dll"}, FilesIn(folder));
        } else {
            EXPECT_TRUE(FilesIn(folder).empty());
            RemoveDirectoryA(path.c_str());
        }
        bool bFound = false;
        std::string logged = ReadRegString(HKEY_LOCAL_MACHINE, key, "r.dll", &bFound);
        EXPECT_EQ(c.bListedAfter, bFound);
        if (c.bListedAfter) {
            EXPECT_EQ(path, logged);
        }
        mgr->ClearItems();
    }
    DeleteRegTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + root);
}

// ---------------------------------------------------------------------------
// Replacement at restart (NT family)

TEST_F(Installation, ReplaceAtRebootRecordsOneReplacingMove)
{
    PendingRenamesGuard guard;
    std::string from = workDir + "\\new.tmp";
    std::string to = dir + "\\app.dll";
    WriteFileBytes(from, "NEW");
    WriteFileBytes(to, "OLD");
    size_t nBefore = PendingRenames().size();

    ReplaceFileAtReboot(from.c_str(), to.c_str());

    std::vector<std::string> renames = PendingRenames();
    ASSERT_EQ(nBefore + 2, renames.size());
    EXPECT_EQ("\\??\\" + from, renames[nBefore]);
    EXPECT_EQ("!\\??\\" + to, renames[nBefore + 1]);
    // Nothing moves before the restart.
    EXPECT_EQ("OLD", ReadFileBytes(to));
    EXPECT_EQ("NEW", ReadFileBytes(from));
}

// A replacement that could not be scheduled would never happen: the new
// file is not left behind, the item failed, and the restart message is not
// shown for it.
TEST_F(Installation, RebootReplacementThatCannotBeScheduledFailsTheItem)
{
    PendingRenamesGuard guard;
    std::vector<std::string> before = PendingRenames();
    struct SeamGuard {
        PFN_GpcMoveFileEx pfnSaved = SetRebootMoveForTesting(&MoveAtRebootDenied);
        ~SeamGuard() { SetRebootMoveForTesting(pfnSaved); }
    } seam;
    ExpectReports(host);
    GpcInstallItem* pItem = Add("a.dll;u;;;;;;;reboot");
    std::string target = InstallPath(pItem);
    WriteFileBytes(target, "INSTALLED");
    std::string download = Download("NEW");
    {
        BusyFile busy(target);
        pItem->Live.Register(GPC_LIVE_ITEM, pItem);
        CVRGpcExtension::OnItemDownload(nullptr, pItem->Live.GetContext(), 0,
                                        reinterpret_cast<ULONG_PTR>(download.c_str()));
    }
    EXPECT_TRUE(trace.HasLine("DoItemInstall: -2, IGNORE: 0")) << trace.Dump();
    EXPECT_EQ(ITEM_FAILED, pItem->State);
    EXPECT_TRUE(trace.HasLine("Can not replace " + target + " at reboot, GetLastError() = 5")) << trace.Dump();
    EXPECT_TRUE(trace.Contains("ErrorCode=7&OptInfo1=a.dll]")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("ErrorCode=8&"));
    EXPECT_EQ("INSTALLED", ReadFileBytes(target));
    ASSERT_EQ(1u, host.unpacks.size());
    EXPECT_FALSE(PathExists(host.unpacks[0].dest));
    EXPECT_EQ(before, PendingRenames());
}

// Under WOW64 the file this process wrote in the system folder is the
// 32-bit copy: the restart (a native component) must replace that one, and
// must find a "Sysnative" path under the native folder's own name. The
// folders WOW64 leaves alone keep their path; without WOW64 nothing changes.
TEST_F(Installation, RestartReplacementUnderWow64NamesTheFolderTheFileIsIn)
{
    char achSystem[MAX_PATH];
    char achWindows[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryA(achSystem, sizeof(achSystem)));
    ASSERT_NE(0u, GetWindowsDirectoryA(achWindows, sizeof(achWindows)));
    const std::string sys = achSystem;
    const std::string win = achWindows;
    const std::string wow = win + "\\SysWOW64";
    std::string upper = sys;
    for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    struct {
        const char* name;
        bool wow64;
        std::string destination;
        std::string recorded;
    } cases[] = {
        {"32-bit Windows", false, sys + "\\a.dll", sys + "\\a.dll"},
        {"system folder", true, sys + "\\a.dll", wow + "\\a.dll"},
        {"system folder in capitals", true, upper + "\\a.dll", wow + "\\a.dll"},
        {"drivers folder", true, sys + "\\drivers\\k.sys", wow + "\\drivers\\k.sys"},
        {"name that begins like an exempt folder", true, sys + "\\spooler.dll", wow + "\\spooler.dll"},
        {"spooler's folder", true, sys + "\\spool\\drivers\\w32x86\\3\\p.dll",
         sys + "\\spool\\drivers\\w32x86\\3\\p.dll"},
        {"drivers\\etc", true, sys + "\\drivers\\etc\\hosts", sys + "\\drivers\\etc\\hosts"},
        {"catroot2", true, sys + "\\CatRoot2\\x.cat", sys + "\\CatRoot2\\x.cat"},
        {"native folder's alias", true, win + "\\Sysnative\\drivers\\k.sys", sys + "\\drivers\\k.sys"},
        {"folder beside the system folder", true, sys + "x\\a.dll", sys + "x\\a.dll"},
        {"product folder", true, dir + "\\a.dll", dir + "\\a.dll"},
    };
    struct SeamGuard {
        PFN_GpcMoveFileEx pfnSaved = SetRebootMoveForTesting(&MoveAtRebootRecorded);
        ~SeamGuard() { SetRebootMoveForTesting(pfnSaved); }
    } seam;
    const std::string fresh = dir + "\\new.tmp";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedWow64 wow64(c.wow64);
        g_rebootMoves.clear();
        trace.Clear();
        EXPECT_EQ(1, ReplaceFileAtReboot(fresh.c_str(), c.destination.c_str()));
        ASSERT_EQ(1u, g_rebootMoves.size());
        EXPECT_EQ(fresh, g_rebootMoves[0].from);
        EXPECT_EQ(c.recorded, g_rebootMoves[0].to);
        EXPECT_EQ(static_cast<DWORD>(MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING), g_rebootMoves[0].flags);
        EXPECT_EQ(c.recorded != c.destination,
                  trace.HasLine("Replace at reboot: " + c.destination + " is " + c.recorded))
            << trace.Dump();
    }
}

// A path that the restart's folder makes too long is refused, never cut.
TEST_F(Installation, RestartPathThatNoLongerFitsIsRefused)
{
    char achOut[32];
    EXPECT_FALSE(MapPathForRestart("C:\\sys\\abcdefghij.dll", "C:\\sys", "C:\\windows\\SysWOW64", "",
                                   achOut, sizeof(achOut)));
    EXPECT_TRUE(MapPathForRestart("C:\\sys\\a.dll", "C:\\sys", "C:\\w\\SysWOW64", "", achOut, sizeof(achOut)));
    EXPECT_STREQ("C:\\w\\SysWOW64\\a.dll", achOut);
}

// ---------------------------------------------------------------------------
// Registration actions

TEST_F(Installation, ServerRegistrationRunsInTheInstallDirectoryAndRestoresTheCurrentOne)
{
    GpcInstallItem* pItem = Add("server.dll;u;Sub Dir;;;;r;;");
    std::string path = InstallPath(pItem);
    CreateDirectoryA(InstallDir(pItem).c_str(), nullptr);
    ASSERT_TRUE(CopyFixture("regdll_ok.dll", path));
    pItem->State = ITEM_INSTALLED;
    SetCurrentDirectoryA(workDir.c_str());

    EXPECT_EQ(1, mgr->RegisterItem(pItem));
    EXPECT_EQ(ITEM_DONE, pItem->State);
    std::vector<std::string> ran = ReadLines(path + ".ran");
    ASSERT_EQ(1u, ran.size());
    EXPECT_EQ(0, _stricmp(InstallDir(pItem).c_str(), ran[0].c_str())) << ran[0];
    char achCur[MAX_PATH];
    GetCurrentDirectoryA(sizeof(achCur), achCur);
    EXPECT_EQ(0, _stricmp(workDir.c_str(), achCur));
}

TEST_F(Installation, FailedServerRegistrationFailsTheItemWithoutAMessage)
{
    struct {
        const char* lpszFixture;  // null: no file at all
        bool bRuns;
    } cases[] = {{"regdll_fails.dll", true}, {"regdll_none.dll", false}, {nullptr, false}};
    int n = 0;
    for (const auto& c : cases) {
        std::string name = "srv" + std::to_string(++n) + ".dll";
        GpcInstallItem* pItem = Add(name + ";u;;;;;R;;");
        std::string path = InstallPath(pItem);
        if (c.lpszFixture) {
            ASSERT_TRUE(CopyFixture(c.lpszFixture, path));
        }
        pItem->State = ITEM_INSTALLED;
        trace.Clear();
        EXPECT_EQ(1, mgr->RegisterItem(pItem)) << name;
        EXPECT_EQ(ITEM_FAILED, pItem->State) << name;
        EXPECT_EQ(c.bRuns, PathExists(path + ".ran")) << name;
        EXPECT_EQ(!c.lpszFixture, trace.Contains("Load library failed, GetLastError() = ")) << name;
    }
}

TEST_F(Installation, ProgramActionsRunTheShortPathHiddenWithTheirSwitch)
{
    struct {
        const char* lpszAction;
        const char* lpszSwitch;
    } cases[] = {{"e", "/r"}, {"P", "/p"}};
    int n = 0;
    for (const auto& c : cases) {
        std::string name = "setup" + std::to_string(++n) + ".exe";
        GpcInstallItem* pItem = Add(name + ";u;Sub Dir;;;;" + c.lpszAction + ";;");
        std::string path = InstallPath(pItem);
        CreateDirectoryA(InstallDir(pItem).c_str(), nullptr);
        ASSERT_TRUE(CopyFixture("record_args.exe", path));
        pItem->State = ITEM_INSTALLED;
        std::string shortPath = ShortPath(path);
        ASSERT_FALSE(shortPath.empty());
        ASSERT_EQ(std::string::npos, shortPath.find(' '));
        trace.Clear();

        EXPECT_EQ(1, mgr->RegisterItem(pItem)) << name;
        EXPECT_EQ(ITEM_DONE, pItem->State);
        std::string command = shortPath + " " + c.lpszSwitch;
        EXPECT_EQ(c.lpszSwitch == std::string("/r"), trace.HasLine("Register file(e): " + command)) << trace.Dump();

        ASSERT_TRUE(WaitForFile(path + ".args")) << name;
        std::vector<std::string> lines = ReadLines(path + ".args");
        ASSERT_EQ(3u, lines.size());
        EXPECT_EQ(c.lpszSwitch, lines[0]);
        EXPECT_EQ(0, _stricmp(command.c_str(), lines[1].c_str())) << lines[1];
        EXPECT_EQ(0, _stricmp(InstallDir(pItem).c_str(), lines[2].c_str())) << lines[2];
    }
}

TEST_F(Installation, ProgramThatCannotStartFailsTheItemAndAsksForAMessage)
{
    GpcInstallItem* pItem = Add("missing.exe;u;;;;;e;;");
    pItem->State = ITEM_INSTALLED;
    EXPECT_EQ(0, mgr->RegisterItem(pItem));
    EXPECT_EQ(ITEM_FAILED, pItem->State);
}

TEST_F(Installation, RegistrationWithoutActionOrOutsideInstalledStateChangesOnlyWhatItMust)
{
    struct {
        const char* lpszText;
        int nStateBefore;
        int nStateAfter;
    } cases[] = {
        {"a.dll;u;;;;;", ITEM_INSTALLED, ITEM_DONE},       // action absent
        {"b.dll;u;;;;;;;", ITEM_INSTALLED, ITEM_DONE},     // action empty
        {"c.dll;u;;;;;x;;", ITEM_INSTALLED, ITEM_DONE},    // unknown action
        {"d.dll;u;;;;;r;;", ITEM_DOWNLOADING, ITEM_DOWNLOADING},
        {"e.dll;u;;;;;e;;", ITEM_FAILED, ITEM_FAILED},
        {"f.dll;u;;;;;e;;", ITEM_DONE, ITEM_DONE},
    };
    for (const auto& c : cases) {
        GpcInstallItem* pItem = Add(c.lpszText);
        pItem->State = c.nStateBefore;
        EXPECT_EQ(1, mgr->RegisterItem(pItem)) << c.lpszText;
        EXPECT_EQ(c.nStateAfter, pItem->State) << c.lpszText;
    }
}
