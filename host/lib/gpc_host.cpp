#include "gpc_host.h"

#include "lz_expand.h"

#include <wininet.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

CGpcHost* CGpcHost::s_pHost = nullptr;

namespace {

const char GPC_FRAME_CLASS[] = "GpcHostFrame";
const char GPC_PLUGIN_CLASS[] = "GpcHostPlugin";
const char GPC_TRACER_CLASS[] = "GPCTracer";

enum {
    WM_HOST_PROGRESS = WM_APP + 1,  // wParam: download id, lParam: bytes
    WM_HOST_DONE = WM_APP + 2,      // wParam: download id, lParam: heap path or 0
    TIMER_HEARTBEAT = 1,
    TIMER_DEADLINE = 2,
    TIMER_END = 3,
};

typedef int(WINAPI* PFN_Init)(GpcCookie, GpcHostTable*);
typedef int(WINAPI* PFN_Cookie)(GpcCookie);
typedef int(WINAPI* PFN_Integrity)(GpcCookie, const char*, const char*);
typedef int(WINAPI* PFN_OdeDownload)(GpcCookie, const char*, const char*, GpcOdeCallback, void*);

struct InternetHandle {
    HINTERNET h = nullptr;
    ~InternetHandle() { if (h) InternetCloseHandle(h); }
};

bool IsHttpUrl(const std::string& s)
{
    return s.compare(0, 7, "http://") == 0 || s.compare(0, 8, "https://") == 0;
}

std::string LocalPathOf(const std::string& url)
{
    if (url.compare(0, 8, "file:///") == 0) return url.substr(8);
    if (url.compare(0, 7, "file://") == 0) return url.substr(7);
    return url;
}

std::string ExeDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    size_t pos = s.find_last_of('\\');
    return pos == std::string::npos ? std::string(".") : s.substr(0, pos);
}

// Fetches an http(s) URL into memory-less streaming: calls sink for each piece.
// Returns true when the whole body arrived with status 200.
template <typename Sink>
bool FetchUrl(const std::string& url, volatile LONG* pCancelled, Sink sink)
{
    InternetHandle session;
    session.h = InternetOpenA("GpcHost", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!session.h) return false;
    DWORD timeout = 15000;
    InternetSetOptionA(session.h, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    InternetSetOptionA(session.h, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    InternetSetOptionA(session.h, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));
    InternetHandle request;
    request.h = InternetOpenUrlA(session.h, url.c_str(), nullptr, 0,
                                 INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
    if (!request.h) return false;
    DWORD status = 0, len = sizeof(status);
    if (!HttpQueryInfoA(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr) ||
        status != 200)
        return false;
    DWORD expected = 0;
    len = sizeof(expected);
    bool bKnownLength =
        HttpQueryInfoA(request.h, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &expected, &len, nullptr) != 0;
    DWORD total = 0;
    char buffer[16384];
    for (;;) {
        if (pCancelled && *pCancelled) return false;
        DWORD got = 0;
        if (!InternetReadFile(request.h, buffer, sizeof(buffer), &got)) return false;
        if (got == 0) break;
        total += got;
        if (!sink(buffer, got)) return false;
    }
    // A connection closed before the announced length is a failed download.
    return !bKnownLength || total == expected;
}

}  // namespace

struct CGpcHost::DownloadTask {
    int nId = 0;
    std::string url;
    GpcDownloadCallback pfnCallback = nullptr;
    void* pContext = nullptr;
    HWND hNotify = nullptr;
    volatile LONG lCancelled = 0;
    HANDLE hThread = nullptr;
};

CGpcHost::CGpcHost(const GpcHostOptions& options) : m_Options(options)
{
    std::memset(&m_Table, 0, sizeof(m_Table));
    if (m_Options.pluginHost) m_Table.HostPluginMarker = reinterpret_cast<FARPROC>(&CGpcHost::PluginMarker);
    m_Table.HostGetParamCount = &CGpcHost::GetParamCount;
    m_Table.HostGetParam = &CGpcHost::GetParam;
    m_Table.HostGetParamAt = &CGpcHost::GetParamAt;
    m_Table.HostNavigate = &CGpcHost::Navigate;
    m_Table.HostDownloadUrl = &CGpcHost::DownloadUrl;
    m_Table.HostUnpackFile = &CGpcHost::UnpackFile;
    m_Table.HostSetSocketCallback = &CGpcHost::SetSocketCallback;
    m_Table.HostGetWindow = &CGpcHost::GetWindow;
    m_Table.HostGetDirectory = &CGpcHost::GetDirectory;
    m_Table.HostSetInstance = &CGpcHost::SetInstance;
    m_Table.HostGetInstance = &CGpcHost::GetInstance;
    m_Table.HostShowMessage = &CGpcHost::ShowMessage;
    m_pCookie = reinterpret_cast<GpcCookie>(static_cast<ULONG_PTR>(0x47504300));
    if (m_Options.dllPath.empty()) m_Options.dllPath = ExeDir() + "\\vrgpcext.dll";
    if (m_Options.directory.empty()) m_Options.directory = ExeDir();
    s_pHost = this;
}

CGpcHost::~CGpcHost()
{
    CancelDownloads(0);
    for (auto& d : m_Downloads) {
        if (d.second->hThread) {
            WaitForSingleObject(d.second->hThread, 20000);
            CloseHandle(d.second->hThread);
        }
        delete d.second;
    }
    if (m_hTracer) DestroyWindow(m_hTracer);
    if (m_hFrame && IsWindow(m_hFrame)) DestroyWindow(m_hFrame);
    if (m_hExtension) FreeLibrary(m_hExtension);
    if (s_pHost == this) s_pHost = nullptr;
}

void CGpcHost::Print(const char* lpszFormat, ...)
{
    char buffer[4096];
    va_list args;
    va_start(args, lpszFormat);
    _vsnprintf(buffer, sizeof(buffer) - 1, lpszFormat, args);
    va_end(args);
    buffer[sizeof(buffer) - 1] = '\0';
    std::fputs(buffer, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool CGpcHost::LoadPage()
{
    std::string html;
    if (IsHttpUrl(m_Options.page)) {
        bool ok = FetchUrl(m_Options.page, nullptr, [&](const char* p, DWORD n) {
            html.append(p, n);
            return html.size() < (4u << 20);
        });
        if (!ok) {
            Print("host: could not fetch the page %s", m_Options.page.c_str());
            return false;
        }
    } else {
        std::ifstream f(LocalPathOf(m_Options.page), std::ios::binary);
        if (!f) {
            Print("host: could not open the page %s", m_Options.page.c_str());
            return false;
        }
        std::ostringstream os;
        os << f.rdbuf();
        html = os.str();
    }
    if (!ParsePageParams(html, &m_Params)) {
        Print("host: the page has no <object> or <embed> element for the extension");
        return false;
    }
    Print("host: page %s gives %d parameters", m_Options.page.c_str(), static_cast<int>(m_Params.size()));
    return true;
}

bool CGpcHost::CreateWindows()
{
    HINSTANCE hInst = GetModuleHandleA(nullptr);
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof(wc));
    wc.hInstance = hInst;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpfnWndProc = &CGpcHost::FrameProc;
    wc.lpszClassName = GPC_FRAME_CLASS;
    RegisterClassA(&wc);
    wc.lpfnWndProc = &CGpcHost::PluginProc;
    wc.lpszClassName = GPC_PLUGIN_CLASS;
    wc.cbWndExtra = sizeof(LONG_PTR);
    RegisterClassA(&wc);
    wc.lpfnWndProc = &CGpcHost::TracerProc;
    wc.lpszClassName = GPC_TRACER_CLASS;
    wc.cbWndExtra = 0;
    wc.hbrBackground = nullptr;
    RegisterClassA(&wc);

    m_hFrame = CreateWindowA(GPC_FRAME_CLASS, "GPC Host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 300, 100, 640, 480,
                             nullptr, nullptr, hInst, nullptr);
    if (!m_hFrame) return false;
    RECT rc;
    GetClientRect(m_hFrame, &rc);
    m_hPlugin = CreateWindowA(GPC_PLUGIN_CLASS, "plug-in", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                              rc.right - rc.left, rc.bottom - rc.top, m_hFrame, nullptr, hInst, nullptr);
    if (!m_hPlugin) return false;
    SetWindowLongPtrA(m_hPlugin, 0, reinterpret_cast<LONG_PTR>(m_pCookie));
    m_hTracer = CreateWindowA(GPC_TRACER_CLASS, "tracer", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, hInst, nullptr);
    ShowWindow(m_hFrame, SW_SHOW);
    UpdateWindow(m_hFrame);
    return true;
}

int CGpcHost::Run()
{
    if (!CreateWindows()) {
        Print("host: could not create the host windows (error %lu)", GetLastError());
        return 2;
    }
    m_hExtension = LoadLibraryA(m_Options.dllPath.c_str());
    if (!m_hExtension) {
        Print("host: could not load %s (error %lu)", m_Options.dllPath.c_str(), GetLastError());
        return 2;
    }
    PFN_Init pfnInit = reinterpret_cast<PFN_Init>(GetProcAddress(m_hExtension, "GpcInitInstance"));
    PFN_Cookie pfnHeartbeat = reinterpret_cast<PFN_Cookie>(GetProcAddress(m_hExtension, "GpcHeartbeat"));
    PFN_Cookie pfnExit = reinterpret_cast<PFN_Cookie>(GetProcAddress(m_hExtension, "GpcExitInstance"));
    if (!pfnInit || !pfnHeartbeat || !pfnExit) {
        Print("host: %s lacks the extension's exports", m_Options.dllPath.c_str());
        return 2;
    }

    int nInit = pfnInit(m_pCookie, &m_Table);
    Print("host: GpcInitInstance answered %d", nInit);
    if (nInit != 0) return 2;

    SetTimer(m_hFrame, TIMER_HEARTBEAT, m_Options.heartbeatMs, nullptr);
    SetTimer(m_hFrame, TIMER_DEADLINE, m_Options.seconds * 1000, nullptr);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == m_hFrame && msg.wParam == TIMER_HEARTBEAT) {
            pfnHeartbeat(m_pCookie);
            if (m_bDownloadDone && !m_Options.odeSection.empty() && !m_bOdeStarted) StartOde();
            bool bOdeWaiting = !m_Options.odeSection.empty() && !m_bOdeFinished;
            if (m_bUntilSeen && !bOdeWaiting && !m_bEndScheduled) {
                // At least one more beat, so that work queued by the matching line completes.
                m_bEndScheduled = true;
                SetTimer(m_hFrame, TIMER_END, m_Options.heartbeatMs + m_Options.lingerMs, nullptr);
            }
            continue;
        }
        if (msg.message == WM_TIMER && msg.hwnd == m_hFrame && msg.wParam == TIMER_END) {
            pfnHeartbeat(m_pCookie);
            break;
        }
        if (msg.message == WM_TIMER && msg.hwnd == m_hFrame && msg.wParam == TIMER_DEADLINE) {
            Print("host: time limit of %lu seconds reached", m_Options.seconds);
            if (!m_Options.until.empty() && !m_bUntilSeen) m_nExitCode = 3;
            break;
        }
        if (!IsDialogMessageA(GetActiveWindow(), &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (msg.message == WM_QUIT) Print("host: window closed");

    pfnExit(m_pCookie);
    Print("host: GpcExitInstance done");
    CancelDownloads(0);
    return m_nExitCode;
}

void CGpcHost::StartOde()
{
    m_bOdeStarted = true;
    PFN_Integrity pfnIntegrity =
        reinterpret_cast<PFN_Integrity>(GetProcAddress(m_hExtension, "GpcOdeGetSectionIntegrity"));
    PFN_OdeDownload pfnDownload = reinterpret_cast<PFN_OdeDownload>(GetProcAddress(m_hExtension, "GpcOdeDownload"));
    const char* section = m_Options.odeSection.c_str();
    int nIntegrity = pfnIntegrity ? pfnIntegrity(m_hPlugin, nullptr, section) : -1;
    Print("host: section %s integrity %d", section, nIntegrity);
    int nStarted = pfnDownload ? pfnDownload(m_hPlugin, nullptr, section, &CGpcHost::OnOdeNotice, this) : -1;
    Print("host: on-demand download of %s answered %d", section, nStarted);
    if (nStarted != 1) m_bOdeFinished = true;
}

void WINAPI CGpcHost::OnOdeNotice(void* pContext, int nKind, const char* lpszFile, const char* lpszSection,
                                  int nResult, GpcOdeFileInfo* pInfo)
{
    CGpcHost* pHost = static_cast<CGpcHost*>(pContext);
    if (!pHost) pHost = s_pHost;
    if (!pHost) return;
    if (nKind == GPC_ODE_PROGRESS) return;
    pHost->Print("ode: kind=%d file=%s section=%s result=%d unpacked=%s", nKind, lpszFile ? lpszFile : "-",
                 lpszSection ? lpszSection : "-", nResult,
                 (pInfo && pInfo->lpszUnpackedFile) ? pInfo->lpszUnpackedFile : "-");
    if (nKind == GPC_ODE_SECTION_DONE || (!pContext && nResult == -1)) pHost->m_bOdeFinished = true;
}

void CGpcHost::OnTraceLine(const char* lpszLine)
{
    const char* text = std::strchr(lpszLine, ')');
    text = text ? text + 1 : lpszLine;
    if (!m_Options.quietTrace) Print("trace: %s", text);
    if (std::strcmp(text, "Download is done") == 0) m_bDownloadDone = true;
    if (!m_Options.until.empty() && std::strstr(text, m_Options.until.c_str())) m_bUntilSeen = true;
}

void CGpcHost::OnDownloadProgress(int nId, DWORD dwBytes)
{
    auto it = m_Downloads.find(nId);
    if (it == m_Downloads.end()) return;
    DownloadTask* t = it->second;
    if (t->pfnCallback) t->pfnCallback(nullptr, t->pContext, 1, dwBytes);
}

void CGpcHost::OnDownloadDone(int nId, char* lpszPath)
{
    auto it = m_Downloads.find(nId);
    if (it == m_Downloads.end()) {
        if (lpszPath) {
            DeleteFileA(lpszPath);
            free(lpszPath);
        }
        return;
    }
    DownloadTask* t = it->second;
    Print(lpszPath ? "host: downloaded %s" : "host: download failed %s", t->url.c_str());
    if (t->pfnCallback) t->pfnCallback(nullptr, t->pContext, 0, reinterpret_cast<ULONG_PTR>(lpszPath));
    if (lpszPath) {
        DeleteFileA(lpszPath);  // the extension has unpacked or copied what it needs
        free(lpszPath);
    }
    if (t->hThread) {
        WaitForSingleObject(t->hThread, 5000);
        CloseHandle(t->hThread);
    }
    m_Downloads.erase(it);
    delete t;
}

void CGpcHost::CancelDownloads(int nIndex)
{
    for (auto& d : m_Downloads) {
        if (nIndex <= 0 || d.first == nIndex) InterlockedExchange(&d.second->lCancelled, 1);
    }
}

DWORD WINAPI CGpcHost::DownloadThread(LPVOID pParam)
{
    DownloadTask* t = static_cast<DownloadTask*>(pParam);
    char tempDir[MAX_PATH], tempFile[MAX_PATH];
    GetTempPathA(MAX_PATH, tempDir);
    bool ok = GetTempFileNameA(tempDir, "GPH", 0, tempFile) != 0;
    if (ok) {
        FILE* f = std::fopen(tempFile, "wb");
        ok = f != nullptr;
        if (f) {
            auto sink = [&](const char* p, DWORD n) {
                if (std::fwrite(p, 1, n, f) != n) return false;
                PostMessageA(t->hNotify, WM_HOST_PROGRESS, static_cast<WPARAM>(t->nId), static_cast<LPARAM>(n));
                return true;
            };
            if (IsHttpUrl(t->url)) {
                ok = FetchUrl(t->url, &t->lCancelled, sink);
            } else {
                std::ifstream in(LocalPathOf(t->url), std::ios::binary);
                ok = static_cast<bool>(in);
                char buffer[16384];
                while (ok && in) {
                    in.read(buffer, sizeof(buffer));
                    std::streamsize got = in.gcount();
                    if (got > 0) ok = sink(buffer, static_cast<DWORD>(got));
                    if (t->lCancelled) ok = false;
                }
            }
            if (std::fclose(f) != 0) ok = false;
        }
        if (!ok) DeleteFileA(tempFile);  // never hand on a half-written file
    }
    char* path = ok ? _strdup(tempFile) : nullptr;
    if (!PostMessageA(t->hNotify, WM_HOST_DONE, static_cast<WPARAM>(t->nId), reinterpret_cast<LPARAM>(path))) {
        if (path) {
            DeleteFileA(path);
            free(path);
        }
    }
    return 0;
}

LRESULT CALLBACK CGpcHost::FrameProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CGpcHost* pHost = s_pHost;
    switch (uMsg) {
    case WM_HOST_PROGRESS:
        if (pHost) pHost->OnDownloadProgress(static_cast<int>(wParam), static_cast<DWORD>(lParam));
        return 0;
    case WM_HOST_DONE:
        if (pHost) pHost->OnDownloadDone(static_cast<int>(wParam), reinterpret_cast<char*>(lParam));
        return 0;
    case WM_SIZE:
        if (pHost && pHost->m_hPlugin) MoveWindow(pHost->m_hPlugin, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
}

LRESULT CALLBACK CGpcHost::PluginProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CGpcHost* pHost = s_pHost;
    if (uMsg == GPC_WM_CANCEL_DOWNLOAD && pHost) {
        pHost->Print("host: cancel requested for download %d", static_cast<int>(wParam));
        pHost->CancelDownloads(static_cast<int>(wParam));
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CGpcHost::TracerProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA && s_pHost) {
        const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (cds && cds->lpData && cds->cbData) {
            std::string line(static_cast<const char*>(cds->lpData), strnlen(static_cast<const char*>(cds->lpData),
                                                                            cds->cbData));
            s_pHost->OnTraceLine(line.c_str());
        }
        return TRUE;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

int WINAPI CGpcHost::PluginMarker()
{
    return 0;
}

int WINAPI CGpcHost::GetParamCount(GpcCookie)
{
    return s_pHost ? static_cast<int>(s_pHost->m_Params.size()) : 0;
}

const char* WINAPI CGpcHost::GetParam(GpcCookie, const char* lpszName)
{
    if (!s_pHost || !lpszName) return nullptr;
    for (const auto& p : s_pHost->m_Params) {
        if (lstrcmpiA(p.first.c_str(), lpszName) == 0) return p.second.c_str();
    }
    return nullptr;
}

int WINAPI CGpcHost::GetParamAt(GpcCookie, int nIndex, const char** ppName, const char** ppValue)
{
    if (!s_pHost || nIndex < 0 || nIndex >= static_cast<int>(s_pHost->m_Params.size())) return 0;
    if (ppName) *ppName = s_pHost->m_Params[nIndex].first.c_str();
    if (ppValue) *ppValue = s_pHost->m_Params[nIndex].second.c_str();
    return 1;
}

int WINAPI CGpcHost::Navigate(GpcCookie, const char* lpszTarget, const char* lpszUrl)
{
    if (s_pHost) s_pHost->Print("host: navigate %s to %s", lpszTarget ? lpszTarget : "-", lpszUrl ? lpszUrl : "-");
    return 0;
}

int WINAPI CGpcHost::DownloadUrl(GpcCookie, GpcDownloadCallback pfnCallback, void* pContext, const char* lpszUrl)
{
    if (!s_pHost || !lpszUrl) return 1;
    DownloadTask* t = new DownloadTask;
    t->nId = s_pHost->m_nNextDownload++;
    t->url = lpszUrl;
    t->pfnCallback = pfnCallback;
    t->pContext = pContext;
    t->hNotify = s_pHost->m_hFrame;
    s_pHost->Print("host: download %d %s", t->nId, lpszUrl);
    s_pHost->m_Downloads[t->nId] = t;
    t->hThread = CreateThread(nullptr, 0, &CGpcHost::DownloadThread, t, 0, nullptr);
    if (!t->hThread) {
        s_pHost->m_Downloads.erase(t->nId);
        delete t;
        return 1;
    }
    return 0;
}

int WINAPI CGpcHost::UnpackFile(GpcCookie, const char* lpszSource, const char* lpszDest)
{
    int nResult = GpcExpandFile(lpszSource, lpszDest);
    if (s_pHost && lpszSource && lpszDest)
        s_pHost->Print("host: unpack %s -> %s (%s)", lpszSource, lpszDest, nResult < 0 ? "failed" : "ok");
    return nResult;
}

int WINAPI CGpcHost::SetSocketCallback(GpcCookie, GpcSocketCallback, void*)
{
    if (s_pHost) s_pHost->Print("host: socket callback set");
    return 0;
}

HWND WINAPI CGpcHost::GetWindow(GpcCookie)
{
    return s_pHost ? s_pHost->m_hPlugin : nullptr;
}

int WINAPI CGpcHost::GetDirectory(char* lpszBuffer, int nSize)
{
    if (!s_pHost || !lpszBuffer || nSize <= 0) return 0;
    lstrcpynA(lpszBuffer, s_pHost->m_Options.directory.c_str(), nSize);
    return 1;
}

int WINAPI CGpcHost::SetInstance(GpcCookie pCookie, void* pInstance)
{
    if (!s_pHost) return 0;
    if (pInstance)
        s_pHost->m_Instances[pCookie] = pInstance;
    else
        s_pHost->m_Instances.erase(pCookie);
    return 1;
}

void* WINAPI CGpcHost::GetInstance(GpcCookie pCookie)
{
    if (!s_pHost) return nullptr;
    auto it = s_pHost->m_Instances.find(pCookie);
    return it == s_pHost->m_Instances.end() ? nullptr : it->second;
}

int WINAPI CGpcHost::ShowMessage(GpcCookie, const char* lpszText)
{
    if (!s_pHost) return 0;
    s_pHost->Print("host: message: %s", lpszText ? lpszText : "");
    if (s_pHost->m_Options.messageBoxes) MessageBoxA(s_pHost->m_hFrame, lpszText ? lpszText : "", "GPC Host", MB_OK);
    return 0;
}
