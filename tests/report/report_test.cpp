// Failure reports as the logging server sees them: real WinINet requests to
// a local HTTP server (started by the test fixture), compared byte for byte.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "extension/extension.h"
#include "feedback/report.h"
#include "npvrgpc/module_state.h"
#include "tests/support/fake_host.h"
#include "tests/support/module_host.h"
#include "tests/support/report_server.h"
#include "tests/support/trace_capture.h"

namespace {

const std::string GPC_SERVER_DIR = GPC_REPORT_SERVER_DIR;

std::string ServerRoot()
{
    return "http://127.0.0.1:" + std::to_string(ServerPort(GPC_SERVER_DIR));
}

class Report : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(0, ServerPort(GPC_SERVER_DIR)) << "the report server fixture did not start (" << GPC_SERVER_DIR << ")";
        InstallFakeHost(host);
        extension.reset(new CVRGpcExtension(host.Cookie()));
        host.SetParam("MeetingID", "M42");
        host.SetParam("SessionID", "S7");
    }
    void TearDown() override
    {
        extension.reset();
        SetReportTimeoutForTesting(0);
        ResetModuleStateForTesting();
    }

    // A LoggingURL unique to the running test, so its requests can be told apart.
    std::string Base(const std::string& status, const std::string& rest = "")
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        token = std::string(info->name());
        return ServerRoot() + "/" + status + "/" + token + rest;
    }
    std::string SaveLine(const std::string& request, bool bSuccess)
    {
        return "CVRGpcExtension:: Save the error message log to [" + request + "] is [" +
               (bSuccess ? "SUCCESS" : "FAILED") + "]";
    }

    FakeHost host;
    TraceCapture trace;
    std::unique_ptr<CVRGpcExtension> extension;
    std::string token;
};

TEST_F(Report, ReportReachesServerWithDetail)
{
    std::string base = Base("200", "/log.asp?a=1");
    host.SetParam("LoggingURL", base);
    EXPECT_EQ(1, ReportFailureToServer(extension.get(), 9, "Corvo-x.dll"));

    std::vector<std::string> lines = RequestsWith(GPC_SERVER_DIR, token);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("GET /200/" + token + "/log.asp?a=1&ConfID=M42&SessionID=S7&Module=1&ErrorCode=9&OptInfo1=Corvo-x.dll HTTP/1.1",
              lines[0]);
    std::vector<std::string> agents = RequestsWith(GPC_SERVER_DIR, token, "/agents.log");
    ASSERT_EQ(1u, agents.size());
    EXPECT_EQ(" GPC", agents[0].substr(agents[0].size() - 4));
    EXPECT_TRUE(trace.HasLine("QDL parameters: " + base + ",M42,S7")) << trace.Dump();
    EXPECT_TRUE(trace.HasLine(SaveLine(base + "&ConfID=M42&SessionID=S7&Module=1&ErrorCode=9&OptInfo1=Corvo-x.dll", true)))
        << trace.Dump();
}

TEST_F(Report, CancelReportCarriesNoDetail)
{
    std::string base = Base("200", "/log.asp?");
    host.SetParam("LoggingURL", base);
    EXPECT_EQ(1, ReportFailureToServer(extension.get(), GPC_REPORT_CANCELLED, nullptr));
    std::vector<std::string> lines = RequestsWith(GPC_SERVER_DIR, token);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("GET /200/" + token + "/log.asp?ConfID=M42&SessionID=S7&Module=1&ErrorCode=901 HTTP/1.1", lines[0]);
}

TEST_F(Report, LongAnswerIsReadToTheEnd)
{
    // Several 4,096-byte reads.
    std::string base = Base("200", "?size=50000");
    host.SetParam("LoggingURL", base);
    EXPECT_EQ(1, ReportFailureToServer(extension.get(), 6, "http://x/y.cab"));
    EXPECT_EQ(1u, RequestsWith(GPC_SERVER_DIR, token).size());
    EXPECT_TRUE(trace.Contains("] is [SUCCESS]")) << trace.Dump();
    EXPECT_EQ(1, SendHttpRequest((ServerRoot() + "/200/direct?size=50000").c_str()));
}

TEST_F(Report, MissingParameterMeansNoRequest)
{
    const struct {
        const char* removed;
        const char* line;
    } cases[] = {
        {"SessionID", "QDL parameters: %s,M42,(null)"},
        {"MeetingID", "QDL parameters: %s,(null),S7"},
        {"LoggingURL", "QDL parameters: (null),M42,S7"},
    };
    for (const auto& c : cases) {
        std::string base = Base("200", std::string("/") + c.removed);
        host.SetParam("LoggingURL", base);
        host.SetParam("MeetingID", "M42");
        host.SetParam("SessionID", "S7");
        host.RemoveParam(c.removed);
        trace.Clear();
        EXPECT_EQ(0, ReportFailureToServer(extension.get(), 3, "f.dll"));
        char achLine[512];
        snprintf(achLine, sizeof(achLine), c.line, base.c_str());
        EXPECT_EQ(std::vector<std::string>{achLine}, trace.Texts());
        EXPECT_TRUE(RequestsWith(GPC_SERVER_DIR, token + "/" + c.removed).empty());
    }
}

TEST_F(Report, NoHostTableMeansNoReport)
{
    host.SetParam("LoggingURL", Base("200"));
    g_pHostTable = nullptr;
    EXPECT_EQ(0, ReportFailureToServer(extension.get(), 1, nullptr));
    EXPECT_TRUE(RequestsWith(GPC_SERVER_DIR, token).empty());
    EXPECT_EQ(0, ReportFailureToServer(nullptr, 1, nullptr));
}

TEST_F(Report, BaseWithoutQueryEndingInAmpersandIsWarnedAndFails)
{
    std::string base = Base("200", "/log.asp&");
    host.SetParam("LoggingURL", base);
    EXPECT_EQ(1, ReportFailureToServer(extension.get(), 2, nullptr));
    EXPECT_TRUE(RequestsWith(GPC_SERVER_DIR, token).empty());
    // The empty request is refused before the network layer sees it.
    int nWarning = trace.IndexOf("WARNING: LoggingURL is not right.");
    int nRefusal = trace.IndexOf("CVRGpcExtension:: report not sent: not an http or https address with a host name");
    int nSave = trace.IndexOf(SaveLine("", false));
    EXPECT_GE(nWarning, 0) << trace.Dump();
    EXPECT_GT(nRefusal, nWarning) << trace.Dump();
    EXPECT_GT(nSave, nRefusal) << trace.Dump();
}

TEST_F(Report, ErrorStatusesCountAsFailed)
{
    for (const char* status : {"404", "500"}) {
        std::string base = Base(status);
        host.SetParam("LoggingURL", base);
        trace.Clear();
        EXPECT_EQ(1, ReportFailureToServer(extension.get(), 5, nullptr));
        EXPECT_EQ(1u, RequestsWith(GPC_SERVER_DIR, "/" + std::string(status) + "/" + token).size()) << status;
        EXPECT_TRUE(trace.HasLine(SaveLine(base + "?ConfID=M42&SessionID=S7&Module=1&ErrorCode=5", false)))
            << trace.Dump();
    }
}

// Page values that must never reach the network layer: each report is
// refused at once with the reason in the trace, and the server hears nothing.
TEST_F(Report, UnusableAddressOrOversizedRequestIsRefusedBeforeTheNetwork)
{
    const std::string good = Base("200", "/log.asp");
    const struct {
        const char* name;
        std::string base;
        std::string meeting;
        const char* reason;
    } cases[] = {
        // Read as a scheme with no host; Wine's WinINet used to crash on it.
        {"colon garbage", ":w:s=", "M42", "not an http or https address with a host name"},
        {"another scheme", "ftp://127.0.0.1/" + token, "M42", "not an http or https address with a host name"},
        {"no host", "http:///" + token, "M42", "not an http or https address with a host name"},
        {"no scheme", "127.0.0.1/" + token, "M42", "not an http or https address with a host name"},
        {"long LoggingURL", good + "/" + std::string(70000, 'u'), "M42", "characters, more than 2048"},
        {"long MeetingID", good, std::string(70000, 'm'), "characters, more than 2048"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.SetParam("LoggingURL", c.base);
        host.SetParam("MeetingID", c.meeting);
        trace.Clear();
        DWORD dwStart = GetTickCount();
        ReportFailureToServer(extension.get(), 12, "f.dll");
        DWORD dwElapsed = GetTickCount() - dwStart;
        EXPECT_TRUE(trace.Contains("CVRGpcExtension:: report not sent: ")) << trace.Dump();
        EXPECT_TRUE(trace.Contains(c.reason)) << trace.Dump();
        EXPECT_FALSE(trace.Contains("InternetOpenUrl error code")) << trace.Dump();
        // The request (cut to what a trace line holds) is still traced as not saved.
        ASSERT_FALSE(trace.Texts().empty());
        EXPECT_EQ(0u, trace.Texts().back().rfind("CVRGpcExtension:: Save the error message log to [", 0));
        if (trace.Texts().back().size() < 1000) {
            EXPECT_TRUE(trace.Contains("] is [FAILED]")) << trace.Dump();
        }
        // Such a report used to hold the host's thread for half a minute;
        // the bound is loose because this machine is shared and slow.
        EXPECT_LT(dwElapsed, 10000u);
    }
    EXPECT_TRUE(RequestsWith(GPC_SERVER_DIR, token).empty());
    EXPECT_EQ(0, SendHttpRequest(":w:s="));
    EXPECT_EQ(0, SendHttpRequest(nullptr));
}

TEST_F(Report, RequestOfTheLargestSizeIsSentAndOneCharacterMoreIsNot)
{
    const std::string base = Base("200", "/");
    const std::string tail = "?ConfID=M42&SessionID=S7&Module=1&ErrorCode=3";
    const std::string pad(GPC_REPORT_MAX_REQUEST - base.size() - tail.size(), 'p');
    host.SetParam("LoggingURL", base + pad);
    EXPECT_EQ(1, ReportFailureToServer(extension.get(), 3, nullptr));
    std::vector<std::string> lines = RequestsWith(GPC_SERVER_DIR, token);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("GET /200/" + token + "/" + pad + tail + " HTTP/1.1", lines[0]);

    host.SetParam("LoggingURL", base + pad + "q");
    trace.Clear();
    ReportFailureToServer(extension.get(), 3, nullptr);
    EXPECT_EQ(1u, RequestsWith(GPC_SERVER_DIR, token).size());
    EXPECT_TRUE(trace.Contains("CVRGpcExtension:: report not sent: the request has 2049 characters, more than 2048"))
        << trace.Dump();
}

TEST_F(Report, ClosedPortFailsWithTheOpenError)
{
    EXPECT_EQ(0, SendHttpRequest("http://127.0.0.1:1/nothing-listens"));
    EXPECT_TRUE(trace.HasLine("CVRGpcExtension:: InternetOpenUrl error code : 12029")) << trace.Dump();
}

TEST_F(Report, ServerThatNeverAnswersIsGivenUpOnInTime)
{
    SetReportTimeoutForTesting(1500);
    DWORD dwStart = GetTickCount();
    EXPECT_EQ(0, SendHttpRequest(Base("hang").c_str()));
    DWORD dwElapsed = GetTickCount() - dwStart;
    EXPECT_EQ(1u, RequestsWith(GPC_SERVER_DIR, token).size());
    EXPECT_LT(dwElapsed, 15000u) << "the request waited " << dwElapsed << " ms";
    // A time-out (12002) or an aborted connection (12030), depending on the
    // WinINet version.
    EXPECT_TRUE(trace.Contains("CVRGpcExtension:: InternetOpenUrl error code : 120")) << trace.Dump();
}

// Answers the credentials dialogs that appear on this thread: fills in a
// user name and presses the buttons listed, one per dialog, in order.
class CredentialsAnswerer {
public:
    explicit CredentialsAnswerer(std::vector<int> buttons) : m_Buttons(std::move(buttons))
    {
        s_pCurrent = this;
        m_nTimer = SetTimer(nullptr, 0, 100, &CredentialsAnswerer::OnTimer);
        // The prompt is shown over the foreground window.
        m_hOwner = CreateWindowExA(0, "STATIC", "report test owner", WS_POPUP | WS_VISIBLE, 10, 10, 50, 50, nullptr,
                                   nullptr, nullptr, nullptr);
        SetForegroundWindow(m_hOwner);
    }
    ~CredentialsAnswerer()
    {
        KillTimer(nullptr, m_nTimer);
        if (m_hOwner) DestroyWindow(m_hOwner);
        s_pCurrent = nullptr;
    }
    int Answered() const { return m_nAnswered; }
    // Every prompt was owned by the foreground window.
    bool OverOwner() const { return m_bOverOwner; }
    const std::vector<std::string>& Titles() const { return m_Titles; }

private:
    static BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam)
    {
        char achClass[64] = {};
        GetClassNameA(hWnd, achClass, sizeof(achClass));
        if (std::string(achClass) == "#32770" && IsWindowVisible(hWnd)) {
            *reinterpret_cast<HWND*>(lParam) = hWnd;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK FillEdit(HWND hWnd, LPARAM)
    {
        char achClass[64] = {};
        GetClassNameA(hWnd, achClass, sizeof(achClass));
        if (std::string(achClass) == "Edit") SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("tester"));
        return TRUE;
    }
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        CredentialsAnswerer* self = s_pCurrent;
        if (!self || self->m_nAnswered >= static_cast<int>(self->m_Buttons.size())) return;
        HWND hDialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &CredentialsAnswerer::FindDialog, reinterpret_cast<LPARAM>(&hDialog));
        if (!hDialog || hDialog == self->m_hLastDialog) return;
        self->m_hLastDialog = hDialog;
        char achTitle[256] = {};
        GetWindowTextA(hDialog, achTitle, sizeof(achTitle));
        self->m_Titles.push_back(achTitle);
        if (GetWindow(hDialog, GW_OWNER) != self->m_hOwner) self->m_bOverOwner = false;
        EnumChildWindows(hDialog, &CredentialsAnswerer::FillEdit, 0);
        int nButton = self->m_Buttons[self->m_nAnswered++];
        PostMessageA(hDialog, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(hDialog, nButton)));
    }

    static CredentialsAnswerer* s_pCurrent;
    std::vector<int> m_Buttons;
    int m_nAnswered = 0;
    UINT_PTR m_nTimer = 0;
    HWND m_hOwner = nullptr;
    HWND m_hLastDialog = nullptr;
    std::vector<std::string> m_Titles;
    bool m_bOverOwner = true;
};
CredentialsAnswerer* CredentialsAnswerer::s_pCurrent = nullptr;

// The log server is the page's choice: a 401 or 403 ends the report at
// once, with no prompt over the host and no second request.
TEST_F(Report, ServerRefusalEndsTheReportWithoutAPrompt)
{
    for (const char* status : {"401", "403"}) {
        SCOPED_TRACE(status);
        CredentialsAnswerer answerer({IDOK, IDOK});
        std::string base = Base(status);
        host.SetParam("LoggingURL", base);
        trace.Clear();
        EXPECT_EQ(1, ReportFailureToServer(extension.get(), 4, "Corvo"));
        EXPECT_EQ(0, answerer.Answered());
        EXPECT_EQ(1u, RequestsWith(GPC_SERVER_DIR, "/" + std::string(status) + "/" + token).size());
        EXPECT_TRUE(trace.HasLine("CVRGpcExtension:: report refused by the server (status " + std::string(status) +
                                  "), no credentials asked for"))
            << trace.Dump();
        EXPECT_TRUE(
            trace.HasLine(SaveLine(base + "?ConfID=M42&SessionID=S7&Module=1&ErrorCode=4&OptInfo1=Corvo", false)));
    }
}

// A 407 is a proxy's word only when a proxy is in use: from the log server
// itself it ends the report as a 401 does, with no prompt.
TEST_F(Report, ProxyStatusWithoutAProxyEndsTheReportWithoutAPrompt)
{
    CredentialsAnswerer answerer({IDOK, IDOK});
    std::string base = Base("407");
    host.SetParam("LoggingURL", base);
    EXPECT_EQ(1, ReportFailureToServer(extension.get(), 4, "Corvo"));
    EXPECT_EQ(0, answerer.Answered());
    EXPECT_EQ(1u, RequestsWith(GPC_SERVER_DIR, token).size());
    EXPECT_TRUE(trace.HasLine("CVRGpcExtension:: report refused by the server (status 407), no credentials asked for"))
        << trace.Dump();
}

// Behind an authenticating proxy reports still arrive: with the system's
// proxy set (here the test server stands in for it), a 407 brings the
// proxy prompt, and a confirmed prompt sends the request again.
TEST_F(Report, ProxyPromptIsKeptBehindTheSystemsProxy)
{
    const char* lpszSettings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, lpszSettings, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &hKey, nullptr));
    DWORD dwEnable = 1;
    std::string proxy = "127.0.0.1:" + std::to_string(ServerPort(GPC_SERVER_DIR));
    RegSetValueExA(hKey, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwEnable), sizeof(dwEnable));
    RegSetValueExA(hKey, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(proxy.c_str()),
                   static_cast<DWORD>(proxy.size() + 1));
    int nAnswered = 0;
    size_t nRequests = 0;
    {
        CredentialsAnswerer answerer({IDOK, IDCANCEL});
        EXPECT_EQ(0, SendHttpRequest(Base("407").c_str()));
        nAnswered = answerer.Answered();
        nRequests = RequestsWith(GPC_SERVER_DIR, token).size();
    }
    dwEnable = 0;
    RegSetValueExA(hKey, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwEnable), sizeof(dwEnable));
    RegDeleteValueA(hKey, "ProxyServer");
    RegCloseKey(hKey);
    EXPECT_EQ(2, nAnswered) << trace.Dump();
    // The confirmed prompt sent the request again (WinINet may itself try
    // the given credentials once more on the way).
    EXPECT_GE(nRequests, 2u);
}

// What the server receives reads back as the texts the library meant: a
// detail with "&", "#", "%", "+", blanks, control and non-ASCII bytes is one
// parameter, and nothing of it is lost to a fragment.
TEST_F(Report, ServerReadsBackExactlyTheValuesMeant)
{
    const std::string detail = "files/x&y=1#z.dat 100% +\x01\xE9";
    const std::string meeting = "M&ConfID=forged";
    host.SetParam("MeetingID", meeting);
    host.SetParam("LoggingURL", Base("200"));
    EXPECT_EQ(1, ReportFailureToServer(extension.get(), 6, detail.c_str()));
    std::vector<std::string> lines = RequestsWith(GPC_SERVER_DIR, token);
    ASSERT_EQ(1u, lines.size()) << trace.Dump();
    // "GET <target> HTTP/1.1": the query's parameters, each decoded.
    std::string target = lines[0].substr(4, lines[0].rfind(' ') - 4);
    std::string query = target.substr(target.find('?') + 1);
    std::vector<std::pair<std::string, std::string>> params;
    std::stringstream ss(query);
    std::string piece;
    while (std::getline(ss, piece, '&')) {
        size_t eq = piece.find('=');
        std::string value = piece.substr(eq + 1), decoded;
        for (size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '%' && i + 2 < value.size()) {
                decoded += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                decoded += value[i] == '+' ? ' ' : value[i];
            }
        }
        params.emplace_back(piece.substr(0, eq), decoded);
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"ConfID", meeting}, {"SessionID", "S7"}, {"Module", "1"}, {"ErrorCode", "6"}, {"OptInfo1", detail}};
    EXPECT_EQ(expected, params) << lines[0];
}

}  // namespace
