#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "npvrgpc/npbase.h"
#include "support_lib_util.h"

namespace {

struct OsCase {
    const char* version;  // Wine's name for the Windows version; "" = Wine's default
    int nt;
    int win2k;
};

// Runs the probe under a program name of its own with the given Windows
// version and returns its answer.
int ProbeUnder(const ScopedTempFolder& folder, const char* version, int serial)
{
    std::string name = "gpcosprobe_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(serial) + ".exe";
    return RunCopyUnderWindowsVersion(TestBinDir() + GPC_SUPPORT_OS_PROBE_EXE, folder / name, version);
}

TEST(OsTests, ClassifyEveryWindowsFamilyAndVersion)
{
    const OsCase cases[] = {
        {"", 1, 1},  // Wine's default: Windows 7
        {"win95", 0, 0},
        {"win98", 0, 0},
        {"nt40", 1, 0},
        {"win2k", 1, 1},
        {"winxp", 1, 1},
        {"win10", 1, 1},
    };
    ScopedTempFolder folder("os");
    int serial = 0;
    for (const OsCase& c : cases) {
        int nCode = ProbeUnder(folder, c.version, ++serial);
        ASSERT_GE(nCode, 100) << c.version;
        EXPECT_EQ(c.nt, (nCode - 100) & 1) << "IsWindowsNT under " << c.version;
        EXPECT_EQ(c.win2k, ((nCode - 100) >> 1) & 1) << "IsWindows2000OrLater under " << c.version;
    }
}

TEST(OsTests, TickDeltaIsRightAcrossOneWrapOfTheTickCount)
{
    EXPECT_EQ(500ul, TickDelta(1000ul, 1500ul));
    EXPECT_EQ(0ul, TickDelta(7ul, 7ul));
    EXPECT_EQ(0x20ul, TickDelta(0xFFFFFFF0ul, 0x10ul));
    EXPECT_EQ(0xFFFFFFFFul, TickDelta(1ul, 0ul));
}

}  // namespace
