// The extension's call engine: the two built-ins that act on the host page,
// and the resolution of every other argument through the extension.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "extension/extension.h"
#include "npvrgpc/module_state.h"
#include "script/call_engine.h"
#include "script_test_util.h"
#include "support/fake_host.h"
#include "support/module_host.h"

namespace {

std::string Text(const CGpcString& s) { return s.GetText() ? s.GetText() : ""; }

class GpcCallEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(lib.Handle(), nullptr) << "script_exports.dll did not load";
        InstallFakeHost(host);
        ext.reset(new CVRGpcExtension(host.Cookie()));
        Engine().SetVariable("a", "A");
        Engine().SetVariable("u", "http://example.test/page");
        Engine().SetVariable("frame", "frameA");
    }
    void TearDown() override
    {
        ext.reset();
        ResetModuleStateForTesting();
    }
    CVRGpcCallEngine& Engine() { return ext->m_CallEngine; }
    int RunLibrary(const char* script) { return Engine().RunLibraryScript(lib.Handle(), script, &failure); }
    int RunControl(const char* script) { return Engine().RunDispatchScript(&control, script, &failure); }
    // The URL list as start-up builds it from "GpcUrls" (owned copies).
    void AddUrl(const char* url)
    {
        char* copy = new char[strlen(url) + 1];
        strcpy(copy, url);
        ext->m_UrlList.Add(copy);
    }

    FakeHost host;
    TraceCapture trace;
    ExportsLibrary lib;
    RecordingDispatch control;
    std::unique_ptr<CVRGpcExtension> ext;
    CVRScriptException failure;
};

TEST_F(GpcCallEngine, EngineBelongsToItsExtension)
{
    EXPECT_EQ(Engine().m_pSite, ext.get());
}

TEST_F(GpcCallEngine, BuiltInsNavigateTheHostWithoutLookingUpAnExport)
{
    EXPECT_EQ(RunLibrary("GpcOpenLocation(u); GpcChangeLocation(u); GpcChangeLocation(u, frame)"), 1);
    ASSERT_EQ(host.navigations.size(), 3u);
    EXPECT_EQ(host.navigations[0].target, "_blank");
    EXPECT_EQ(host.navigations[0].url, "http://example.test/page");
    EXPECT_EQ(host.navigations[1].target, "_self");
    EXPECT_EQ(host.navigations[2].target, "frameA");
    EXPECT_FALSE(trace.Contains("lpszMethod:GpcOpenLocation")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("lpszMethod:GpcChangeLocation")) << trace.Dump();
    EXPECT_EQ(lib.Calls(), 0);
}

TEST_F(GpcCallEngine, BuiltInsNeverReachTheControl)
{
    EXPECT_EQ(RunControl("GpcChangeLocation(u); Echo(a)"), 1);
    ASSERT_EQ(host.navigations.size(), 1u);
    EXPECT_EQ(host.navigations[0].target, "_self");
    EXPECT_EQ(control.namesAsked, std::vector<std::wstring>{L"Echo"});
}

TEST_F(GpcCallEngine, BuiltInNamesAreCaseSensitive)
{
    EXPECT_EQ(RunLibrary("gpcchangelocation(u); GPCOPENLOCATION(u)"), 1);
    EXPECT_TRUE(host.navigations.empty());
    EXPECT_TRUE(trace.Contains("lpszMethod:gpcchangelocation,pfnMethod:0")) << trace.Dump();
    EXPECT_TRUE(trace.Contains("lpszMethod:GPCOPENLOCATION,pfnMethod:0")) << trace.Dump();

    EXPECT_EQ(RunControl("gpcOpenLocation(u)"), 1);
    EXPECT_TRUE(host.navigations.empty());
    EXPECT_EQ(control.namesAsked, std::vector<std::wstring>{L"gpcOpenLocation"});
}

TEST_F(GpcCallEngine, FailingBuiltInEndsTheRunWithItsResult)
{
    EXPECT_EQ(RunLibrary("Std0(); GpcOpenLocation(u, u); Std0()"), 0);
    EXPECT_EQ(failure.m_nKind, CVRScriptException::KIND_CALL);
    EXPECT_EQ(failure.m_hrResult, E_INVALIDARG);
    EXPECT_EQ(Text(failure.m_strMethod), "GpcOpenLocation");
    EXPECT_EQ(lib.Calls(), 1);
    EXPECT_TRUE(host.navigations.empty());
}

TEST_F(GpcCallEngine, UrlPlaceholderIsResolvedBeforeTheExportIsCalled)
{
    AddUrl("http://first/");
    AddUrl("http://second/");
    Engine().SetVariable("%LPARAM", "1");
    Engine().SetVariable("#LPARAM", "#LPARAM");
    EXPECT_EQ(RunLibrary("r = Std2(#LPARAM, a)"), 1);
    EXPECT_EQ(lib.LastCall(), "Std2(http://second/,A)");
    EXPECT_STREQ(Engine().GetVariable("r"), "1002");
    EXPECT_TRUE(trace.Contains("NPVRGPC : redirect #LPARAM"));
    // The library form traces only values that resolve to null.
    EXPECT_FALSE(trace.Contains("Parameter 1 = ")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("Parameter 2 = ")) << trace.Dump();
}

TEST_F(GpcCallEngine, NullResolutionIsPassedAsNullAndTraced)
{
    Engine().SetVariable("%LPARAM", "0");
    Engine().SetVariable("$LPARAM", "$LPARAM");
    EXPECT_EQ(RunLibrary("Cdecl3(a, $LPARAM, a)"), 1);
    EXPECT_EQ(lib.LastCall(), "Cdecl3(A,NULL,A)");
    EXPECT_TRUE(trace.HasLine("Parameter 2 = NULL")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("Parameter 1 = ")) << trace.Dump();
}

TEST_F(GpcCallEngine, ControlFormTracesEveryResolvedValue)
{
    Engine().SetVariable("%LPARAM", "0");
    Engine().SetVariable("$LPARAM", "$LPARAM");
    EXPECT_EQ(RunControl("Echo(a, $LPARAM, u)"), 1);
    EXPECT_TRUE(trace.HasLine("Parameter 1 = A")) << trace.Dump();
    EXPECT_TRUE(trace.HasLine("Parameter 2 = NULL")) << trace.Dump();
    EXPECT_TRUE(trace.HasLine("Parameter 3 = http://example.test/page")) << trace.Dump();
    ASSERT_EQ(control.invocations.size(), 1u);
    const auto& call = control.invocations[0];
    EXPECT_EQ(call.types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_BSTR}));
    EXPECT_EQ(call.nullStrings, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(call.values[0], L"http://example.test/page");
    EXPECT_EQ(call.values[2], L"A");
}

// Resolving "$LPARAM" replaces the variable "$LPARAM_CONTENT", which frees
// its old text. An argument naming that variable in the same call still
// gets the text it had when the statement was read.
TEST_F(GpcCallEngine, ArgumentsSurviveVariablesReplacedDuringResolution)
{
    static char hostText[] = "text from the host";
    char number[16];
    wsprintfA(number, "%lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hostText)));
    Engine().SetVariable("%LPARAM", number);
    Engine().SetVariable("$LPARAM", "$LPARAM");
    Engine().SetVariable("$LPARAM_CONTENT", "the old content, long enough to be worth reusing");
    // What a host notification puts in place while its action runs.
    ext->m_bNotificationActive = 1;
    ext->m_dwNotificationValue = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(hostText));

    EXPECT_EQ(RunLibrary("Std3($LPARAM, $LPARAM_CONTENT, $LPARAM)"), 1);
    EXPECT_EQ(lib.LastCall(),
              "Std3(text from the host,the old content, long enough to be worth reusing,text from the host)");
    EXPECT_STREQ(Engine().GetVariable("$LPARAM_CONTENT"), "text from the host");

    Engine().SetVariable("$LPARAM_CONTENT", "older content for the control form of the call");
    EXPECT_EQ(RunControl("Echo($LPARAM_CONTENT, $LPARAM)"), 1);
    ASSERT_EQ(control.invocations.size(), 1u);
    EXPECT_EQ(control.invocations[0].values[0], L"text from the host");
    EXPECT_EQ(control.invocations[0].values[1], L"older content for the control form of the call");
}

}  // namespace
