// Each file's version is read at most once per pass: the answers of the
// update decision, its traces and what the host is asked stay as they were,
// and whatever the library writes is read again.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "install_fixture.h"

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
