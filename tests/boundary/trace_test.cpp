// Trace lines and assertion reports, seen as a listener sees them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

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

// A "GPCTracer" window whose thread never reads its messages, as the viewer
// of a hung program would be. Its window long is left 0, so that a line it
// might still find in its queue when it is destroyed is ignored.
class SilentTracer {
public:
    SilentTracer()
    {
        { TraceCapture registersTheClass; }
        m_hReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_hRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_hThread = CreateThread(nullptr, 0, &SilentTracer::Run, this, 0, nullptr);
        if (m_hThread) WaitForSingleObject(m_hReady, 60000);
    }
    ~SilentTracer()
    {
        SetEvent(m_hRelease);
        if (m_hThread) {
            WaitForSingleObject(m_hThread, 60000);
            CloseHandle(m_hThread);
        }
        CloseHandle(m_hRelease);
        CloseHandle(m_hReady);
    }
    HWND Window() const { return m_hWnd; }

private:
    static DWORD WINAPI Run(void* pParam)
    {
        SilentTracer* self = static_cast<SilentTracer*>(pParam);
        self->m_hWnd = CreateWindowA(GPC_TRACER_CLASS, "silent tracer", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                     nullptr, GetModuleHandleA(nullptr), nullptr);
        SetEvent(self->m_hReady);
        WaitForSingleObject(self->m_hRelease, INFINITE);
        if (self->m_hWnd) DestroyWindow(self->m_hWnd);
        return 0;
    }
    HANDLE m_hReady = nullptr;
    HANDLE m_hRelease = nullptr;
    HANDLE m_hThread = nullptr;
    HWND m_hWnd = nullptr;
};

TEST(Trace, TracerThatNeverAnswersCostsOneShortWaitNotOnePerLine)
{
    SilentTracer silent;
    ASSERT_NE(silent.Window(), nullptr);
    DebugOutputCapture debug;
    DWORD dwStart = GetTickCount();
    TraceMessage("first");
    TraceMessage("second");
    TraceMessage("third");
    DWORD dwElapsed = GetTickCount() - dwStart;
    EXPECT_EQ(debug.Lines().size(), 3u);
    // A silent tracer used to hold every line for 5 s. The bound is loose on
    // purpose: this machine is shared and slow.
    EXPECT_LT(dwElapsed, 5000u) << "three lines took " << dwElapsed << " ms";

    // A tracer that does answer still gets every line, while the silent one lives on.
    TraceCapture trace;
    TraceMessage("fourth");
    TraceMessage("fifth");
    EXPECT_EQ(trace.Texts(), (std::vector<std::string>{"fourth", "fifth"}));
}

TEST(Trace, TracerThatComesAfterTheLastOneWentGetsTheLines)
{
    TraceMessage("nobody listens");
    {
        TraceCapture first;
        TraceMessage("to the first");
        EXPECT_EQ(first.Texts(), std::vector<std::string>{"to the first"});
    }
    TraceMessage("nobody listens again");
    TraceCapture second;
    TraceMessage("to the second");
    EXPECT_EQ(second.Texts(), std::vector<std::string>{"to the second"});
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
