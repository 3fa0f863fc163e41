// Failure reports: the page's "LoggingURL" is fetched with the meeting, the
// session, the error code and an optional detail as query parameters. Only
// the fact that the request reached the server counts; the answer is read
// and dropped, and the outcome shows only in the trace.
#include "feedback/report.h"

#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "feedback/trace.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/module_state.h"

namespace {

// Owns one WinINet handle (session or request).
struct GpcInternetTraits {
    static HINTERNET Invalid() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};

typedef CGpcScoped<HINTERNET, GpcInternetTraits> CInternetHandle;

// Always from the network, never into the cache. The server's certificate
// is checked in full: a report carries the meeting's and the session's
// identifiers, which are not handed to whoever stands in the middle.
const DWORD GPC_REPORT_REQUEST_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT |
                                  INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                  INTERNET_FLAG_CACHE_ASYNC;
static_assert(GPC_REPORT_REQUEST_FLAGS == 0xA4000180, "report request flags");

const DWORD_PTR GPC_REPORT_CONTEXT = 1;
enum { GPC_STATUS_TEXT = 80, GPC_BODY_PIECE = 4096, GPC_CREDENTIAL_TEXT = 1024 };
// The request buffer holds the inserted texts plus this much for the fixed
// parts of the format and the error code.
enum { GPC_REQUEST_SLACK = 512 };

DWORD s_dwTimeoutMs = GPC_REPORT_TIMEOUT_MS;

enum BaseForm { BASE_JOINED, BASE_AMPERSAND, BASE_QUESTION, BASE_NOT_RIGHT };

BaseForm ClassifyBase(const char* lpszBase)
{
    size_t nLength = std::strlen(lpszBase);
    char chLast = nLength ? lpszBase[nLength - 1] : '\0';
    if (std::strchr(lpszBase, '?')) return (chLast == '?' || chLast == '&') ? BASE_JOINED : BASE_AMPERSAND;
    return chLast == '&' ? BASE_NOT_RIGHT : BASE_QUESTION;
}

void SetTimeout(HINTERNET hSession, DWORD dwOption)
{
    DWORD dwValue = s_dwTimeoutMs;
    InternetSetOptionA(hSession, dwOption, &dwValue, sizeof(dwValue));
}

void SetTimeouts(HINTERNET hInternet)
{
    SetTimeout(hInternet, INTERNET_OPTION_CONNECT_TIMEOUT);
    SetTimeout(hInternet, INTERNET_OPTION_SEND_TIMEOUT);
    SetTimeout(hInternet, INTERNET_OPTION_RECEIVE_TIMEOUT);
}

// One open request and the connection it runs on.
struct ReportRequest {
    CInternetHandle connection;
    CInternetHandle request;  // closed before the connection (declared after it)
};

std::string UrlPart(const char* lpszPart, DWORD dwLength)
{
    return lpszPart ? std::string(lpszPart, dwLength) : std::string();
}

// Splits an address into its parts (pointers into the address itself).
// Only an http or https address with a host name counts: anything else is
// refused before the network layer sees it, since some WinINet versions
// read a null pointer on malformed text (":w:s=") and take the host down.
bool CrackReportUrl(const char* lpszUrl, URL_COMPONENTSA* pParts)
{
    *pParts = URL_COMPONENTSA();
    pParts->dwStructSize = sizeof(*pParts);
    pParts->dwSchemeLength = 1;
    pParts->dwHostNameLength = 1;
    pParts->dwUserNameLength = 1;
    pParts->dwPasswordLength = 1;
    pParts->dwUrlPathLength = 1;
    pParts->dwExtraInfoLength = 1;
    return InternetCrackUrlA(lpszUrl, 0, 0, pParts) &&
           (pParts->nScheme == INTERNET_SCHEME_HTTP || pParts->nScheme == INTERNET_SCHEME_HTTPS) &&
           pParts->lpszHostName && pParts->dwHostNameLength > 0;
}

// Whether a report may go out at all; traces why not. The length comes
// first, so that even the address check never sees an oversized text.
bool IsSendableReportUrl(const char* lpszUrl)
{
    if (!lpszUrl) return false;
    size_t nLength = strnlen(lpszUrl, GPC_REPORT_MAX_REQUEST + 1);
    if (nLength > GPC_REPORT_MAX_REQUEST) {
        TraceMessage("CVRGpcExtension:: report not sent: the request has %u characters, more than %d",
                     static_cast<unsigned>(std::strlen(lpszUrl)), static_cast<int>(GPC_REPORT_MAX_REQUEST));
        return false;
    }
    URL_COMPONENTSA parts;
    if (!CrackReportUrl(lpszUrl, &parts)) {
        TraceMessage("CVRGpcExtension:: report not sent: not an http or https address with a host name");
        return false;
    }
    return true;
}

// The errors WinINet gives for a certificate it does not accept.
bool IsCertificateError(DWORD dwError)
{
    switch (dwError) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
        return true;
    default:
        return false;
    }
}

// A value as the server must read it back: every byte that would end it
// ("&", "#"), be decoded ("%", "+") or not travel in an address (blanks,
// control and non-ASCII bytes) goes as "%" and two hexadecimal digits.
std::string EscapeQueryValue(const char* lpszValue)
{
    static const char s_achHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(lpszValue); *p; ++p) {
        unsigned char c = *p;
        if (c <= 0x20 || c >= 0x7F || c == '&' || c == '#' || c == '%' || c == '+') {
            out += '%';
            out += s_achHex[c >> 4];
            out += s_achHex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// Opens the address like InternetOpenUrl, with the same flags, in steps so
// that the send and receive time-outs sit on the connection before the
// request goes out: some WinINet versions do not hand the session's
// time-outs down to what InternetOpenUrl opens, and a server that accepts
// but never answers would hold the caller for ever.
bool OpenReportUrl(HINTERNET hSession, const char* lpszUrl, DWORD dwFlags, ReportRequest* pOpen)
{
    pOpen->request.Reset();
    pOpen->connection.Reset();

    URL_COMPONENTSA parts;
    if (CrackReportUrl(lpszUrl, &parts)) {
        std::string host = UrlPart(parts.lpszHostName, parts.dwHostNameLength);
        std::string user = UrlPart(parts.lpszUserName, parts.dwUserNameLength);
        std::string password = UrlPart(parts.lpszPassword, parts.dwPasswordLength);
        std::string object = UrlPart(parts.lpszUrlPath, parts.dwUrlPathLength) +
                             UrlPart(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        if (object.empty()) object = "/";
        // The scheme decides the protocol, as it does for InternetOpenUrl.
        DWORD dwRequestFlags = dwFlags;
        if (parts.nScheme == INTERNET_SCHEME_HTTPS) dwRequestFlags |= INTERNET_FLAG_SECURE;

        pOpen->connection.Reset(InternetConnectA(hSession, host.c_str(), parts.nPort,
                                                 user.empty() ? nullptr : user.c_str(),
                                                 password.empty() ? nullptr : password.c_str(),
                                                 INTERNET_SERVICE_HTTP, 0, GPC_REPORT_CONTEXT));
        if (pOpen->connection.Get()) {
            SetTimeouts(pOpen->connection.Get());
            pOpen->request.Reset(HttpOpenRequestA(pOpen->connection.Get(), "GET", object.c_str(), nullptr, nullptr,
                                                  nullptr, dwRequestFlags, GPC_REPORT_CONTEXT));
            if (pOpen->request.Get()) {
                SetTimeouts(pOpen->request.Get());
                if (!HttpSendRequestA(pOpen->request.Get(), nullptr, 0, nullptr, 0)) {
                    DWORD dwError = GetLastError();
                    if (IsCertificateError(dwError)) {
                        TraceMessage("CVRGpcExtension:: report not sent: the server's certificate was refused "
                                     "(error %lu)",
                                     dwError);
                    }
                    pOpen->request.Reset();
                    SetLastError(dwError);
                }
            }
        }
    } else {
        // SendHttpRequest refuses such an address before it opens a session;
        // should one get here all the same, the trace below says why it failed.
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    }
    if (pOpen->request.Get()) return true;
    TraceMessage("CVRGpcExtension:: InternetOpenUrl error code : %lu", GetLastError());
    pOpen->connection.Reset();
    return false;
}

// Moves the proxy credentials that the prompt put on the request to the
// session, so that the next request carries them.
void CarryProxyCredentials(HINTERNET hRequest, HINTERNET hSession)
{
    const DWORD aOptions[2] = {INTERNET_OPTION_PROXY_USERNAME, INTERNET_OPTION_PROXY_PASSWORD};
    for (DWORD dwOption : aOptions) {
        char achValue[GPC_CREDENTIAL_TEXT] = {};
        DWORD dwLength = sizeof(achValue) - 1;
        if (!InternetQueryOptionA(hRequest, dwOption, achValue, &dwLength)) achValue[0] = '\0';
        achValue[sizeof(achValue) - 1] = '\0';
        InternetSetOptionA(hSession, dwOption, achValue, static_cast<DWORD>(std::strlen(achValue) + 1));
    }
}

// True when the system's settings send the request through a proxy: only
// then can a 407 come from anyone but the log server.
bool RequestGoesThroughProxy(HINTERNET hRequest, HINTERNET hSession)
{
    for (HINTERNET hHandle : {hRequest, hSession}) {
        // The answer holds the record and, after it, the texts it points at.
        std::vector<unsigned char> info(sizeof(INTERNET_PROXY_INFO) + GPC_CREDENTIAL_TEXT * 2, 0);
        DWORD dwLength = static_cast<DWORD>(info.size());
        if (!InternetQueryOptionA(hHandle, INTERNET_OPTION_PROXY, info.data(), &dwLength)) continue;
        const INTERNET_PROXY_INFO* pInfo = reinterpret_cast<const INTERNET_PROXY_INFO*>(info.data());
        const char* lpszProxy = reinterpret_cast<const char*>(pInfo->lpszProxy);
        return pInfo->dwAccessType == INTERNET_OPEN_TYPE_PROXY && lpszProxy && lpszProxy[0];
    }
    return false;
}

}  // namespace

DWORD GetReportRequestFlags(const char* lpszUrl)
{
    DWORD dwFlags = GPC_REPORT_REQUEST_FLAGS;
    if (!lpszUrl) return dwFlags;
    while (*lpszUrl == ' ' || *lpszUrl == '\t') ++lpszUrl;
    if (std::strncmp(lpszUrl, "https", 5) == 0) dwFlags |= INTERNET_FLAG_SECURE;
    return dwFlags;
}

void SetReportTimeoutForTesting(DWORD dwMilliseconds)
{
    s_dwTimeoutMs = dwMilliseconds ? dwMilliseconds : static_cast<DWORD>(GPC_REPORT_TIMEOUT_MS);
}

bool BuildReportRequest(const char* lpszBase, const char* lpszMeeting, const char* lpszSession,
                        int nErrorCode, const char* lpszDetail, char* lpszOut, int nSize)
{
    if (!lpszOut || nSize <= 0) return false;
    lpszOut[0] = '\0';
    if (!lpszBase || !lpszMeeting || !lpszSession) return false;

    const char* lpszFormat = nullptr;
    switch (ClassifyBase(lpszBase)) {
    case BASE_JOINED:
        lpszFormat = lpszDetail ? "%sConfID=%s&SessionID=%s&Module=1&ErrorCode=%d&OptInfo1=%s"
                                : "%sConfID=%s&SessionID=%s&Module=1&ErrorCode=%d";
        break;
    case BASE_AMPERSAND:
        lpszFormat = lpszDetail ? "%s&ConfID=%s&SessionID=%s&Module=1&ErrorCode=%d&OptInfo1=%s"
                                : "%s&ConfID=%s&SessionID=%s&Module=1&ErrorCode=%d";
        break;
    case BASE_QUESTION:
        lpszFormat = lpszDetail ? "%s?ConfID=%s&SessionID=%s&Module=1&ErrorCode=%d&OptInfo1=%s"
                                : "%s?ConfID=%s&SessionID=%s&Module=1&ErrorCode=%d";
        break;
    case BASE_NOT_RIGHT:
        // No joiner makes a usable address of it: the request stays empty.
        return true;
    }
    const std::string meeting = EscapeQueryValue(lpszMeeting);
    const std::string session = EscapeQueryValue(lpszSession);
    const std::string detail = lpszDetail ? EscapeQueryValue(lpszDetail) : std::string();
    int n = lpszDetail ? std::snprintf(lpszOut, nSize, lpszFormat, lpszBase, meeting.c_str(), session.c_str(),
                                       nErrorCode, detail.c_str())
                       : std::snprintf(lpszOut, nSize, lpszFormat, lpszBase, meeting.c_str(), session.c_str(),
                                       nErrorCode);
    if (n < 0 || n >= nSize) {
        lpszOut[0] = '\0';
        return false;
    }
    return true;
}

int ReportFailureToServer(const IGpcFeedbackSite* pSite, int nErrorCode, const char* lpszDetail)
{
    if (!pSite) return 0;
    GpcHostLink host = GetHostLink(pSite->GetCookie());
    if (!host.HasTable()) return 0;
    try {
        const char* lpszBase = host.GetParam("LoggingURL");
        const char* lpszMeeting = host.GetParam("MeetingID");
        const char* lpszSession = host.GetParam("SessionID");
        TraceMessage("QDL parameters: %s,%s,%s", lpszBase, lpszMeeting, lpszSession);
        if (!lpszBase || !lpszMeeting || !lpszSession) return 0;

        if (ClassifyBase(lpszBase) == BASE_NOT_RIGHT) TraceMessage("WARNING: LoggingURL is not right.");

        // Sized from what goes in, so no page value can overrun it: an
        // escaped byte takes three.
        size_t nSize = std::strlen(lpszBase) +
                       3 * (std::strlen(lpszMeeting) + std::strlen(lpszSession) +
                            (lpszDetail ? std::strlen(lpszDetail) : 0)) +
                       GPC_REQUEST_SLACK;
        if (nSize > 0x7FFFFFFF) throw std::bad_alloc();
        std::vector<char> request(nSize, '\0');
        if (!BuildReportRequest(lpszBase, lpszMeeting, lpszSession, nErrorCode, lpszDetail, request.data(),
                                static_cast<int>(nSize)))
            request[0] = '\0';

        int bSent = SendHttpRequest(request.data());
        TraceMessage("CVRGpcExtension:: Save the error message log to [%s] is [%s]", request.data(),
                     bSent ? "SUCCESS" : "FAILED");
        return 1;
    } catch (...) {
        TraceMessage("Write Log to server fails");
        return 0;
    }
}

int SendHttpRequest(const char* lpszUrl)
{
    if (!IsSendableReportUrl(lpszUrl)) return 0;
    CInternetHandle session(InternetOpenA("GPC", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.Get()) return 0;
    // The report runs on the host's thread and waits for the answer: every
    // phase is bounded so that a server that never answers cannot hold it
    // for ever.
    SetTimeouts(session.Get());

    const DWORD dwFlags = GetReportRequestFlags(lpszUrl);
    ReportRequest open;
    if (!OpenReportUrl(session.Get(), lpszUrl, dwFlags, &open)) return 0;

    int nCredentialRounds = 0;
    for (;;) {
        char achStatus[GPC_STATUS_TEXT] = {};
        DWORD dwLength = sizeof(achStatus) - 1;
        if (!HttpQueryInfoA(open.request.Get(), HTTP_QUERY_STATUS_CODE, achStatus, &dwLength, nullptr)) {
            TraceMessage("CVRGpcExtension:: HttpQueryInfo error code : %lu", GetLastError());
            return 0;
        }
        int nStatus = std::atoi(achStatus);

        if (nStatus == HTTP_STATUS_OK) {
            // The answer is read to the end and dropped.
            char achBody[GPC_BODY_PIECE];
            for (;;) {
                DWORD dwRead = 0;
                if (!InternetReadFile(open.request.Get(), achBody, sizeof(achBody), &dwRead)) return 0;
                if (dwRead == 0) return 1;
            }
        }
        if (nStatus == HTTP_STATUS_DENIED || nStatus == HTTP_STATUS_FORBIDDEN) {
            // The log server is the page's choice: a credentials prompt it
            // asks for would be its text over the host, holding the host's
            // thread. The report ends here.
            TraceMessage("CVRGpcExtension:: report refused by the server (status %d), no credentials asked for",
                         nStatus);
            return 0;
        }
        if (nStatus != HTTP_STATUS_PROXY_AUTH_REQ) return 0;
        if (!RequestGoesThroughProxy(open.request.Get(), session.Get())) {
            // Without a proxy the 407 is the server's own, and its prompt
            // would be the server's text as much as a 401's.
            TraceMessage("CVRGpcExtension:: report refused by the server (status %d), no credentials asked for",
                         nStatus);
            return 0;
        }

        // Only the system's proxy is asked about, so that reports behind an
        // authenticating proxy still arrive. The prompt asks for a retry
        // only when the user confirmed new credentials; anything else ends
        // the report. A user who keeps confirming is asked a few times at
        // most.
        if (nCredentialRounds++ >= GPC_REPORT_MAX_CREDENTIAL_ROUNDS) {
            TraceMessage("CVRGpcExtension:: credentials refused %d times, giving up", nCredentialRounds - 1);
            return 0;
        }
        DWORD dwPrompt = InternetErrorDlg(GetForegroundWindow(), open.request.Get(), ERROR_INTERNET_INCORRECT_PASSWORD,
                                          FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS,
                                          nullptr);
        if (dwPrompt == ERROR_CANCELLED) return 0;
        if (dwPrompt != ERROR_INTERNET_FORCE_RETRY) {
            TraceMessage("CVRGpcExtension:: InternetErrorDlg result : %lu", dwPrompt);
            return 0;
        }
        CarryProxyCredentials(open.request.Get(), session.Get());
        if (!OpenReportUrl(session.Get(), lpszUrl, dwFlags, &open)) return 0;
    }
}
