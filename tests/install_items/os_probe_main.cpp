// Started by the item tests under an older Windows version (Wine chooses the
// version by program name): checks what the OS filter keeps there.
#include <gtest/gtest.h>

#include <string>

#include "items_test_util.h"

namespace {

std::string g_strWinVer;

std::vector<std::string> KeptNames(CVRGpcInstallationMgr& mgr)
{
    std::vector<std::string> names;
    for (int i = 0; i < mgr.GetItemCount(); ++i)
        names.push_back(mgr.GetItem(i)->SourceName.GetText());
    return names;
}

TEST(ItemOsFilterProbe, KeepsWhatThisPlatformRuns)
{
    OwnedManager owned;
    owned.Owner().bCheckItemOsVersion = 1;
    for (const char* t : {"os0.dll;u;;;;;;;;0", "os1.dll;u;;;;;;;;1", "os2.dll;u;;;;;;;;2",
                          "os3.dll;u;;;;;;;;3", "none.dll;u"})
        EXPECT_EQ(1, ParseText(owned.Manager(), t)) << t;

    if (g_strWinVer == "win95") {
        ASSERT_FALSE(IsWindowsNT());
        EXPECT_EQ((std::vector<std::string>{"os0.dll", "os1.dll", "none.dll"}), KeptNames(owned.Manager()));
    } else if (g_strWinVer == "nt40") {
        ASSERT_TRUE(IsWindowsNT());
        ASSERT_FALSE(IsWindows2000OrLater());
        EXPECT_EQ((std::vector<std::string>{"os0.dll", "os2.dll", "none.dll"}), KeptNames(owned.Manager()));
    } else {
        FAIL() << "unknown version " << g_strWinVer;
    }
}

TEST(ItemOsFilterProbe, OlderSystemsKeepPrinterDriversUnderVersionTwo)
{
    char achDir[GPC_MAX_PATH];
    GetVersionedPrinterDriverDir(achDir);
    std::string dir = achDir;
    ASSERT_GT(dir.size(), 3u);
    EXPECT_EQ("\\2\\", dir.substr(dir.size() - 3)) << dir;
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1)
        g_strWinVer = argv[1];
    return RUN_ALL_TESTS();
}
