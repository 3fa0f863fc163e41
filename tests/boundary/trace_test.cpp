// Trace lines and assertion reports, seen as a listener sees them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "feedback/trace.h"
#include "npvrgpc/gpc_assert.h"
#include "trace_capture.h"

namespace {

TEST(Trace, LineCarriesModuleProcessAndThreadBeforeTheText)
{
    TraceCapture trace;
    TraceMessage("StdDownload Finished");
    ASSERT_EQ(trace.Lines().size(), 1u);
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = std::string(path).substr(std::string(path).find_last_of('\\') + 1);
    std::string expected = "(" + name + ":" + std::to_string(GetCurrentProcessId()) + ":" +
                           std::to_string(GetCurrentThreadId()) + ")StdDownload Finished";
    EXPECT_EQ(trace.Lines()[0], expected);
    EXPECT_EQ(trace.Codes()[0], 1000u);
}

TEST(Trace, LongMessageIsCutAt1023Characters)
{
    TraceCapture trace;
    std::string text(1500, 'x');
    TraceMessage("%s", text.c_str());
    ASSERT_EQ(trace.Texts().size(), 1u);
    EXPECT_EQ(trace.Texts()[0], std::string(1023, 'x'));
}

TEST(Trace, FormatsTheCallersArguments)
{
    TraceCapture trace;
    TraceMessage("Count=%d, item=%d", 3, 1);
    TraceMessage("url=%s", "http://127.0.0.1/gpcnt.ini?random=5");
    EXPECT_TRUE(trace.HasLine("Count=3, item=1"));
    EXPECT_TRUE(trace.HasLine("url=http://127.0.0.1/gpcnt.ini?random=5"));
}

TEST(Trace, WithoutTracerWindowTheLineStillReachesTheDebuggerOutput)
{
    DebugOutputCapture debug;
    TraceMessage("only to the debugger %d", 42);
    ASSERT_EQ(debug.Lines().size(), 1u);
    EXPECT_NE(debug.Lines()[0].find(")only to the debugger 42"), std::string::npos);
}

TEST(Trace, TracerOfThisProcessIsPreferredAndEachLineIsSentOnce)
{
    TraceCapture first;
    TraceCapture second;
    TraceMessage("one line");
    EXPECT_EQ(first.Lines().size() + second.Lines().size(), 1u);
}

TEST(Assert, FailedCheckWritesOneReportLineAndCarriesOn)
{
    DebugOutputCapture debug;
    TraceCapture trace;
    const char* lpszName = nullptr;
    int nLine = __LINE__ + 1;
    GPC_ASSERT(lpszName);
    ASSERT_EQ(debug.Lines().size(), 1u);
    EXPECT_EQ(debug.Lines()[0],
              "ASSERT lpszName failed at file ..\\npvrgpc\\npbase, line " + std::to_string(nLine) + "\r\n");
    EXPECT_TRUE(trace.Lines().empty()) << "assertion reports do not go to the tracer";
}

TEST(Assert, PassingCheckWritesNothing)
{
    DebugOutputCapture debug;
    int x = 1;
    GPC_ASSERT(x == 1);
    EXPECT_TRUE(debug.Lines().empty());
}

}  // namespace
