// Run with a double-byte ANSI code page (932): paths whose characters end
// in the byte value of "\" must still be joined and split correctly.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "items_test_util.h"

namespace {

// U+8868 in code page 932: lead byte 0x95, trail byte 0x5C ("\").
const char GPC_HYO[] = "\x95\x5c";

TEST(DbcsPaths, RunsUnderADoubleByteCodePage)
{
    ASSERT_EQ(932u, GetACP());
    ASSERT_TRUE(IsDBCSLeadByte(0x95));
}

std::string Resolve(CVRGpcInstallationMgr& mgr, const char* lpszTarget, int nKind)
{
    GpcInstallItem item(nullptr);
    item.SourceName.Assign("x.dll");
    item.Target.Assign(lpszTarget);
    char achOut[GPC_MAX_PATH];
    switch (nKind) {
    case 0: mgr.GetInstallDir(&item, achOut); break;
    case 1: mgr.GetInstallPath(&item, achOut); break;
    default: mgr.GetRedirectPath(&item, achOut); break;
    }
    return achOut;
}

TEST(DbcsPaths, DirectoryEndingInDoubleByteCharacterStillGetsASeparator)
{
    CVRGpcInstallationMgr mgr(nullptr);
    const std::string def = std::string("C:\\App\\") + GPC_HYO;
    mgr.DefaultInstallDir.Assign(def.c_str());
    EXPECT_EQ(def + "\\Plugins", Resolve(mgr, "Plugins", 0));
    EXPECT_EQ(def + "\\x.dll", Resolve(mgr, nullptr, 1));
    EXPECT_EQ(def + "\\x.dll", Resolve(mgr, "%system%", 2));
}

TEST(DbcsPaths, TargetComponentEndingInTrailBackslashIsOneComponent)
{
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.DefaultInstallDir.Assign("C:\\App");
    const std::string target = std::string(GPC_HYO) + "\\Sub";
    EXPECT_EQ(std::string("C:\\App\\") + GPC_HYO + "\\Sub", Resolve(mgr, target.c_str(), 0));
    const std::string last = std::string("Sub\\") + GPC_HYO;
    EXPECT_EQ(std::string("C:\\App\\Sub\\") + GPC_HYO + "\\x.dll", Resolve(mgr, last.c_str(), 1));
}

}  // namespace
