// Loading and unloading the main component in both forms, through the
// heartbeat and the exports as a host drives them, and the failures of the
// load.
#include "component_test_util.h"

#include <algorithm>

using namespace component_test;

namespace {

class MainComponent : public ComponentTest {
protected:
    // The suppressed-installation start: the first heartbeat loads the
    // component named by GpcComponentName from the host directory and then
    // announces the end of the download (notification 2).
    CVRGpcExtension* StartSuppressed(const char* lpszComponent)
    {
        host.SetParam("GpcSuppressInstallation", "True");
        host.SetParam("GpcComponentName", lpszComponent);
        return Start();
    }

    // Makes the host window a child of a bigger frame, as a plug-in window is.
    HWND NestHostWindow()
    {
        m_hFrame = CreateWindowA("Static", "frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
        HWND hWnd = host.Window();
        SetWindowLongA(hWnd, GWL_STYLE, WS_CHILD);
        SetParent(hWnd, m_hFrame);
        SetWindowPos(hWnd, nullptr, 5, 5, 200, 100, SWP_NOZORDER | SWP_FRAMECHANGED | SWP_HIDEWINDOW);
        return m_hFrame;
    }

    void TearDown() override
    {
        ComponentTest::TearDown();
        if (m_hFrame) DestroyWindow(m_hFrame);
    }

    HWND m_hFrame = nullptr;
};

bool Contains(const std::vector<std::string>& v, const std::string& s)
{
    return std::find(v.begin(), v.end(), s) != v.end();
}

}  // namespace

TEST_F(MainComponent, LibraryComponentHearsEnvInitNotificationsExitAndUnloadInOrder)
{
    InstallSample("sample_component.dll", "sample_component.dll");
    host.SetParam("Greeting", "hello");
    host.SetParam("GpcInitCall", "h = Start(%HWND); Show(Greeting, %HWND)");
    host.SetParam("GpcActions", "Show(%WPARAM, %LPARAM)|x|ShowCdecl(%WPARAM, %LPARAM)");
    host.SetParam("GpcExitCall", "Stop(); ShowCdecl(h, Greeting)");
    std::string strBefore = CurrentDirectory();
    CVRGpcExtension* p = StartSuppressed("sample_component.dll");
    ASSERT_NE(nullptr, p);

    GpcHeartbeat(host.Cookie());
    EXPECT_EQ(ShortPath(host.directory), CurrentDirectory());
    GpcActionNotify(host.Cookie(), 0, 7);
    GpcActionNotify(host.Cookie(), 1, 0);  // a one-character action is not run
    GpcActionNotify(host.Cookie(), 9, 0);  // no such action
    EXPECT_EQ("42", std::string(p->m_CallEngine.GetVariable("h")));
    GpcExitInstance(host.Cookie());
    EXPECT_EQ(strBefore, CurrentDirectory());

    const std::string hwnd = Decimal(host.Window());
    const std::string notify = "NotifyControl(" + Hex8(host.Cookie()) + ",2,0,0)";
    const std::vector<std::string> want = {
        "load cwd=" + ShortPath(host.directory),
        "SetControlEnv(" + Hex8(host.Table()) + "," + Hex8(host.Cookie()) + ")",
        "Start(" + hwnd + ")",
        "Show(hello," + hwnd + ")",
        notify,  // the heartbeat's "download done"
        "ShowCdecl(2,0)",
        notify,
        "Show(0,7)",
        notify,
        notify,
        "Stop()",
        "ShowCdecl(42,hello)",
        "unload",
    };
    EXPECT_EQ(want, ComponentLog()) << trace.Dump();
    EXPECT_TRUE(Messages().empty());

    const std::vector<std::string> texts = trace.Texts();
    int nInit = trace.IndexOf("Init the main component...");
    ASSERT_GE(nInit, 0);
    EXPECT_EQ("NPVRGPC : set %HWND = " + hwnd, texts[nInit + 1]);
    EXPECT_EQ("ExecuteScript: h = Start(%HWND); Show(Greeting, %HWND)", texts[trace.IndexOf("ExecuteScript: ")]);
    EXPECT_TRUE(trace.HasLine("NPVRGPC : Handle notification message 2"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC: Action: ShowCdecl(%WPARAM, %LPARAM)"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC : could not find the URL for index 1"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC : could not find the URL for index 9"));
    int nExit = trace.IndexOf("Execute GpcExitCall");
    ASSERT_GE(nExit, 0);
    EXPECT_EQ("ExecuteScript: Stop(); ShowCdecl(h, Greeting)", texts[nExit + 1]);
}

TEST_F(MainComponent, ControlComponentIsHostedScriptedAndClosedAfterItsExitCall)
{
    HWND hFrame = NestHostWindow();
    host.SetParam("Greeting", "hello");
    host.SetParam("GpcComponentProgID", GPC_CONTROL_PROG_ID);
    host.SetParam("GpcInitCall", "r = Start(%HWND, Greeting)");
    host.SetParam("GpcActions", "Show(%WPARAM)|Show(%WPARAM)|Show(%WPARAM, %LPARAM)");
    host.SetParam("GpcExitCall", "Stop(r)");
    CVRGpcExtension* p = StartSuppressed("unused.dll");
    ASSERT_NE(nullptr, p);
    RECT rcClient;
    GetClientRect(host.Window(), &rcClient);

    GpcHeartbeat(host.Cookie());
    ASSERT_NE(nullptr, p->GetControlObject());
    EXPECT_EQ("42", std::string(p->m_CallEngine.GetVariable("r")));

    // The host window now fills its parent and is shown; the posted WM_SIZE
    // (0, 0) arrives after the one that the resize itself sent.
    RECT rcFrame, rcHost;
    GetClientRect(hFrame, &rcFrame);
    GetWindowRect(host.Window(), &rcHost);
    MapWindowPoints(nullptr, hFrame, reinterpret_cast<POINT*>(&rcHost), 2);
    EXPECT_EQ(0, rcHost.left);
    EXPECT_EQ(0, rcHost.top);
    EXPECT_EQ(rcFrame.right, rcHost.right);
    EXPECT_EQ(rcFrame.bottom, rcHost.bottom);
    EXPECT_TRUE(IsWindowVisible(host.Window()));
    host.windowMessages.clear();
    FakeHost::PumpMessages();
    ASSERT_EQ(1u, host.windowMessages.size());
    EXPECT_EQ(static_cast<UINT>(WM_SIZE), host.windowMessages[0].msg);
    EXPECT_EQ(0u, host.windowMessages[0].wParam);
    EXPECT_EQ(0, host.windowMessages[0].lParam);
    EXPECT_NE(nullptr, FindWindowExA(host.Window(), nullptr, "Static", "GpcSampleControl"));

    GpcActionNotify(host.Cookie(), 1, 99);
    GpcExitInstance(host.Cookie());
    EXPECT_TRUE(trace.HasLine("NPVRGPC :: RemoveObject"));
    EXPECT_TRUE(Messages().empty());

    const std::string hwnd = Decimal(host.Window());
    std::vector<std::string> log = ControlLog();
    // From the script calls on: the dispatch calls, then the close.
    auto it = std::find(log.begin(), log.end(), "Window=created");
    ASSERT_NE(log.end(), it);
    std::vector<std::string> tail(it + 1, log.end());
    const std::vector<std::string> want = {
        "GetIDsOfNames(Start)=1",
        "Invoke Start(" + hwnd + ",hello) flags=1",
        "GetIDsOfNames(Show)=3",
        "Invoke Show(2,0) flags=1",
        "GetIDsOfNames(Show)=3",
        "Invoke Show(1) flags=1",
        "GetIDsOfNames(Stop)=2",
        "Invoke Stop(42) flags=1",
        "Close(1)",
        "OnInPlaceDeactivate=00000000",
        "Destroyed",
    };
    EXPECT_EQ(want, tail);
    EXPECT_EQ("DoVerb(-1,0,0," + std::to_string(rcClient.right) + "," + std::to_string(rcClient.bottom) + ")",
              log[3]);
}

TEST_F(MainComponent, ProgIdWinsOverComponentNameAndBracedClassIdWorks)
{
    InstallSample("sample_component.dll", "sample_component.dll");
    host.SetParam("GpcComponentProgID", GPC_CONTROL_CLSID);
    host.SetParam("GpcComponentName", "sample_component.dll");
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    AddItem(p, "sample_component.dll");
    p->LoadMainComponent();
    EXPECT_NE(nullptr, p->GetControlObject());
    EXPECT_EQ(nullptr, p->m_hMainComponent.Get());
    EXPECT_TRUE(ComponentLog().empty());
    EXPECT_EQ("Created(Control)", ControlLog().at(0));
}

TEST_F(MainComponent, DownloadOnlyPublishesTheWindowAndLoadsAndUnloadsNothing)
{
    for (const char* lpszValue : {"TRUE", "true", "True"}) {
        SCOPED_TRACE(lpszValue);
        InstallSample("sample_component.dll", "sample_component.dll");
        host.SetParam("GpcDownloadOnly", lpszValue);
        host.SetParam("GpcInitCall", "Start(%HWND)");
        host.SetParam("GpcExitCall", "Stop()");
        CVRGpcExtension* p = StartSuppressed("sample_component.dll");
        ASSERT_NE(nullptr, p);
        GpcHeartbeat(host.Cookie());
        EXPECT_EQ(Decimal(host.Window()), std::string(p->m_CallEngine.GetVariable("%HWND")));
        EXPECT_EQ(nullptr, p->m_hMainComponent.Get());
        GpcExitInstance(host.Cookie());
        EXPECT_TRUE(ComponentLog().empty());
        EXPECT_FALSE(trace.Contains("Execute GpcExitCall"));
        EXPECT_TRUE(trace.HasLine("NPVRGPC : set %HWND = " + Decimal(host.Window())));
        ResetModuleStateForTesting();
        trace.Clear();
    }
}

TEST_F(MainComponent, ProgIdNamingNothingShowsMessage16AndStopsTheRun)
{
    host.SetParam("GpcComponentProgID", "No.Such.ProgId");
    host.SetParam("GpcInitCall", "Start(%HWND)");
    CVRGpcExtension* p = StartSuppressed("unused.dll");
    ASSERT_NE(nullptr, p);
    GpcHeartbeat(host.Cookie());
    GpcHeartbeat(host.Cookie());
    EXPECT_EQ(1, p->m_bFailed);
    EXPECT_EQ(nullptr, p->GetControlObject());
    EXPECT_EQ(std::vector<std::string>{"16|No.Such.ProgId"}, Messages());
    // Failed: no init script, no "download done" notification.
    EXPECT_FALSE(trace.Contains("ExecuteScript"));
    EXPECT_FALSE(trace.Contains("Handle notification"));
    EXPECT_EQ(1, p->ExecuteScript("Start(x)"));
}

TEST_F(MainComponent, NoHostWindowMeansNoControl)
{
    host.provideWindow = false;
    host.SetParam("GpcComponentProgID", GPC_CONTROL_PROG_ID);
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    p->LoadMainComponent();
    EXPECT_EQ(std::string("0"), p->m_CallEngine.GetVariable("%HWND"));
    EXPECT_EQ(1, p->m_bFailed);
    EXPECT_EQ(std::vector<std::string>{std::string("16|") + GPC_CONTROL_PROG_ID}, Messages());
    EXPECT_TRUE(ControlLog().empty());
}

TEST_F(MainComponent, ControlWithoutIDispatchIsHostedButItsScriptsShowMessage14)
{
    host.SetParam("GpcComponentProgID", GPC_NO_DISPATCH_PROG_ID);
    host.SetParam("GpcInitCall", "Start(%HWND)");
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    OpenMessageWindow(p);
    p->LoadMainComponent();
    EXPECT_NE(nullptr, p->GetControlObject());
    EXPECT_EQ(0, p->m_bFailed);
    EXPECT_EQ(std::vector<std::string>{"14"}, Messages());
    EXPECT_NE(std::string::npos, LastMessageText(p).find("Error [14], [0x0]"));
    EXPECT_EQ(0, p->ExecuteScript("Stop()"));
    EXPECT_EQ("Created(NoDispatch)", ControlLog().at(0));
}

TEST_F(MainComponent, ComponentNameMissingOrUnlistedShowsMessage17WithoutFailing)
{
    struct Case {
        const char* name;  // null: parameter absent
        const char* detail;
    } cases[] = {{"missing.dll", "17|missing.dll"}, {nullptr, "17|"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.detail);
        if (c.name) host.SetParam("GpcComponentName", c.name);
        else host.RemoveParam("GpcComponentName");
        CVRGpcExtension* p = StartIdle();
        ASSERT_NE(nullptr, p);
        AddItem(p, "other.dll");
        p->LoadMainComponent();
        EXPECT_EQ(0, p->m_bFailed);
        EXPECT_EQ(nullptr, p->m_hMainComponent.Get());
        EXPECT_EQ(std::vector<std::string>{c.detail}, Messages());
        GpcExitInstance(host.Cookie());
        ResetModuleStateForTesting();
        trace.Clear();
    }
}

TEST_F(MainComponent, LibraryThatDoesNotLoadShowsMessage18AndLeavesTheHostRunning)
{
    WriteFileBytes(host.directory + "\\broken.dll", "this is not a library");
    host.SetParam("GpcInitCall", "Start(%HWND)");
    host.SetParam("GpcExitCall", "Stop()");
    host.SetParam("GpcActions", "Start(%WPARAM)|Start(%WPARAM)|Start(%WPARAM)");
    CVRGpcExtension* p = StartSuppressed("broken.dll");
    ASSERT_NE(nullptr, p);
    GpcHeartbeat(host.Cookie());
    GpcHeartbeat(host.Cookie());
    EXPECT_EQ(1, p->m_bFailed);
    EXPECT_EQ(nullptr, p->m_hMainComponent.Get());
    // The message names the path that was tried: its short form, or the
    // long one when the system gives none (Wine now and then answers
    // nothing for a file just written).
    std::string path = ShortPath(host.directory + "\\broken.dll");
    if (path.empty()) path = host.directory + "\\broken.dll";
    EXPECT_EQ(std::vector<std::string>{"18|" + path}, Messages());
    // The directory was changed for the library all the same.
    EXPECT_EQ(ShortPath(host.directory), CurrentDirectory());
    GpcActionNotify(host.Cookie(), 0, 0);
    GpcExitInstance(host.Cookie());
    EXPECT_EQ(1u, Messages().size());
}

TEST_F(MainComponent, LibraryWithoutEnvAndNotifyExportsStillRunsItsScripts)
{
    InstallSample("sample_component_bare.dll", "bare.dll");
    host.SetParam("GpcInitCall", "Start(%HWND)");
    host.SetParam("GpcActions", "Show(%WPARAM, %LPARAM)");
    host.SetParam("GpcExitCall", "Stop()");
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    host.SetParam("GpcComponentName", "bare.dll");
    AddItem(p, "bare.dll");
    p->LoadMainComponent();
    GpcActionNotify(host.Cookie(), 0, 3);
    GpcExitInstance(host.Cookie());
    const std::vector<std::string> want = {"load cwd=" + ShortPath(host.directory),
                                           "Start(" + Decimal(host.Window()) + ")", "Show(0,3)", "Stop()",
                                           "unload"};
    EXPECT_EQ(want, ComponentLog("bare"));
}

TEST_F(MainComponent, ExitCallThatAssignsToItselfRunsToItsEnd)
{
    InstallSample("sample_component.dll", "sample_component.dll");
    host.SetParam("Greeting", "hello");
    // The first statement replaces the very text being run.
    host.SetParam("GpcExitCall", "GpcExitCall = Start(Greeting); Show(Greeting, GpcExitCall); Stop()");
    CVRGpcExtension* p = StartSuppressed("sample_component.dll");
    ASSERT_NE(nullptr, p);
    GpcHeartbeat(host.Cookie());
    GpcExitInstance(host.Cookie());
    std::vector<std::string> log = ComponentLog();
    ASSERT_GE(log.size(), 4u);
    const std::vector<std::string> want = {"Start(hello)", "Show(hello,42)", "Stop()", "unload"};
    EXPECT_EQ(want, std::vector<std::string>(log.end() - 4, log.end()));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(MainComponent, UnloadRunsTheExitCallBeforeTheLibraryGoes)
{
    InstallSample("sample_component.dll", "sample_component.dll");
    host.SetParam("GpcExitCall", "Stop()");
    CVRGpcExtension* p = StartSuppressed("sample_component.dll");
    ASSERT_NE(nullptr, p);
    GpcHeartbeat(host.Cookie());
    p->UnloadMainComponent();
    EXPECT_EQ(nullptr, p->m_hMainComponent.Get());
    std::vector<std::string> log = ComponentLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("Stop()", log[log.size() - 2]);
    EXPECT_EQ("unload", log.back());
    EXPECT_TRUE(Contains(trace.Texts(), "Execute GpcExitCall"));
}

TEST_F(MainComponent, TopLevelHostWindowKeepsItsSizeAndStillGetsWmSize)
{
    host.SetParam("GpcComponentProgID", GPC_CONTROL_PROG_ID);
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    RECT rcBefore, rcAfter;
    GetWindowRect(host.Window(), &rcBefore);
    host.windowMessages.clear();
    p->LoadMainComponent();
    ASSERT_NE(nullptr, p->GetControlObject());
    FakeHost::PumpMessages();
    // Without a parent there is no client area to fill: the window is not
    // collapsed or moved, and the control still hears WM_SIZE.
    GetWindowRect(host.Window(), &rcAfter);
    EXPECT_TRUE(EqualRect(&rcBefore, &rcAfter));
    ASSERT_FALSE(host.windowMessages.empty());
    EXPECT_EQ(static_cast<UINT>(WM_SIZE), host.windowMessages.back().msg);
    EXPECT_EQ(0, host.windowMessages.back().lParam);
}
