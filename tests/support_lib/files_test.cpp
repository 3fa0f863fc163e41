#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "npvrgpc/handles.h"
#include "npvrgpc/npbase.h"
#include "support_lib_util.h"

namespace {

bool IsDirectory(const std::string& path)
{
    DWORD dw = GetFileAttributesA(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(FileRoutines, FileExistsSeesFilesButNotDirectoriesOrMissingNames)
{
    ScopedTempFolder folder("exists");
    std::string file = folder / "present.dll";
    WriteFileBytes(file, "MZ");
    EXPECT_EQ(1, FileExists(file.c_str()));
    EXPECT_EQ(0, FileExists((folder / "absent.dll").c_str()));
    EXPECT_EQ(0, FileExists(folder.Path().c_str()));
    EXPECT_EQ(0, FileExists(""));
    EXPECT_EQ(0, FileExists(nullptr));
}

TEST(FileRoutines, FileExistsHoldsForLongPathsAndFilesOpenedExclusively)
{
    ScopedTempFolder folder("exists_long");
    // Well past the 128 characters that the old open-for-existence call took.
    std::string dir = folder / std::string(100, 'd');
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string file = dir + "\\" + std::string(40, 'f') + ".dll";
    ASSERT_GT(file.size(), 150u);
    ASSERT_LT(file.size(), 259u);
    WriteFileBytes(file, "MZ");
    EXPECT_EQ(1, FileExists(file.c_str()));

    // A component in use by someone who shares nothing still exists.
    CGpcHandle hLock(CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(hLock.IsValid());
    EXPECT_EQ(1, FileExists(file.c_str()));
}

TEST(FileRoutines, RemoveFileDeletesAndIgnoresWhatCannotBeDeleted)
{
    ScopedTempFolder folder("remove");
    std::string file = folder / "old.dll";
    WriteFileBytes(file, "old");
    RemoveFile(file.c_str());
    EXPECT_FALSE(PathExists(file));

    RemoveFile((folder / "absent.dll").c_str());
    RemoveFile(nullptr);

    std::string busy = folder / "busy.dll";
    WriteFileBytes(busy, "busy");
    {
        CGpcHandle hLock(CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(hLock.IsValid());
        RemoveFile(busy.c_str());
        EXPECT_TRUE(PathExists(busy));
    }
}

TEST(FileRoutines, CreateDirectoryPathCreatesEveryLevelAndLeavesExistingOnesAlone)
{
    ScopedTempFolder folder("mkdir");
    std::string a = folder / "A";
    std::string b = a + "\\B";
    std::string c = b + "\\C";

    CreateDirectoryA(a.c_str(), nullptr);
    std::string keep = a + "\\keep.txt";
    WriteFileBytes(keep, "kept");

    CreateDirectoryPath(c.c_str());
    EXPECT_TRUE(IsDirectory(a));
    EXPECT_TRUE(IsDirectory(b));
    EXPECT_TRUE(IsDirectory(c));
    EXPECT_EQ("kept", ReadFileBytes(keep));

    // Runs of separators, forward slashes and a trailing separator.
    std::string mixed = folder.Path() + "\\\\X//Y\\Z\\";
    CreateDirectoryPath(mixed.c_str());
    EXPECT_TRUE(IsDirectory(folder / "X\\Y\\Z"));

    // Again on the same path: nothing changes, nothing fails.
    CreateDirectoryPath(c.c_str());
    EXPECT_TRUE(IsDirectory(c));
    CreateDirectoryPath(nullptr);
}

TEST(FileRoutines, CreateDirectoryPathStopsAtTheSharedPathLimit)
{
    ScopedTempFolder folder("mkdir_long");
    // Components beyond 259 characters are cut off, never written past the
    // path buffer.
    std::string base = folder.Path();
    std::string path = base;
    while (path.size() < 400) path += "\\" + std::string(30, 'n');
    CreateDirectoryPath(path.c_str());
    std::string first = base + "\\" + std::string(30, 'n');
    EXPECT_TRUE(IsDirectory(first));
}

TEST(FileRoutines, GetFileSizeByNameNeedsReadSharing)
{
    ScopedTempFolder folder("size");
    std::string file = folder / "data.bin";
    WriteFileBytes(file, std::string(12345, 'z'));
    EXPECT_EQ(12345u, GetFileSizeByName(file.c_str()));

    std::string empty = folder / "empty.bin";
    WriteFileBytes(empty, "");
    EXPECT_EQ(0u, GetFileSizeByName(empty.c_str()));
    EXPECT_EQ(0u, GetFileSizeByName((folder / "absent.bin").c_str()));
    EXPECT_EQ(0u, GetFileSizeByName(nullptr));

    {
        // Another reader that shares reading does not get in the way.
        CGpcHandle hReader(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(hReader.IsValid());
        EXPECT_EQ(12345u, GetFileSizeByName(file.c_str()));
    }
    {
        // A writer that shares nothing does: the size is unknown then.
        CGpcHandle hWriter(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(hWriter.IsValid());
        EXPECT_EQ(0u, GetFileSizeByName(file.c_str()));
    }
}

// Under code page 932 the trail byte of a double-byte character may be 0x5C,
// the byte of "\": such a byte does not split the path.
TEST(FileRoutinesCp932, CreateDirectoryPathKeepsDoubleByteNamesWhole)
{
    if (!IsCodePage932()) GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 932";
    // 0x8E 0xA6 0x95 0x5C: two characters, the last one's trail byte is 0x5C,
    // so the path holds 0x5C twice in a row where only the second separates.
    std::string name = "\x8E\xA6\x95\x5C";
    {
        ScopedTempFolder probe("mkdir_dbcs_probe");
        if (!CreateDirectoryA((probe / name).c_str(), nullptr))
            GTEST_SKIP() << "double-byte file names need the ja_JP locale files (error " << GetLastError() << ")";
    }
    ScopedTempFolder folder("mkdir_dbcs");
    std::string path = folder / name + "\\sub";
    CreateDirectoryPath(path.c_str());
    EXPECT_TRUE(IsDirectory(folder / name));
    EXPECT_TRUE(IsDirectory(path));

    // Nothing else was created beside it (a split at the trail byte would
    // have made a directory named by the lone lead byte).
    int nEntries = 0;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((folder / "*").c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFind);
    do {
        if (strcmp(fd.cFileName, ".") != 0 && strcmp(fd.cFileName, "..") != 0) ++nEntries;
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    EXPECT_EQ(1, nEntries);
}

struct VersionCase {
    const char* file;
    int result;
    const char* version;
};

TEST(FileVersion, ReadsTheFileVersionOfTheFixtures)
{
    const VersionCase cases[] = {
        {"ver_1_0_0_7.dll", 1, "1,0,0,7"},
        {"ver_1_0_0_8.dll", 1, "1,0,0,8"},
        // Product version 9,8,7,6 is not what is read.
        {"ver_2_5_300_40000.dll", 1, "2,5,300,40000"},
        {"nover.dll", 0, ""},
        {"nover.exe", 0, ""},
        {"does_not_exist.dll", 0, ""},
    };
    for (const VersionCase& c : cases) {
        std::string path = TestBinDir() + c.file;
        char achVersion[256];
        strcpy(achVersion, "stale");
        EXPECT_EQ(c.result, GetFileVersionString(path.c_str(), achVersion, sizeof(achVersion))) << c.file;
        EXPECT_STREQ(c.version, achVersion) << c.file;
    }
}

// The file version as the system's own calls give it (size, data, root
// block), or "" when they give none.
std::string VersionBySystemCalls(const std::string& path)
{
    DWORD dwHandle = 0;
    DWORD dwSize = GetFileVersionInfoSizeA(path.c_str(), &dwHandle);
    if (dwSize == 0) return "";
    std::vector<char> data(dwSize);
    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT uLen = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, dwSize, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&pInfo), &uLen) || !pInfo ||
        uLen < sizeof(VS_FIXEDFILEINFO) || pInfo->dwSignature != VS_FFI_SIGNATURE)
        return "";
    return std::to_string(HIWORD(pInfo->dwFileVersionMS)) + "," + std::to_string(LOWORD(pInfo->dwFileVersionMS)) +
           "," + std::to_string(HIWORD(pInfo->dwFileVersionLS)) + "," + std::to_string(LOWORD(pInfo->dwFileVersionLS));
}

BOOL CALLBACK CountVersionLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR lParam)
{
    ++*reinterpret_cast<int*>(lParam);
    return TRUE;
}

int VersionResourceLanguages(const std::string& path)
{
    CGpcModule hData(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    int nCount = 0;
    if (hData.IsValid())
        EnumResourceLanguagesA(hData.Get(), MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(VS_VERSION_INFO),
                               &CountVersionLanguage, reinterpret_cast<LONG_PTR>(&nCount));
    return nCount;
}

// The reader takes the version from one look at the file where it can, and
// leaves every doubtful file to the system's calls: either way its answer
// is theirs, for every kind of file.
TEST(FileVersion, AnswersAsTheSystemsVersionCallsDo)
{
    ScopedTempFolder folder("version");
    std::string cut = folder / "cut.dll";
    std::string whole = ReadFileBytes(TestBinDir() + "ver_1_0_0_7.dll");
    ASSERT_GT(whole.size(), 2048u);
    WriteFileBytes(cut, whole.substr(0, whole.size() / 2));
    std::string text = folder / "text.dll";
    WriteFileBytes(text, "MZ but nothing more");

    // The fixtures are what their names say.
    ASSERT_EQ(2, VersionResourceLanguages(TestBinDir() + "ver_two_languages.dll"));
    ASSERT_EQ(1, VersionResourceLanguages(TestBinDir() + "ver_damaged.dll"));

    const std::string files[] = {
        TestBinDir() + "ver_1_0_0_7.dll",       TestBinDir() + "ver_2_5_300_40000.dll",
        TestBinDir() + "nover.dll",             TestBinDir() + "nover.exe",
        TestBinDir() + "ver_two_languages.dll", TestBinDir() + "ver_damaged.dll",
        cut,                                    text,
        TestBinDir() + "does_not_exist.dll",
    };
    for (const std::string& path : files) {
        char achVersion[256] = "stale";
        std::string expected = VersionBySystemCalls(path);
        EXPECT_EQ(expected.empty() ? 0 : 1, GetFileVersionString(path.c_str(), achVersion, sizeof(achVersion)))
            << path;
        EXPECT_EQ(expected, achVersion) << path;
    }
}

TEST(FileVersion, ReadsAFileThatIsNotADllAndAFileInUse)
{
    ScopedTempFolder folder("version");
    std::string text = folder / "readme.txt";
    WriteFileBytes(text, "not a program");
    char achVersion[256] = "stale";
    EXPECT_EQ(0, GetFileVersionString(text.c_str(), achVersion, sizeof(achVersion)));
    EXPECT_STREQ("", achVersion);

    // A loaded library still gives its version.
    std::string dll = TestBinDir() + "ver_1_0_0_8.dll";
    CGpcModule hModule(LoadLibraryA(dll.c_str()));
    ASSERT_TRUE(hModule.IsValid());
    EXPECT_EQ(1, GetFileVersionString(dll.c_str(), achVersion, sizeof(achVersion)));
    EXPECT_STREQ("1,0,0,8", achVersion);
}

TEST(FileVersion, AVersionThatDoesNotFitGivesAnEmptyTextNotACutOne)
{
    std::string path = TestBinDir() + "ver_2_5_300_40000.dll";
    char achVersion[16];
    memset(achVersion, '#', sizeof(achVersion));
    // "2,5,300,40000" needs 14 bytes.
    EXPECT_EQ(1, GetFileVersionString(path.c_str(), achVersion, 14));
    EXPECT_STREQ("2,5,300,40000", achVersion);
    memset(achVersion, '#', sizeof(achVersion));
    EXPECT_EQ(0, GetFileVersionString(path.c_str(), achVersion, 13));
    EXPECT_STREQ("", achVersion);
    EXPECT_EQ('#', achVersion[13]);
}

TEST(FileVersion, NullArgumentsAreReportedAndGiveNoVersion)
{
    DebugOutputCapture capture;
    char achVersion[256] = "stale";
    EXPECT_EQ(0, GetFileVersionString(nullptr, achVersion, sizeof(achVersion)));
    EXPECT_STREQ("", achVersion);
    EXPECT_TRUE(ReportedAssert(capture, "lpszPath"));
    std::string path = TestBinDir() + "ver_1_0_0_7.dll";
    EXPECT_EQ(0, GetFileVersionString(path.c_str(), nullptr, 256));
    EXPECT_TRUE(ReportedAssert(capture, "lpszVersion"));
}

}  // namespace
