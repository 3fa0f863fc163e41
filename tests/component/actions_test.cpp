// Actions, notifications, parameter resolution and location changes, with
// the sample library as the component and the fake host's navigations as
// the page's view.
#include "component_test_util.h"

#include <cstring>

using namespace component_test;

namespace {

class Actions : public ComponentTest {
protected:
    // An extension with the sample library loaded directly (no heartbeat).
    CVRGpcExtension* StartWithLibrary()
    {
        InstallSample("sample_component.dll", "sample_component.dll");
        host.SetParam("GpcComponentName", "sample_component.dll");
        CVRGpcExtension* p = StartIdle();
        if (!p) return nullptr;
        AddItem(p, "sample_component.dll");
        p->LoadMainComponent();
        EXPECT_NE(nullptr, p->m_hMainComponent.Get());
        return p;
    }

    // The component log after its load lines.
    std::vector<std::string> CallsAfterLoad()
    {
        std::vector<std::string> log = ComponentLog();
        std::vector<std::string> calls;
        for (const std::string& line : log) {
            if (line.rfind("load ", 0) == 0 || line.rfind("SetControlEnv(", 0) == 0) continue;
            calls.push_back(line);
        }
        return calls;
    }

    std::vector<std::string> Navigations() const
    {
        std::vector<std::string> v;
        for (const auto& n : host.navigations) v.push_back(n.target + " " + n.url);
        return v;
    }

    std::string Notify() const { return "NotifyControl(" + Hex8(host.Cookie()) + ",2,0,0)"; }
};

std::string AddressOf(const char* lpsz)
{
    return Decimal(lpsz);
}

// Ends the browser processes that an automation test started from this
// process (Wine starts the COM local server as our child, and it would keep
// the test's output pipes open). Each is first asked to close its windows,
// so that it revokes its class object; one that stays is ended by its id.
BOOL CALLBACK CloseWindowsOfProcess(HWND hWnd, LPARAM lParam)
{
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid == static_cast<DWORD>(lParam)) PostMessageA(hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

int EndChildBrowsers()
{
    int n = 0;
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof(pe);
    for (BOOL b = Process32First(hSnap, &pe); b; b = Process32Next(hSnap, &pe)) {
        if (pe.th32ParentProcessID != GetCurrentProcessId() || lstrcmpiA(pe.szExeFile, "iexplore.exe") != 0) continue;
        HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pe.th32ProcessID);
        if (!h) continue;
        EnumWindows(&CloseWindowsOfProcess, static_cast<LPARAM>(pe.th32ProcessID));
        if (WaitForSingleObject(h, 10000) != WAIT_OBJECT_0) {
            TerminateProcess(h, 0);
            WaitForSingleObject(h, 5000);
        } else {
            ++n;
        }
        CloseHandle(h);
    }
    CloseHandle(hSnap);
    return n;
}

}  // namespace

TEST_F(Actions, NotificationRunsTheActionAtItsIndexWithItsValues)
{
    host.SetParam("GpcActions", "Show(%WPARAM, %LPARAM)|Show(%LPARAM, %WPARAM)|x|ShowCdecl(#LPARAM, $LPARAM)");
    CVRGpcExtension* p = StartWithLibrary();
    ASSERT_NE(nullptr, p);
    p->HandleNotification(1, 7);
    p->HandleNotification(2, 5);           // one character: not run
    p->HandleNotification(4, 0);           // past the list
    p->HandleNotification(0xFFFFFFFFu, 1);  // negative as an index
    const std::vector<std::string> want = {Notify(), "Show(7,1)", Notify(), Notify(), Notify()};
    EXPECT_EQ(want, CallsAfterLoad());
    EXPECT_EQ(std::string("1"), p->m_CallEngine.GetVariable("%WPARAM"));
    EXPECT_EQ(std::string("7"), p->m_CallEngine.GetVariable("%LPARAM"));
    EXPECT_EQ(std::string("#LPARAM"), p->m_CallEngine.GetVariable("#LPARAM"));
    EXPECT_EQ(std::string("$LPARAM"), p->m_CallEngine.GetVariable("$LPARAM"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC : Handle notification message 1"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC: Action: Show(%LPARAM, %WPARAM)"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC : could not find the URL for index 2"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC : could not find the URL for index 4"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC : Handle notification message -1"));
    EXPECT_TRUE(trace.HasLine("NPVRGPC : could not find the URL for index 4294967295"));
    EXPECT_TRUE(Messages().empty());
}

// The library loads the component through its short path. Under Wine a
// short name is a small hash of the long one, so the folder of one test
// could share it with a folder of another (many of them lie in %TEMP%), and
// the short path then loaded that folder's copy of the component, which
// wrote its log there: the test saw no calls at all. Every test folder's
// short path must lead back to it.
TEST(TestFolders, TheShortPathOfEachFolderLeadsBackToIt)
{
    std::vector<std::string> dirs;
    for (int i = 0; i < 600; ++i) dirs.push_back(MakeTempDir("short"));
    int nAstray = 0;
    for (const std::string& dir : dirs) {
        std::string shortPath = ShortPath(dir);
        char achLong[MAX_PATH] = "";
        DWORD n = GetLongPathNameA(shortPath.c_str(), achLong, MAX_PATH);
        if (n == 0 || n >= MAX_PATH || lstrcmpiA(achLong, dir.c_str()) != 0) {
            if (++nAstray <= 3) ADD_FAILURE() << shortPath << " leads to " << achLong << ", not " << dir;
        }
    }
    EXPECT_EQ(0, nAstray);
}

TEST_F(Actions, ChangeLocationNavigatesToTheUrlAtTheNotificationValue)
{
    host.SetParam("GpcUrls", "http://a.example/one|  http://b.example/two");
    host.SetParam("GpcActions", "GpcChangeLocation(#LPARAM)|GpcChangeLocation(#LPARAM, Frame)");
    host.SetParam("Frame", "main");
    CVRGpcExtension* p = StartWithLibrary();
    ASSERT_NE(nullptr, p);
    p->HandleNotification(0, 1);
    p->HandleNotification(1, 0);
    const std::vector<std::string> want = {"_self http://b.example/two", "main http://a.example/one"};
    EXPECT_EQ(want, Navigations());
    EXPECT_TRUE(Messages().empty());
    int i = trace.IndexOf("VRGPCEXT : ChangeLocation");
    ASSERT_GE(i, 0);
    const std::vector<std::string> texts = trace.Texts();
    EXPECT_EQ("NPVRGPC : redirect #LPARAM", texts[i + 1]);
    EXPECT_EQ("ChangeLocation url=http://b.example/two", texts[i + 2]);
}

TEST_F(Actions, UrlIndexOutsideTheListShowsMessage11Then13)
{
    host.SetParam("GpcUrls", "http://a.example/one|http://b.example/two");
    host.SetParam("GpcActions", "GpcChangeLocation(#LPARAM)|GpcOpenLocation(#LPARAM)");
    CVRGpcExtension* p = StartWithLibrary();
    ASSERT_NE(nullptr, p);
    OpenMessageWindow(p);
    struct Case {
        DWORD index;
        DWORD value;
        const char* shownIndex;
        const char* method;
    } cases[] = {
        {0, 5, "5", "GpcChangeLocation"},
        {0, 0x80000000u, "-2147483648", "GpcChangeLocation"},
        {1, 0xFFFFFFFFu, "-1", "GpcOpenLocation"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shownIndex);
        trace.Clear();
        p->HandleNotification(c.index, c.value);
        EXPECT_EQ((std::vector<std::string>{"11", "13"}), Messages());
        EXPECT_TRUE(trace.HasLine("NPVRGPC : receive an NULL location parameter"));
        EXPECT_NE(std::string::npos,
                  LastMessageText(p).find(std::string("Error [13], [0x80004005] in [") + c.method + "( )]"));
    }
    EXPECT_TRUE(host.navigations.empty());

    // Message 11 itself shows the index as a signed number.
    trace.Clear();
    p->m_CallEngine.SetVariable("%LPARAM", "2147483648");
    EXPECT_EQ(nullptr, p->ResolveParameter("#lparam"));
    EXPECT_NE(std::string::npos, LastMessageText(p).find("Error [11], Index [-2147483648]"));
    p->m_CallEngine.SetVariable("%LPARAM", "no digits");
    EXPECT_EQ(nullptr, p->ResolveParameter("#LPARAM"));
    EXPECT_NE(std::string::npos, LastMessageText(p).find("Error [11], Index [-1]"));
}

TEST_F(Actions, WrongArgumentCountsShowMessage10Then13)
{
    host.SetParam("GpcActions", "GpcChangeLocation()|GpcOpenLocation(a, b)|GpcChangeLocation(a, b, c)");
    host.SetParam("a", "http://x.example/");
    host.SetParam("b", "_top");
    host.SetParam("c", "c");
    CVRGpcExtension* p = StartWithLibrary();
    ASSERT_NE(nullptr, p);
    OpenMessageWindow(p);
    const char* rgDetails[] = {"10|GpcChangeLocation()", "10|GpcOpenLocation()", "10|GpcChangeLocation()"};
    const char* rgMethods[] = {"GpcChangeLocation", "GpcOpenLocation", "GpcChangeLocation"};
    for (DWORD i = 0; i < 3; ++i) {
        trace.Clear();
        p->HandleNotification(i, 0);
        EXPECT_EQ((std::vector<std::string>{rgDetails[i], "13"}), Messages());
        EXPECT_NE(std::string::npos,
                  LastMessageText(p).find(std::string("Error [13], [0x80070057] in [") + rgMethods[i] + "( )]"));
    }
    EXPECT_TRUE(host.navigations.empty());
}

TEST_F(Actions, OpenLocationUsesTheHostUnlessRegtypeStartsWithZero)
{
    host.SetParam("GpcActions", "GpcOpenLocation(u)");
    host.SetParam("u", "http://open.example/");
    CVRGpcExtension* p = StartWithLibrary();
    ASSERT_NE(nullptr, p);
    for (const char* lpszRegType : {static_cast<const char*>(nullptr), "1", "", "10"}) {
        SCOPED_TRACE(lpszRegType ? lpszRegType : "(absent)");
        if (lpszRegType) host.SetParam("regtype", lpszRegType);
        host.navigations.clear();
        trace.Clear();
        p->HandleNotification(0, 0);
        EXPECT_EQ(std::vector<std::string>{"_blank http://open.example/"}, Navigations());
        EXPECT_TRUE(trace.HasLine("NPVRGPC : OpenLocation"));
        EXPECT_TRUE(trace.HasLine("OpenLocation url = http://open.example/"));
        EXPECT_EQ(lpszRegType != nullptr, trace.HasLine(std::string("RegType: ") + (lpszRegType ? lpszRegType : "")));
        EXPECT_FALSE(trace.Contains("CoCreateInstance"));
    }
    EXPECT_TRUE(Messages().empty());
}

// Under Wine the browser object exists: iexplore.exe starts as a local COM
// server (about a second) and takes the URL itself, so the host is not asked.
TEST_F(Actions, OpenLocationWithRegtypeZeroOpensTheBrowserObject)
{
    host.SetParam("regtype", "0");
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    CGpcPtrArray args;
    args.Add(const_cast<char*>("about:blank"));
    EXPECT_EQ(S_OK, p->OpenLocation(&args));
    EXPECT_EQ(1, EndChildBrowsers());
    EXPECT_TRUE(trace.HasLine("RegType: 0"));
    // OLE is initialised on this thread already: CoInitialize says S_FALSE.
    EXPECT_TRUE(trace.HasLine("CoInitialize: 1"));
    EXPECT_TRUE(trace.HasLine("CoCreateInstance: 0"));
    EXPECT_TRUE(host.navigations.empty());
}

// With the browser class redirected (TreatAs) to a control that is no
// browser, no browser object comes out and the host opens "_blank".
TEST_F(Actions, OpenLocationFallsBackToTheHostWithoutABrowserObject)
{
    const char GPC_TREAT_AS[] = "CLSID\\{0002DF01-0000-0000-C000-000000000046}\\TreatAs";
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, GPC_TREAT_AS, 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &hKey, nullptr));
    RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(GPC_NO_DISPATCH_CLSID),
                   sizeof(GPC_NO_DISPATCH_CLSID));
    RegCloseKey(hKey);

    host.SetParam("regtype", "0x");
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    CGpcPtrArray args;
    args.Add(const_cast<char*>("http://fallback.example/"));
    HRESULT hr = p->OpenLocation(&args);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, GPC_TREAT_AS);
    EndChildBrowsers();

    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(std::vector<std::string>{"_blank http://fallback.example/"}, Navigations());
    EXPECT_TRUE(trace.HasLine("CoCreateInstance: 80004002"));
    // The stand-in was created and let go again.
    EXPECT_EQ((std::vector<std::string>{"Created(NoDispatch)", "Destroyed"}), ControlLog());
}

TEST_F(Actions, DollarLparamIsTheHostsTextOnlyDuringItsNotification)
{
    host.SetParam("GpcActions", "GpcOpenLocation($LPARAM)|Show($LPARAM, $LPARAM)|%LPARAM = Start(x); Start($LPARAM)");
    host.SetParam("x", "x");
    CVRGpcExtension* p = StartWithLibrary();
    ASSERT_NE(nullptr, p);
    static const char s_achUrl[] = "http://text.example/by-address";
    static const char s_achOther[] = "other text";

    p->HandleNotification(0, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(s_achUrl)));
    EXPECT_EQ(std::vector<std::string>{"_blank http://text.example/by-address"}, Navigations());
    EXPECT_EQ(std::string(s_achUrl), p->m_CallEngine.GetVariable("$LPARAM_CONTENT"));

    // Both arguments resolve to the same kept copy.
    p->HandleNotification(1, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(s_achOther)));
    // A script that puts its own number into %LPARAM gets nothing.
    p->HandleNotification(2, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(s_achOther)));
    const std::vector<std::string> want = {Notify(), Notify(), "Show(other text,other text)",
                                           Notify(), "Start(x)", "Start((null))"};
    EXPECT_EQ(want, CallsAfterLoad());
    EXPECT_TRUE(trace.HasLine("NPVRGPC : $LPARAM is not the host's text of this notification"));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Actions, DollarLparamOfZeroOrAnUnreadableAddressResolvesToNothing)
{
    host.SetParam("GpcActions", "GpcOpenLocation($LPARAM)");
    CVRGpcExtension* p = StartWithLibrary();
    ASSERT_NE(nullptr, p);
    const DWORD rgValues[] = {0u, 0x80000000u, 0xFFFFFFF0u, 4u};
    for (DWORD v : rgValues) {
        SCOPED_TRACE(v);
        trace.Clear();
        p->HandleNotification(0, v);
        EXPECT_TRUE(trace.HasLine("NPVRGPC : receive an NULL location parameter"));
        EXPECT_EQ((std::vector<std::string>{"13"}), Messages());
    }
    EXPECT_TRUE(trace.HasLine("NPVRGPC : $LPARAM does not address a readable text"));
    EXPECT_TRUE(host.navigations.empty());
}

TEST_F(Actions, NumbersFromThePageAreNeverReadAsAddresses)
{
    static const char s_achSecret[] = "http://secret.example/";
    const std::string address = AddressOf(s_achSecret);
    // A page that names the variable itself, and a location export given the
    // placeholder: neither comes from a notification.
    host.SetParam("%LPARAM", address);
    host.SetParam("GpcComponentProgID", GPC_CONTROL_PROG_ID);
    host.SetParam("GpcInitCall", "GpcOpenLocation($LPARAM)");
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    p->LoadMainComponent();
    EXPECT_EQ(0, GpcOpenLocation(host.Window(), "$LPARAM", nullptr, nullptr));
    EXPECT_EQ(0, GpcOpenLocation(host.Window(), "$LPARAM", "_top", nullptr));
    // After a notification has ended its value is no address either.
    p->m_CallEngine.SetVariable("%LPARAM", address.c_str());
    EXPECT_EQ(nullptr, p->ResolveParameter("$LPARAM"));
    EXPECT_TRUE(host.navigations.empty());
    EXPECT_EQ(nullptr, p->m_CallEngine.GetVariable("$LPARAM_CONTENT"));
}

TEST_F(Actions, ScriptFailuresShowMessage12Or13Or14)
{
    host.SetParam("GpcComponentProgID", GPC_CONTROL_PROG_ID);
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    OpenMessageWindow(p);
    p->LoadMainComponent();
    ASSERT_NE(nullptr, p->GetControlObject());

    EXPECT_EQ(0, p->ExecuteScript("Start(%HWND) Stop()"));
    EXPECT_NE(std::string::npos, LastMessageText(p).find("Error [12], [Expecting ';' at \"Stop()\"]"));
    EXPECT_EQ(0, p->ExecuteScript("Fail(%HWND)"));
    EXPECT_NE(std::string::npos, LastMessageText(p).find("Error [13], [0x80004005] in [Fail( )]"));
    EXPECT_EQ(1, p->ExecuteScript("Start(%HWND); NoSuchMethod()"));
    EXPECT_EQ((std::vector<std::string>{"12|Expecting ';' at \"Stop()\"", "13"}), Messages());
    p->RemoveObject();
    EXPECT_EQ(nullptr, p->GetControlObject());
    EXPECT_EQ(1, p->ExecuteScript("Fail(%HWND)"));
    EXPECT_EQ(2u, Messages().size());
}

TEST_F(Actions, WithoutAComponentScriptsSucceedSilently)
{
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(1, p->ExecuteScript("Start(x"));
    EXPECT_EQ(1, p->ExecuteScript(nullptr));
    EXPECT_FALSE(trace.Contains("ExecuteScript"));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(Actions, LocationExportsReachChangeAndOpenLocation)
{
    host.SetParam("GpcUrls", "http://a.example/one");
    CVRGpcExtension* p = StartIdle();
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(1, GpcOpenLocation(host.Window(), "http://new.example/", nullptr, nullptr));
    EXPECT_EQ(1, GpcOpenLocation(host.Window(), "http://frame.example/", "content", nullptr));
    p->m_CallEngine.SetVariable("%LPARAM", "0");
    EXPECT_EQ(1, GpcOpenLocation(host.Window(), "#LPARAM", "_self", nullptr));
    EXPECT_EQ(0, GpcOpenLocation(host.Window(), nullptr, "_self", nullptr));
    const std::vector<std::string> want = {"_blank http://new.example/", "content http://frame.example/",
                                           "_self http://a.example/one"};
    EXPECT_EQ(want, Navigations());
}
