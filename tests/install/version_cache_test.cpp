// Each file's version is read at most once per pass: the answers of the
// update decision, its traces and what the host is asked stay as they were,
// and whatever the library writes is read again.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "install_fixture.h"
#include "support/case_names.h"

namespace {

using VersionPass = InstallTest;

size_t CountLines(const TraceCapture& trace, const std::string& line)
{
    size_t n = 0;
    for (const std::string& l : trace.Texts())
        n += l == line ? 1 : 0;
    return n;
}

}  // namespace

// Replaced behind the library's back in the middle of a pass, the file keeps
// the version the pass read first; the next pass reads it again. The update
// trace comes once per question, as it did when every question read the file.
TEST_F(VersionPass, APassReadsEachVersionOnceAndTheNextPassReadsAgain)
{
    GpcInstallItem* pItem = Add("a.dll;u;;1,0,0,7;;;;version");
    std::string path = InstallPath(pItem);
    ASSERT_TRUE(CopyFixture("ver_1_0_0_7.dll", path));

    mgr->BeginPass();
    EXPECT_EQ(0, mgr->HasAnyUpdate());
    ASSERT_TRUE(CopyFixture("ver_1_0_0_8.dll", path));
    EXPECT_EQ(1, mgr->ScheduleDownloads());
    EXPECT_EQ(ITEM_INSTALLED, pItem->State);
    EXPECT_TRUE(host.downloads.empty());

    trace.Clear();
    mgr->BeginPass();
    EXPECT_EQ(1, mgr->HasAnyUpdate());
    EXPECT_EQ(1, mgr->ScheduleDownloads());
    EXPECT_EQ(ITEM_DOWNLOADING, pItem->State);
    EXPECT_EQ(1u, host.downloads.size());
    EXPECT_EQ(2u, CountLines(trace, "Update " + path + " from version 1,0,0,8 to version 1,0,0,7")) << trace.Dump();
    EXPECT_EQ(1u, CountLines(trace, "HasAnyUpdate -- NeedUpdate,filePath = " + path)) << trace.Dump();
}

// The pass read the old file when it scheduled the download; the check after
// the installation must see the new one, wherever it was written.
TEST_F(VersionPass, InstalledFileIsReadAgainAfterItIsWritten)
{
    struct {
        const char* lpszName;
        const char* lpszItem;
        bool bBusy;  // the destination is held: the file goes to its redirected copy
    } cases[] = {
        {"over the installed file", "a.dll;u;;1,0,0,8;;;;version", false},
        {"redirected copy", "b.dll;u;Sub;1,0,0,8;;;;version;redirect", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lpszName);
        mgr->ClearItems();
        GpcInstallItem* pItem = Add(c.lpszItem);
        std::string path = InstallPath(pItem);
        std::string written = c.bBusy ? RedirectPath(pItem) : path;
        CreateDirectoryA(InstallDir(pItem).c_str(), nullptr);
        ASSERT_TRUE(CopyFixture("ver_1_0_0_7.dll", path));
        if (c.bBusy) {
            ASSERT_TRUE(CopyFixture("ver_1_0_0_7.dll", written));
        }
        std::string download = workDir + "\\new.dll";
        ASSERT_TRUE(CopyFixture("ver_1_0_0_8.dll", download));

        std::unique_ptr<BusyFile> busy(c.bBusy ? new BusyFile(path) : nullptr);
        mgr->BeginPass();
        EXPECT_EQ(1, mgr->HasAnyUpdate());
        EXPECT_EQ(1, mgr->ScheduleDownloads());
        ASSERT_EQ(ITEM_DOWNLOADING, pItem->State);

        trace.Clear();
        mgr->DoItemInstallation(pItem, download.c_str());
        EXPECT_EQ(ITEM_INSTALLED, pItem->State);
        EXPECT_FALSE(trace.Contains("WARNING:")) << trace.Dump();
        char achVersion[256] = "";
        EXPECT_TRUE(GetFileVersionString(written.c_str(), achVersion, sizeof(achVersion)));
        EXPECT_STREQ("1,0,0,8", achVersion);
    }
}

// ---------------------------------------------------------------------------
// Versions kept for the next start, beside the installation log

namespace {

struct RawValue {
    bool found = false;
    DWORD type = REG_NONE;
    std::string bytes;  // as stored, terminator included
};

class VersionStore : public InstallTest {
protected:
    void SetUp() override
    {
        InstallTest::SetUp();
        root = UniqueName("GpcVerRoot");
        ASSERT_TRUE(mgr->LogMgr);
        ASSERT_EQ(1, mgr->LogMgr->OpenLogRoot(dir.c_str(), "GpcTag", root.c_str(), "1.0"));
        storeKey = "SOFTWARE\\" + root + "\\Deinstall\\GpcTag\\" + root + "\\1.0\\" +
                   CVRGpcVersionCache::StoreKeyName();
    }
    void TearDown() override
    {
        InstallTest::TearDown();
        DeleteRegTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + root);
    }

    RawValue Kept(const std::string& path)
    {
        RawValue v;
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, storeKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return v;
        BYTE ab[2048];
        DWORD cb = sizeof(ab);
        if (RegQueryValueExA(hKey, path.c_str(), nullptr, &v.type, ab, &cb) == ERROR_SUCCESS) {
            v.found = true;
            v.bytes.assign(reinterpret_cast<char*>(ab), cb);
        }
        RegCloseKey(hKey);
        return v;
    }
    std::vector<std::string> KeptNames()
    {
        std::vector<std::string> names;
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, storeKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return names;
        for (DWORD i = 0;; ++i) {
            char achName[1024];
            DWORD cch = sizeof(achName);
            if (RegEnumValueA(hKey, i, achName, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.push_back(achName);
        }
        RegCloseKey(hKey);
        return names;
    }
    void Keep(const std::string& path, DWORD dwType, const std::string& bytes)
    {
        HKEY hKey = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, storeKey.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &hKey, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, path.c_str(), 0, dwType,
                                                reinterpret_cast<const BYTE*>(bytes.data()),
                                                static_cast<DWORD>(bytes.size())));
        RegCloseKey(hKey);
    }
    // One start-up's questions: is anything to update, then what to fetch.
    int Pass()
    {
        mgr->BeginPass();
        return mgr->HasAnyUpdate();
    }

    std::string root;
    std::string storeKey;
};

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

WIN32_FILE_ATTRIBUTE_DATA Stamp(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    memset(&data, 0, sizeof(data));
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

FILETIME Shifted(const FILETIME& ft, LONGLONG llDelta)
{
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    u.QuadPart += static_cast<ULONGLONG>(llDelta);
    FILETIME out;
    out.dwLowDateTime = u.LowPart;
    out.dwHighDateTime = u.HighPart;
    return out;
}

const LONGLONG GPC_SECOND = 10000000;

// The library's view of a file's times with the creation time a day
// earlier than it is: Wine cannot set a creation time on its own.
BOOL WINAPI StampWithEarlierCreation(const char* lpszPath, GET_FILEEX_INFO_LEVELS level, void* pData)
{
    if (!GetFileAttributesExA(lpszPath, level, pData)) return FALSE;
    if (level == GetFileExInfoStandard) {
        WIN32_FILE_ATTRIBUTE_DATA* p = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(pData);
        p->ftCreationTime = Shifted(p->ftCreationTime, -86400 * GPC_SECOND);
    }
    return TRUE;
}

class StampReaderGuard {
public:
    explicit StampReaderGuard(PFN_GpcGetFileAttributesEx pfnRead)
        : m_pfnSaved(pfnRead ? SetFileStampReaderForTesting(pfnRead) : nullptr), m_bSet(pfnRead != nullptr)
    {
    }
    ~StampReaderGuard()
    {
        if (m_bSet) SetFileStampReaderForTesting(m_pfnSaved);
    }
    StampReaderGuard(const StampReaderGuard&) = delete;
    StampReaderGuard& operator=(const StampReaderGuard&) = delete;

private:
    PFN_GpcGetFileAttributesEx m_pfnSaved;
    bool m_bSet;
};

// What changes between the first start and the next one: the file is
// replaced by another version of the same size, then its stamps are set.
struct ChangeCase {
    const char* name;
    friend void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }
    bool bSize;
    bool bWrite;
    bool bCreation;
};

class VersionStoreChange : public VersionStore, public ::testing::WithParamInterface<ChangeCase> {};

}  // namespace

// Only the three stamps vouch for a kept version: with all three as they
// were, the next start takes the kept answer without reading the file (so
// a replacement that keeps them goes unseen); any one of them changed, and
// the file is read again and its entry written anew.
TEST_P(VersionStoreChange, FileIsReadAgainWhenItsSizeOrEitherTimeChanged)
{
    const ChangeCase& c = GetParam();
    GpcInstallItem* pItem = Add("a.dll;u;;1,0,0,7;;;;version");
    std::string path = InstallPath(pItem);
    ASSERT_TRUE(CopyFixture("ver_1_0_0_7.dll", path));

    EXPECT_EQ(0, Pass());
    RawValue first = Kept(path);
    ASSERT_TRUE(first.found);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), first.type);
    EXPECT_TRUE(EndsWith(first.bytes, std::string("|1|1,0,0,7") + '\0')) << first.bytes;

    WIN32_FILE_ATTRIBUTE_DATA before = Stamp(path);
    ASSERT_TRUE(CopyFixture("ver_1_0_0_8.dll", path));
    if (c.bSize) {
        HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD dw = 0;
        WriteFile(h, "pad", 3, &dw, nullptr);
        CloseHandle(h);
    }
    FILETIME ftWrite = c.bWrite ? Shifted(before.ftLastWriteTime, 2 * GPC_SECOND) : before.ftLastWriteTime;
    {
        HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                               nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        EXPECT_TRUE(SetFileTime(h, &before.ftCreationTime, nullptr, &ftWrite));
        CloseHandle(h);
    }
    // Wine takes the creation time from the file's other times: there it
    // cannot be set on its own, and moves with the last-write time. A
    // creation time of its own is what the library is shown instead.
    WIN32_FILE_ATTRIBUTE_DATA after = Stamp(path);
    if (!SameTime(after.ftLastWriteTime, ftWrite))
        GTEST_SKIP() << "the file system does not keep the times set here";
    ASSERT_EQ(c.bWrite, !SameTime(after.ftCreationTime, before.ftCreationTime) ||
                            !SameTime(after.ftLastWriteTime, before.ftLastWriteTime));
    ASSERT_EQ(c.bSize, after.nFileSizeLow != before.nFileSizeLow);
    StampReaderGuard stamps(c.bCreation ? &StampWithEarlierCreation : nullptr);

    trace.Clear();
    bool bChanged = c.bSize || c.bWrite || c.bCreation;
    EXPECT_EQ(bChanged ? 1 : 0, Pass());
    EXPECT_EQ(bChanged, trace.HasLine("Update " + path + " from version 1,0,0,8 to version 1,0,0,7")) << trace.Dump();
    RawValue second = Kept(path);
    ASSERT_TRUE(second.found);
    EXPECT_EQ(bChanged, EndsWith(second.bytes, std::string("|1|1,0,0,8") + '\0')) << second.bytes;
    EXPECT_EQ(bChanged, second.bytes != first.bytes);
}

INSTANTIATE_TEST_SUITE_P(, VersionStoreChange,
                         ::testing::Values(ChangeCase{"nothing the stamps show", false, false, false},
                                           ChangeCase{"size", true, false, false},
                                           ChangeCase{"last write time at the same size", false, true, false},
                                           ChangeCase{"creation time only", false, false, true}),
                         CaseName());

// A kept entry stands only for a file that is there.
TEST_F(VersionStore, MissingFileIsNeverAnsweredFromTheKeptEntry)
{
    std::string path = dir + "\\gone.dll";
    ASSERT_TRUE(CopyFixture("ver_1_0_0_7.dll", path));
    CVRGpcVersionCache cache;
    char achVersion[256] = "";
    cache.BeginPass(mgr->LogMgr->m_keyLog.GetHandle());
    EXPECT_EQ(1, cache.Read(GPC_VERSION_RESOURCE, path.c_str(), achVersion, sizeof(achVersion)));
    EXPECT_STREQ("1,0,0,7", achVersion);
    ASSERT_TRUE(Kept(path).found);

    ASSERT_TRUE(DeleteFileA(path.c_str()));
    for (int nPass = 0; nPass < 2; ++nPass) {
        cache.BeginPass(mgr->LogMgr->m_keyLog.GetHandle());
        strcpy(achVersion, "untouched");
        EXPECT_EQ(0, cache.Read(GPC_VERSION_RESOURCE, path.c_str(), achVersion, sizeof(achVersion)));
        EXPECT_STREQ("", achVersion);
    }
}

// Whatever stands in the value, a version is taken from it only when it has
// the form this library writes; otherwise the file is read and the entry
// written anew. Each damaged form claims a version the file does not have.
TEST_F(VersionStore, DamagedEntryIsIgnoredAndWrittenAgain)
{
    GpcInstallItem* pItem = Add("a.dll;u;;1,0,0,7;;;;version");
    std::string path = InstallPath(pItem);
    ASSERT_TRUE(CopyFixture("ver_1_0_0_7.dll", path));
    EXPECT_EQ(0, Pass());
    const std::string good = Kept(path).bytes;  // "<stamp>1|1,0,0,7\0"
    const std::string tail = std::string("1|1,0,0,7") + '\0';
    ASSERT_TRUE(EndsWith(good, tail)) << good;
    const std::string stamp = good.substr(0, good.size() - tail.size());
    const std::string lie = stamp + "1|1,0,0,8";

    struct {
        const char* lpszName;
        DWORD dwType;
        std::string bytes;
    } cases[] = {
        {"binary value", REG_BINARY, lie + '\0'},
        {"expandable string", REG_EXPAND_SZ, lie + '\0'},
        {"text after a zero byte", REG_SZ, lie + '\0' + "x" + '\0'},
        {"version past 255 characters", REG_SZ, lie + std::string(300, '8') + '\0'},
        {"value larger than any record", REG_SZ, lie + std::string(1500, '8') + '\0'},
        {"not found, yet with a text", REG_SZ, stamp + "0|1,0,0,8" + '\0'},
        {"found flag neither 0 nor 1", REG_SZ, stamp + "7|1,0,0,8" + '\0'},
        {"cut short", REG_SZ, lie.substr(0, 20) + '\0'},
        {"empty", REG_SZ, std::string()},
        {"other stamp", REG_SZ, "2" + lie.substr(1) + '\0'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lpszName);
        Keep(path, c.dwType, c.bytes);
        trace.Clear();
        EXPECT_EQ(0, Pass()) << trace.Dump();
        RawValue now = Kept(path);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), now.type);
        EXPECT_EQ(good, now.bytes);
    }
}

// What the library writes leaves no kept entry behind that could vouch for
// the file that was there before.
TEST_F(VersionStore, LibraryWritesLeaveNoOldEntry)
{
    GpcInstallItem* pOver = Add("a.dll;u;;1,0,0,8;;;;version");
    GpcInstallItem* pReboot = Add("r.dll;u;;1,0,0,8;;;;version;reboot");
    std::string over = InstallPath(pOver);
    std::string reboot = InstallPath(pReboot);
    ASSERT_TRUE(CopyFixture("ver_1_0_0_7.dll", over));
    ASSERT_TRUE(CopyFixture("ver_1_0_0_7.dll", reboot));
    std::string download = workDir + "\\new.dll";
    ASSERT_TRUE(CopyFixture("ver_1_0_0_8.dll", download));
    PendingRenamesGuard renames;

    mgr->BeginPass();
    EXPECT_EQ(1, mgr->ScheduleDownloads());
    ASSERT_TRUE(EndsWith(Kept(over).bytes, std::string("|1|1,0,0,7") + '\0'));
    ASSERT_TRUE(EndsWith(Kept(reboot).bytes, std::string("|1|1,0,0,7") + '\0'));

    // Installed in place: the check after it read the new file and kept that.
    EXPECT_EQ(GPC_INSTALL_OK, mgr->DoItemInstallation(pOver, download.c_str()));
    EXPECT_TRUE(EndsWith(Kept(over).bytes, std::string("|1|1,0,0,8") + '\0')) << Kept(over).bytes;

    // Replaced at the next restart: the entry of the file that goes is gone.
    {
        BusyFile busy(reboot);
        ASSERT_TRUE(busy.IsOpen());
        EXPECT_EQ(GPC_INSTALL_RESTART_NEEDED, mgr->DoItemInstallation(pReboot, download.c_str()));
    }
    EXPECT_FALSE(Kept(reboot).found);
    // Nor is anything kept of the new file waiting in the temporary folder.
    EXPECT_EQ(std::vector<std::string>{over}, KeptNames());
}

// A start-up decides, traces and asks the host the same whether the kept
// entries are empty, full, or cleared again.
TEST_F(VersionStore, StartupIsTheSameWithOrWithoutKeptVersions)
{
    const std::string tag = "#~@CorvoVersionTag@~#";
    struct {
        const char* lpszItem;
        const char* lpszFixture;  // null: bytes below; "" no file
        std::string bytes;
    } files[] = {
        {"cur.dll;u;;1,0,0,7;;;;version", "ver_1_0_0_7.dll", ""},
        {"old.dll;u;;1,0,0,8;;;;version", "ver_1_0_0_7.dll", ""},
        {"nover.dll;u;;1,0,0,7;;;;version", "nover.dll", ""},
        {"tag.bin;u;;2.1;;;;vertag", nullptr, "head" + tag + "2.1"},
        {"oldtag.bin;u;;2.2;;;;vertag", nullptr, "head" + tag + "2.1"},
        {"size.bin;u;;;4;;;size", nullptr, "1234"},
        {"missing.dll;u;;1,0,0,7;;;;version", "", ""},
    };
    for (const auto& f : files) {
        GpcInstallItem* pItem = Add(f.lpszItem);
        if (!f.lpszFixture) {
            WriteFileBytes(InstallPath(pItem), f.bytes);
        } else if (f.lpszFixture[0]) {
            ASSERT_TRUE(CopyFixture(f.lpszFixture, InstallPath(pItem)));
        }
    }

    struct Outcome {
        int bUpdate;
        std::vector<std::string> lines;
        std::vector<int> states;
        size_t downloads;
    };
    auto StartUp = [&]() {
        Outcome o;
        size_t nBefore = host.downloads.size();
        trace.Clear();
        o.bUpdate = Pass();
        mgr->ScheduleDownloads();
        for (std::string line : trace.Texts()) {
            size_t pos = line.find("?random=");
            if (pos != std::string::npos)
                line.erase(pos);
            o.lines.push_back(line);
        }
        for (int i = 0; i < mgr->GetItemCount(); ++i)
            o.states.push_back(mgr->GetItem(i)->State);
        o.downloads = host.downloads.size() - nBefore;
        return o;
    };

    Outcome cold = StartUp();
    EXPECT_EQ(1, cold.bUpdate);
    EXPECT_EQ(4u, cold.downloads);  // old.dll, nover.dll, oldtag.bin, missing.dll
    EXPECT_TRUE(Kept(InstallPath(mgr->GetItem(0))).found);
    for (const char* lpszLabel : {"kept", "cleared"}) {
        SCOPED_TRACE(lpszLabel);
        if (std::string(lpszLabel) == "cleared")
            DeleteRegTree(HKEY_LOCAL_MACHINE, storeKey);
        Outcome warm = StartUp();
        EXPECT_EQ(cold.bUpdate, warm.bUpdate);
        EXPECT_EQ(cold.lines, warm.lines);
        EXPECT_EQ(cold.states, warm.states);
        EXPECT_EQ(cold.downloads, warm.downloads);
    }
}

// STDNAMES.GPD gets the same fixed date on every install, so two versions of
// one size carry the same stamp. Another product (or another user's
// installation) that puts a newer one in place must not leave this product
// answering the tag of the old one at its next start.
TEST_F(VersionStore, FileWhoseTimesTheLibrarySetsIsNeverKept)
{
    const std::string tag = "#~@CorvoVersionTag@~#";
    std::string path = dir + "\\STDNAMES.GPD";
    std::string older = "printer names " + tag + "1.1";
    std::string newer = "printer names " + tag + "1.2";
    ASSERT_EQ(older.size(), newer.size());
    WriteFileBytes(path, older);
    FixStdNamesFileTime(path.c_str(), "STDNAMES.GPD");
    WIN32_FILE_ATTRIBUTE_DATA first = Stamp(path);

    CVRGpcVersionCache cache;
    char achTag[256] = "";
    cache.BeginPass(mgr->LogMgr->m_keyLog.GetHandle());
    EXPECT_EQ(1, cache.Read(GPC_VERSION_TAG, path.c_str(), achTag, sizeof(achTag)));
    EXPECT_STREQ("1.1", achTag);
    // Within a pass it is answered from memory like any other file.
    WriteFileBytes(path, newer);
    FixStdNamesFileTime(path.c_str(), "STDNAMES.GPD");
    EXPECT_EQ(1, cache.Read(GPC_VERSION_TAG, path.c_str(), achTag, sizeof(achTag)));
    EXPECT_STREQ("1.1", achTag);
    cache.Release();
    EXPECT_FALSE(Kept(path).found);

    WIN32_FILE_ATTRIBUTE_DATA second = Stamp(path);
    ASSERT_EQ(first.nFileSizeLow, second.nFileSizeLow);
    ASSERT_TRUE(SameTime(first.ftLastWriteTime, second.ftLastWriteTime));
    ASSERT_TRUE(SameTime(first.ftCreationTime, second.ftCreationTime));

    // The next start of this product reads the file again.
    cache.BeginPass(mgr->LogMgr->m_keyLog.GetHandle());
    EXPECT_EQ(1, cache.Read(GPC_VERSION_TAG, path.c_str(), achTag, sizeof(achTag)));
    EXPECT_STREQ("1.2", achTag);
    cache.Release();

    // Nor is an entry with the file's very stamp that an earlier library
    // kept: the store is not asked about such a file at all.
    char achRecord[128];
    snprintf(achRecord, sizeof(achRecord), "%d|%08lX%08lX|%08lX%08lX|%08lX%08lX|1|1.1",
             static_cast<int>(GPC_VERSION_TAG), second.nFileSizeHigh, second.nFileSizeLow,
             second.ftLastWriteTime.dwHighDateTime, second.ftLastWriteTime.dwLowDateTime,
             second.ftCreationTime.dwHighDateTime, second.ftCreationTime.dwLowDateTime);
    Keep(path, REG_SZ, std::string(achRecord) + '\0');
    // Another file, so that the store is not empty at the start of the pass.
    Keep(dir + "\\other.dll", REG_SZ, std::string("x") + '\0');
    cache.BeginPass(mgr->LogMgr->m_keyLog.GetHandle());
    EXPECT_EQ(1, cache.Read(GPC_VERSION_TAG, path.c_str(), achTag, sizeof(achTag)));
    EXPECT_STREQ("1.2", achTag);
}
