// The manifest name follows the Windows version. Wine answers each program
// with the version its AppDefaults key names, so a copy of this program runs
// under each version and reports the manifest url it asked for.
#include <cstdlib>

#include "extension_fixture.h"
#include "support/process.h"

namespace {

const char GPC_PROBE_ENV[] = "GPC_OS_PROBE_OUT";

}  // namespace

// Runs only inside the copies started below.
TEST(OsProbe, ReportsTheManifestUrl)
{
    char achOut[MAX_PATH];
    DWORD dwLen = GetEnvironmentVariableA(GPC_PROBE_ENV, achOut, sizeof(achOut));
    if (dwLen == 0 || dwLen >= sizeof(achOut)) GTEST_SKIP() << "started by OsClass only";
    ResetModuleStateForTesting();
    FakeHost host;
    host.SetParam("GpcUrlRoot", "http://h/x");
    host.SetParam("GpcComponentName", "main.dll");
    host.SetPluginMarker(false);
    ASSERT_EQ(0, GpcInitInstance(host.Cookie(), host.Table()));
    std::string result = host.downloads.empty() ? "no download" : host.downloads[0].url;
    CVRGpcExtension* p = static_cast<CVRGpcExtension*>(host.instances[host.Cookie()]);
    if (p && p->m_bFailed) result += " failed";
    WriteFileBytes(achOut, result);
    GpcExitInstance(host.Cookie());
}

struct OsCase {
    const char* version;
    const char* expected;  // start of the reported text after the root
};

TEST(OsClass, ManifestNameFollowsTheWindowsVersion)
{
    const OsCase cases[] = {
        {"win95", "gpc95.ini?random="}, {"win98", "gpc95.ini?random="}, {"nt40", "gpcnt.ini?random="},
        {"win2k", "gpc2k.ini?random="}, {"winxp", "gpc2k.ini?random="}, {"win31", "no download failed"},
    };
    char achSelf[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, achSelf, MAX_PATH));
    const std::string work = MakeTempDir("osprobe");
    for (const OsCase& c : cases) {
        SCOPED_TRACE(c.version);
        const std::string exe =
            TestBinDir() + "gpcos_" + ProcessTag() + "_" + c.version + ".exe";
        const std::string out = work + "\\" + c.version + ".txt";
        {
            ScopedEnv probe(GPC_PROBE_ENV, out.c_str());
            const int nCode =
                RunCopyUnderWindowsVersion(achSelf, exe, c.version, "--gtest_filter=OsProbe.ReportsTheManifestUrl");
            ASSERT_NE(GPC_RUN_NOT_STARTED, nCode);
            ASSERT_NE(GPC_RUN_NO_COPY, nCode);
            ASSERT_NE(GPC_RUN_NO_VERSION_KEY, nCode);
        }

        std::string reported = ReadFileBytes(out);
        std::string expected = c.expected;
        if (expected.find('?') != std::string::npos) expected = "http://h/x/" + expected;
        EXPECT_EQ(0u, reported.find(expected)) << reported;
    }
}
