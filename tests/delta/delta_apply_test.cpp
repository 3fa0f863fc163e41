// Applying a delta to an installed file: the checked result waits in a
// temporary file beside the destination; on every failure nothing is left
// behind and the installed file is as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "install/delta_apply.h"
#include "install/manifest_trust.h"
#include "install/vcdiff.h"
#include "npvrgpc/npbase.h"
#include "support/case_names.h"

namespace {

std::string BinDelta()
{
    char ach[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, ach, sizeof(ach));
    std::string s(ach, n);
    return s.substr(0, s.find_last_of('\\') + 1) + "delta\\";
}

std::string ReadAll(const std::string& path)
{
    std::string s;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

// The files in a folder, by name.
std::vector<std::string> Listing(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

struct ApplyCase {
    const char* name;
    const char* installed;  // copied to <dir>\viewer.dll (empty: none there)
    const char* delta;      // in <bin>\delta
    const char* fullFile;   // whose hash the result must have
    long nSizeDelta;        // the allowed size: the full file's size plus this
    int expected;
    int expectedDecode;
    friend void PrintTo(const ApplyCase& c, std::ostream* os) { *os << c.name; }
};

class DeltaApply : public testing::TestWithParam<ApplyCase> {
protected:
    void SetUp() override
    {
        char achTemp[MAX_PATH];
        GetTempPathA(sizeof(achTemp), achTemp);
        m_dir = std::string(achTemp) + "gpc_delta_apply_" + CaseNameOf(GetParam().name) + "\\";
        for (const std::string& name : Listing(m_dir)) DeleteFileA((m_dir + name).c_str());
        CreateDirectoryA(m_dir.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const std::string& name : Listing(m_dir)) DeleteFileA((m_dir + name).c_str());
        RemoveDirectoryA(m_dir.c_str());
    }
    std::string m_dir;
};

TEST_P(DeltaApply, LeavesTheCheckedResultBesideTheDestinationOrNothing)
{
    const ApplyCase& c = GetParam();
    const std::string installed = m_dir + "viewer.dll";
    if (c.installed[0] != '\0') {
        ASSERT_TRUE(CopyFileA((BinDelta() + c.installed).c_str(), installed.c_str(), FALSE));
    }
    const std::string before = ReadAll(installed);
    const std::string full = ReadAll(BinDelta() + c.fullFile);
    unsigned char abFull[GPC_SHA256_SIZE];
    ASSERT_EQ(GPC_TRUST_OK, GpcHashFile((BinDelta() + c.fullFile).c_str(), abFull));

    char achTemp[GPC_MAX_PATH] = "untouched";
    int nDecode = -1;
    int nResult = GpcApplyDeltaFile(installed.c_str(), (BinDelta() + c.delta).c_str(), installed.c_str(),
                                    static_cast<size_t>(static_cast<long>(full.size()) + c.nSizeDelta), abFull,
                                    achTemp, sizeof(achTemp), &nDecode);
    EXPECT_EQ(c.expected, nResult) << GpcDeltaApplyResultName(nResult);
    EXPECT_EQ(c.expectedDecode, nDecode) << GpcVcdiffResultName(nDecode);
    EXPECT_EQ(before, ReadAll(installed)) << "the installed file changed";

    std::vector<std::string> after = Listing(m_dir);
    if (c.expected == GPC_DELTA_APPLIED) {
        const std::string temp = achTemp;
        ASSERT_EQ(m_dir, temp.substr(0, temp.find_last_of('\\') + 1)) << temp;
        EXPECT_EQ(0, temp.compare(m_dir.size(), 2, "VR")) << temp;
        EXPECT_TRUE(full == ReadAll(temp)) << "the result differs from " << c.fullFile;
        EXPECT_EQ(2u, after.size());
    } else {
        EXPECT_STREQ("", achTemp);
        EXPECT_EQ(c.installed[0] != '\0' ? 1u : 0u, after.size()) << "a temporary file was left";
    }
}

const ApplyCase GPC_APPLY_CASES[] = {
    {"delta applied", "version_resource.old", "version_resource.vcdiff", "version_resource.new", 0,
     GPC_DELTA_APPLIED, GPC_VCDIFF_OK},
    {"delta of several windows applied", "several_windows.old", "several_windows.vcdiff", "several_windows.new", 100,
     GPC_DELTA_APPLIED, GPC_VCDIFF_OK},
    {"empty result applied", "empty_result.old", "empty_result.vcdiff", "empty_result.new", 0, GPC_DELTA_APPLIED,
     GPC_VCDIFF_OK},
    {"installed file is another base", "moved_blocks.old", "few_bytes.vcdiff", "few_bytes.new", 0,
     GPC_DELTA_UNDECODABLE, GPC_VCDIFF_BAD_CHECKSUM},
    {"result larger than the item", "few_bytes.old", "few_bytes.vcdiff", "few_bytes.new", -1, GPC_DELTA_UNDECODABLE,
     GPC_VCDIFF_TOO_LARGE},
    {"result decodes to other bytes than the full file", "few_bytes.old", "few_bytes.vcdiff", "moved_blocks.new", 0,
     GPC_DELTA_WRONG_RESULT, GPC_VCDIFF_OK},
    {"delta is not a delta", "few_bytes.old", "few_bytes.old", "few_bytes.new", 0, GPC_DELTA_UNDECODABLE,
     GPC_VCDIFF_NOT_VCDIFF},
    {"delta missing", "few_bytes.old", "missing.vcdiff", "few_bytes.new", 0, GPC_DELTA_READ_ERROR, GPC_VCDIFF_OK},
    {"installed file missing", "", "few_bytes.vcdiff", "few_bytes.new", 0, GPC_DELTA_READ_ERROR, GPC_VCDIFF_OK},
};

INSTANTIATE_TEST_SUITE_P(, DeltaApply, testing::ValuesIn(GPC_APPLY_CASES), CaseName());

TEST(DeltaApplyDestination, FolderThatCannotTakeATemporaryFileIsAWriteError)
{
    const std::string bin = BinDelta();
    unsigned char abFull[GPC_SHA256_SIZE];
    ASSERT_EQ(GPC_TRUST_OK, GpcHashFile((bin + "few_bytes.new").c_str(), abFull));
    char achTemp[GPC_MAX_PATH];
    int nDecode = -1;
    EXPECT_EQ(GPC_DELTA_WRITE_ERROR,
              GpcApplyDeltaFile((bin + "few_bytes.old").c_str(), (bin + "few_bytes.vcdiff").c_str(),
                                (bin + "no such folder\\viewer.dll").c_str(), 8192, abFull, achTemp, sizeof(achTemp),
                                &nDecode));
    EXPECT_EQ(GPC_VCDIFF_OK, nDecode);
    EXPECT_STREQ("", achTemp);
    // A destination without any folder has no place beside it either.
    EXPECT_EQ(GPC_DELTA_WRITE_ERROR,
              GpcApplyDeltaFile((bin + "few_bytes.old").c_str(), (bin + "few_bytes.vcdiff").c_str(), "viewer.dll",
                                8192, abFull, achTemp, sizeof(achTemp)));
}

}  // namespace
