// The library as a host sees it: the real vrgpcext.dll loaded by path, its
// export table, and the fifteen exports called through GetProcAddress.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "extension/extension.h"
#include "fake_host.h"
#include "trace_capture.h"
#include "vrgpcext/exports.h"

namespace {

// The library loaded fresh for each test, so its process-wide state starts clean.
class LoadedExtension {
public:
    LoadedExtension() { m_h = LoadLibraryA((TestBinDir() + "vrgpcext.dll").c_str()); }
    ~LoadedExtension() { if (m_h) FreeLibrary(m_h); }
    HMODULE Handle() const { return m_h; }
    template <typename T>
    T Get(const char* name) const { return reinterpret_cast<T>(GetProcAddress(m_h, name)); }

private:
    HMODULE m_h = nullptr;
};

const char* const GPC_EXPORTS[] = {
    "GpcInitInstance", "GpcExitInstance", "GpcHeartbeat", "GpcActionNotify", "GpcStdDownloadExt",
    "GpcOdeDownload", "GpcOdeDownload2", "GpcOdeGetSectionIntegrity", "GpcOdeGetSectionIntegrity2",
    "GpcOdeGetSectionIntegrityExt", "GpcOdeConfig", "GpcGetFileAtUrl", "GpcGetFileAtUrlEx",
    "GpcOpenLocation", "GpcCancelFileIndex",
};

const IMAGE_NT_HEADERS* NtHeaders(HMODULE h)
{
    const BYTE* base = reinterpret_cast<const BYTE*>(h);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

std::set<std::string> ExportNames(HMODULE h)
{
    const BYTE* base = reinterpret_cast<const BYTE*>(h);
    const IMAGE_DATA_DIRECTORY& dir = NtHeaders(h)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    if (!dir.VirtualAddress) return names;
    const IMAGE_EXPORT_DIRECTORY* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const DWORD* rva = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
    for (DWORD i = 0; i < exp->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + rva[i]));
    return names;
}

std::set<std::string> ImportedDlls(HMODULE h)
{
    const BYTE* base = reinterpret_cast<const BYTE*>(h);
    const IMAGE_DATA_DIRECTORY& dir = NtHeaders(h)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::set<std::string> dlls;
    if (!dir.VirtualAddress) return dlls;
    for (const IMAGE_IMPORT_DESCRIPTOR* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name; ++d) {
        std::string n = reinterpret_cast<const char*>(base + d->Name);
        std::transform(n.begin(), n.end(), n.begin(), ::tolower);
        dlls.insert(n);
    }
    return dlls;
}

typedef int(WINAPI* PFN_Init)(GpcCookie, GpcHostTable*);
typedef int(WINAPI* PFN_Cookie)(GpcCookie);
typedef int(WINAPI* PFN_GetFile)(GpcCookie, GpcDownloadCallback, void*, const char*);
typedef int(WINAPI* PFN_Config)(DWORD, DWORD, DWORD);
typedef int(WINAPI* PFN_Cancel)(GpcCookie, int);

// A second host table, for the refused second instance.
std::vector<std::string> g_SecondHostMessages;
int WINAPI SecondHostShowMessage(GpcCookie, const char* text)
{
    g_SecondHostMessages.push_back(text ? text : "");
    return 0;
}

void WINAPI IgnoreDownload(void*, void*, DWORD, ULONG_PTR) {}

class Boundary : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_SecondHostMessages.clear();
        ASSERT_NE(ext.Handle(), nullptr) << "vrgpcext.dll did not load";
        // Keep start-up quiet: no manifest root means it stops at once.
        host.SetParam("GpcComponentName", "client.dll");
    }
    LoadedExtension ext;
    FakeHost host;
};

TEST(DllImage, ExportsExactlyTheFifteenUndecoratedNames)
{
    LoadedExtension ext;
    ASSERT_NE(ext.Handle(), nullptr);
    std::set<std::string> expected(std::begin(GPC_EXPORTS), std::end(GPC_EXPORTS));
    EXPECT_EQ(ExportNames(ext.Handle()), expected);
    for (const char* name : GPC_EXPORTS) EXPECT_NE(GetProcAddress(ext.Handle(), name), nullptr) << name;
}

TEST(DllImage, NeedsNoCompilerRuntimeDlls)
{
    LoadedExtension ext;
    ASSERT_NE(ext.Handle(), nullptr);
    for (const std::string& dll : ImportedDlls(ext.Handle())) {
        EXPECT_EQ(dll.find("libgcc"), std::string::npos) << dll;
        EXPECT_EQ(dll.find("libstdc++"), std::string::npos) << dll;
        EXPECT_EQ(dll.find("winpthread"), std::string::npos) << dll;
    }
}

TEST(DllImage, CarriesAVersionResource)
{
    char path[MAX_PATH];
    lstrcpynA(path, (TestBinDir() + "vrgpcext.dll").c_str(), MAX_PATH);
    DWORD dummy = 0;
    EXPECT_GT(GetFileVersionInfoSizeA(path, &dummy), 0u);
}

TEST_F(Boundary, InitInstanceHandsTheInstanceToTheHostAndTraces)
{
    TraceCapture trace;
    auto init = ext.Get<PFN_Init>("GpcInitInstance");
    EXPECT_EQ(init(host.Cookie(), host.Table()), 0);
    ASSERT_EQ(host.instances.count(host.Cookie()), 1u);
    EXPECT_NE(host.instances[host.Cookie()], nullptr);
    ASSERT_GE(trace.Lines().size(), 2u);
    EXPECT_EQ(trace.Texts()[0], "GpcInitInstance");
    EXPECT_TRUE(trace.HasLine("Begin initializing extension...")) << trace.Dump();
    // The prefix names the library itself, not the host program.
    std::string prefix = "(vrgpcext.dll:" + std::to_string(GetCurrentProcessId()) + ":" +
                         std::to_string(GetCurrentThreadId()) + ")";
    EXPECT_EQ(trace.Lines()[0].rfind(prefix, 0), 0u) << trace.Lines()[0];
    EXPECT_EQ(trace.Codes()[0], 1000u);

    auto exit_ = ext.Get<PFN_Cookie>("GpcExitInstance");
    EXPECT_EQ(exit_(host.Cookie()), 0);
}

TEST_F(Boundary, SecondInstanceIsRefusedThroughTheCallersOwnTable)
{
    auto init = ext.Get<PFN_Init>("GpcInitInstance");
    ASSERT_EQ(init(host.Cookie(), host.Table()), 0);
    void* first = host.instances[host.Cookie()];

    GpcHostTable second = *host.Table();
    second.HostShowMessage = &SecondHostShowMessage;
    GpcCookie other = reinterpret_cast<GpcCookie>(static_cast<ULONG_PTR>(0x5150));
    EXPECT_EQ(init(other, &second), 20100);
    ASSERT_EQ(g_SecondHostMessages.size(), 1u);
    EXPECT_EQ(g_SecondHostMessages[0],
              "A Corvo meeting is already in progress. You must use another browser to start a second meeting.\n");
    EXPECT_TRUE(host.messages.empty()) << "the first host's table must not be used";
    EXPECT_EQ(host.instances[host.Cookie()], first);
    EXPECT_EQ(host.instances.count(other), 0u);

    // Also after the first instance has gone.
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
    EXPECT_EQ(init(host.Cookie(), host.Table()), 20100);
}

TEST_F(Boundary, RefusalSpeaksTheSecondCallersLanguage)
{
    auto init = ext.Get<PFN_Init>("GpcInitInstance");
    ASSERT_EQ(init(host.Cookie(), host.Table()), 0);
    host.SetParam("GpcLocalSetting", "9");  // German
    GpcHostTable second = *host.Table();
    second.HostShowMessage = &SecondHostShowMessage;
    EXPECT_EQ(init(host.Cookie(), &second), 20100);
    ASSERT_EQ(g_SecondHostMessages.size(), 1u);
    EXPECT_FALSE(g_SecondHostMessages[0].empty());
    EXPECT_NE(g_SecondHostMessages[0].rfind("A Corvo meeting", 0), 0u) << "expected the German text";
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
}

TEST_F(Boundary, ExitInstanceDestroysTheInstanceAndTracesBothEnds)
{
    auto init = ext.Get<PFN_Init>("GpcInitInstance");
    ASSERT_EQ(init(host.Cookie(), host.Table()), 0);
    TraceCapture trace;
    EXPECT_EQ(ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie()), 0);
    EXPECT_EQ(host.instances.count(host.Cookie()), 0u);
    int first = trace.IndexOf("GpcExitInstance");
    ASSERT_GE(first, 0);
    EXPECT_EQ(trace.Texts()[first], "GpcExitInstance");
    EXPECT_TRUE(trace.HasLine("Delete CVRGpcExtension object")) << trace.Dump();
    EXPECT_EQ(trace.Texts().back(), "GpcExitInstance Exit");
    // Later calls find no instance and do nothing.
    EXPECT_EQ(ext.Get<PFN_Cookie>("GpcHeartbeat")(host.Cookie()), 0);
    EXPECT_EQ(ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie()), 0);
}

TEST_F(Boundary, ExportsWithoutAnInstanceAnswerZero)
{
    // Nothing stored yet: every export that needs an instance answers 0.
    GpcCookie c = host.Cookie();
    EXPECT_EQ(ext.Get<PFN_GetFile>("GpcGetFileAtUrl")(c, &IgnoreDownload, nullptr, "http://x/"), 0);
    EXPECT_EQ(ext.Get<PFN_Cancel>("GpcCancelFileIndex")(c, 0), 0);
    typedef int(WINAPI * PFN_Integrity)(GpcCookie, const char*, const char*);
    EXPECT_EQ(ext.Get<PFN_Integrity>("GpcOdeGetSectionIntegrity")(c, nullptr, "Sec"), 0);
    typedef int(WINAPI * PFN_Open)(GpcCookie, const char*, const char*, void*);
    EXPECT_EQ(ext.Get<PFN_Open>("GpcOpenLocation")(c, "http://x/", nullptr, nullptr), 0);
    EXPECT_TRUE(host.downloads.empty());
}

struct ResolutionCase {
    const char* name;
    bool configOff;          // GpcOdeConfig(0, ...) first
    int argument;            // 0 null, 1 a non-window number, 2 the host window
    ULONG_PTR expectedCookie;  // 0: the stored cookie
};

class CookieResolution : public Boundary, public ::testing::WithParamInterface<ResolutionCase> {};

TEST_P(CookieResolution, GetFileAtUrlReachesTheHostWithTheResolvedCookie)
{
    const ResolutionCase& c = GetParam();
    auto init = ext.Get<PFN_Init>("GpcInitInstance");
    ASSERT_EQ(init(host.Cookie(), host.Table()), 0);
    host.downloads.clear();
    if (c.configOff) {
        EXPECT_EQ(ext.Get<PFN_Config>("GpcOdeConfig")(0, 7, 9), 1);
    }

    GpcCookie arg = nullptr;
    if (c.argument == 1) arg = reinterpret_cast<GpcCookie>(static_cast<ULONG_PTR>(0x777));
    if (c.argument == 2) {
        HWND w = host.Window();
        SetWindowLongPtrA(w, 0, 0x4242);
        arg = reinterpret_cast<GpcCookie>(w);
    }
    int ctx = 0;
    EXPECT_EQ(ext.Get<PFN_GetFile>("GpcGetFileAtUrl")(arg, &IgnoreDownload, &ctx, "http://127.0.0.1/f.bin"), 1);
    ASSERT_EQ(host.downloads.size(), 1u);
    ULONG_PTR expected = c.expectedCookie ? c.expectedCookie : reinterpret_cast<ULONG_PTR>(host.Cookie());
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(host.downloads[0].cookie), expected);
    EXPECT_EQ(host.downloads[0].context, &ctx);
    EXPECT_EQ(host.downloads[0].url, "http://127.0.0.1/f.bin");
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
}

INSTANTIATE_TEST_SUITE_P(
    , CookieResolution,
    ::testing::Values(ResolutionCase{"NullUsesStored", false, 0, 0},
                      ResolutionCase{"NonWindowUsesStoredWhileTranslating", false, 1, 0},
                      ResolutionCase{"WindowLongZeroIsTheCookie", false, 2, 0x4242},
                      ResolutionCase{"NullStillFallsBackWithTranslationOff", true, 0, 0},
                      ResolutionCase{"NumberIsUsedAsIsWithTranslationOff", true, 1, 0x777}),
    [](const ::testing::TestParamInfo<ResolutionCase>& info) { return std::string(info.param.name); });

TEST_F(Boundary, GetFileAtUrlAnswersZeroWhenTheHostRefusesOrHasNoSlot)
{
    ASSERT_EQ(ext.Get<PFN_Init>("GpcInitInstance")(host.Cookie(), host.Table()), 0);
    host.downloadResult = 5;
    EXPECT_EQ(ext.Get<PFN_GetFile>("GpcGetFileAtUrl")(nullptr, &IgnoreDownload, nullptr, "u"), 0);
    host.NullSlot(11);
    size_t before = host.downloads.size();
    EXPECT_EQ(ext.Get<PFN_GetFile>("GpcGetFileAtUrl")(nullptr, &IgnoreDownload, nullptr, "u"), 0);
    EXPECT_EQ(host.downloads.size(), before);
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
}

TEST_F(Boundary, CancelFileIndexSendsTheIndexToTheHostWindowOrMarksTheRunningRequests)
{
    ASSERT_EQ(ext.Get<PFN_Init>("GpcInitInstance")(host.Cookie(), host.Table()), 0);
    auto cancel = ext.Get<PFN_Cancel>("GpcCancelFileIndex");
    host.windowMessages.clear();
    EXPECT_EQ(cancel(nullptr, 3), 1);
    ASSERT_EQ(host.windowMessages.size(), 1u);
    EXPECT_EQ(host.windowMessages[0].msg, static_cast<UINT>(WM_USER + 12));
    EXPECT_EQ(host.windowMessages[0].wParam, 3u);
    EXPECT_EQ(host.windowMessages[0].lParam, 0);

    CVRGpcExtension* inst = static_cast<CVRGpcExtension*>(host.instances[host.Cookie()]);
    ASSERT_NE(inst, nullptr);
    // With no request running there is nothing to cancel, and nothing is
    // left set for the next request.
    EXPECT_EQ(cancel(nullptr, 0), 1);
    EXPECT_EQ(inst->m_bCancelRequested, 0);
    EXPECT_EQ(host.windowMessages.size(), 1u);

    host.provideWindow = false;
    EXPECT_EQ(cancel(nullptr, 2), 0);
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
}

TEST_F(Boundary, OdeConfigTracesItsValuesAndAlwaysAnswersOne)
{
    TraceCapture trace;
    EXPECT_EQ(ext.Get<PFN_Config>("GpcOdeConfig")(1, 0xABCDEF, 2), 1);
    EXPECT_TRUE(trace.HasLine("vrgpcext: ODE config 00000001, 00ABCDEF, 00000002")) << trace.Dump();
}

TEST_F(Boundary, OpenLocationWithTargetNavigatesThatTargetAndWithoutOpensANewWindow)
{
    ASSERT_EQ(ext.Get<PFN_Init>("GpcInitInstance")(host.Cookie(), host.Table()), 0);
    typedef int(WINAPI * PFN_Open)(GpcCookie, const char*, const char*, void*);
    auto open = ext.Get<PFN_Open>("GpcOpenLocation");
    TraceCapture trace;
    EXPECT_EQ(open(nullptr, "http://127.0.0.1/a", "frame1", nullptr), 1);
    EXPECT_EQ(open(nullptr, "http://127.0.0.1/b", nullptr, nullptr), 1);
    ASSERT_EQ(host.navigations.size(), 2u);
    EXPECT_EQ(host.navigations[0].target, "frame1");
    EXPECT_EQ(host.navigations[0].url, "http://127.0.0.1/a");
    EXPECT_EQ(host.navigations[1].target, "_blank");
    EXPECT_EQ(host.navigations[1].url, "http://127.0.0.1/b");
    EXPECT_TRUE(trace.Contains("vrgpcext: GpcOpenLocation Cookie 00000000,Url: http://127.0.0.1/a,Target:frame1"))
        << trace.Dump();
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
}

typedef int(WINAPI* PFN_GetFileEx)(GpcCookie, GpcDownloadCallback, void*, const char*, void*);
struct ProgressRequest {
    DWORD total;
    const char* caption;
};

int g_nCallerNotices = 0;
void WINAPI CountingCallback(void*, void*, DWORD, ULONG_PTR) { ++g_nCallerNotices; }

TEST_F(Boundary, GetFileAtUrlExShowsAWindowThatEndsWithTheDownload)
{
    ASSERT_EQ(ext.Get<PFN_Init>("GpcInitInstance")(host.Cookie(), host.Table()), 0);
    host.downloads.clear();
    g_nCallerNotices = 0;
    ProgressRequest req = {1000, "Fetching the slides"};
    EXPECT_EQ(ext.Get<PFN_GetFileEx>("GpcGetFileAtUrlEx")(nullptr, &CountingCallback, nullptr, "http://h/s.bin", &req),
              1);
    HWND w = FindWindowA(nullptr, "Fetching the slides");
    EXPECT_NE(w, nullptr);
    ASSERT_EQ(host.downloads.size(), 1u);
    EXPECT_NE(host.downloads[0].callback, &CountingCallback) << "the progress manager stands in between";
    host.Progress(0, 500);
    host.Complete(0, "C:\\windows\\win.ini");
    EXPECT_EQ(g_nCallerNotices, 2) << "the caller hears every notice";
    EXPECT_FALSE(IsWindow(w)) << "the window closes with the download";
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
}

TEST_F(Boundary, GetFileAtUrlExWithoutSizeOrSuppressedGoesStraightToTheHost)
{
    ASSERT_EQ(ext.Get<PFN_Init>("GpcInitInstance")(host.Cookie(), host.Table()), 0);
    host.downloads.clear();
    auto getEx = ext.Get<PFN_GetFileEx>("GpcGetFileAtUrlEx");
    ProgressRequest none = {0, "No size"};
    EXPECT_EQ(getEx(nullptr, &CountingCallback, nullptr, "http://h/a", &none), 1);
    EXPECT_EQ(getEx(nullptr, &CountingCallback, nullptr, "http://h/b", nullptr), 1);
    host.SetParam("GpcSuppressProgressBar", "TRUE");
    ProgressRequest req = {10, "Suppressed window"};
    EXPECT_EQ(getEx(nullptr, &CountingCallback, nullptr, "http://h/c", &req), 1);
    EXPECT_EQ(FindWindowA(nullptr, "Suppressed window"), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "No size"), nullptr);
    ASSERT_EQ(host.downloads.size(), 3u);
    for (const auto& d : host.downloads) EXPECT_EQ(d.callback, &CountingCallback);
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
}

TEST_F(Boundary, GetFileAtUrlExRefusedByTheHostLeavesNoWindow)
{
    ASSERT_EQ(ext.Get<PFN_Init>("GpcInitInstance")(host.Cookie(), host.Table()), 0);
    host.downloadResult = 1;
    ProgressRequest req = {1000, "Refused download"};
    EXPECT_EQ(ext.Get<PFN_GetFileEx>("GpcGetFileAtUrlEx")(nullptr, &CountingCallback, nullptr, "http://h/r", &req), 0);
    EXPECT_EQ(FindWindowA(nullptr, "Refused download"), nullptr);
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
}

// A host that never ends a download and unloads the library after
// GpcExitInstance: a progress window left open would keep a window procedure
// in code that is no longer mapped, and the next message to it (a window
// enumeration asking for its title will do) would crash the host.
TEST_F(Boundary, ExitInstanceClosesTheWindowOfAFileTheHostNeverDelivered)
{
    ASSERT_EQ(ext.Get<PFN_Init>("GpcInitInstance")(host.Cookie(), host.Table()), 0);
    ProgressRequest req = {1000, "Never delivered"};
    EXPECT_EQ(ext.Get<PFN_GetFileEx>("GpcGetFileAtUrlEx")(nullptr, &CountingCallback, nullptr, "http://h/n", &req), 1);
    HWND w = FindWindowA(nullptr, "Never delivered");
    ASSERT_NE(w, nullptr);
    TraceCapture trace;
    ext.Get<PFN_Cookie>("GpcExitInstance")(host.Cookie());
    EXPECT_FALSE(IsWindow(w));
    EXPECT_TRUE(trace.Contains("download still running at GpcExitInstance")) << trace.Dump();
}

}  // namespace
