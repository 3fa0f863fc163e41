#include "fake_host.h"


#include <algorithm>
#include <cstring>

#include "lib/lz_expand.h"
#include "trace_capture.h"

FakeHost* FakeHost::s_pCurrent = nullptr;

namespace {
const char GPC_WINDOW_CLASS[] = "GpcFakeHostWindow";
int s_nHostSerial = 0;
}  // namespace

FakeHost::FakeHost()
{
    std::memset(&m_Table, 0, sizeof(m_Table));
    m_Table.HostPluginMarker = reinterpret_cast<FARPROC>(&FakeHost::PluginMarker);
    m_Table.HostGetParamCount = &FakeHost::GetParamCount;
    m_Table.HostGetParam = &FakeHost::GetParam;
    m_Table.HostGetParamAt = &FakeHost::GetParamAt;
    m_Table.HostNavigate = &FakeHost::Navigate;
    m_Table.HostDownloadUrl = &FakeHost::DownloadUrl;
    m_Table.HostUnpackFile = &FakeHost::UnpackFile;
    m_Table.HostSetSocketCallback = &FakeHost::SetSocketCallback;
    m_Table.HostGetWindow = &FakeHost::GetWindow;
    m_Table.HostGetDirectory = &FakeHost::GetDirectory;
    m_Table.HostSetInstance = &FakeHost::SetInstance;
    m_Table.HostGetInstance = &FakeHost::GetInstance;
    m_Table.HostShowMessage = &FakeHost::ShowMessage;
    m_pCookie = reinterpret_cast<GpcCookie>(static_cast<ULONG_PTR>(0x00C0FFEE));
    directory = MakeTempDir("host" + std::to_string(++s_nHostSerial));
    s_pCurrent = this;
}

FakeHost::~FakeHost()
{
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    if (s_pCurrent == this) s_pCurrent = nullptr;
}

FakeHost* FakeHost::Current()
{
    return s_pCurrent;
}

void FakeHost::SetParam(const std::string& name, const std::string& value)
{
    for (auto& p : m_Params) {
        if (p.first == name) {
            p.second = value;
            return;
        }
    }
    m_Params.emplace_back(name, value);
}

void FakeHost::RemoveParam(const std::string& name)
{
    m_Params.erase(std::remove_if(m_Params.begin(), m_Params.end(),
                                  [&](const std::pair<std::string, std::string>& p) { return p.first == name; }),
                   m_Params.end());
}

void FakeHost::SetPluginMarker(bool bPresent)
{
    m_Table.HostPluginMarker = bPresent ? reinterpret_cast<FARPROC>(&FakeHost::PluginMarker) : nullptr;
}

void FakeHost::NullSlot(int nSlot)
{
    if (nSlot < 0 || nSlot >= 20) return;
    reinterpret_cast<void**>(&m_Table)[nSlot] = nullptr;
}

void FakeHost::Progress(size_t i, DWORD dwBytes)
{
    if (i >= downloads.size()) return;
    Download d = downloads[i];  // the callback may add downloads
    if (d.callback) d.callback(nullptr, d.context, 1, dwBytes);
}

void FakeHost::Complete(size_t i, const char* lpszLocalPath)
{
    if (i >= downloads.size() || downloads[i].completed) return;
    downloads[i].completed = true;
    Download d = downloads[i];
    if (d.callback) d.callback(nullptr, d.context, 0, reinterpret_cast<ULONG_PTR>(lpszLocalPath));
}

int FakeHost::FindDownload(const std::string& text) const
{
    for (size_t i = 0; i < downloads.size(); ++i) {
        if (downloads[i].url.find(text) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
}

HWND FakeHost::Window()
{
    if (m_hWnd && IsWindow(m_hWnd)) return m_hWnd;
    static bool s_bRegistered = false;
    if (!s_bRegistered) {
        WNDCLASSA wc;
        std::memset(&wc, 0, sizeof(wc));
        wc.lpfnWndProc = &FakeHost::WindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = GPC_WINDOW_CLASS;
        wc.cbWndExtra = sizeof(LONG_PTR);
        RegisterClassA(&wc);
        s_bRegistered = true;
    }
    m_hWnd = CreateWindowA(GPC_WINDOW_CLASS, "fake plug-in window", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
    if (m_hWnd) SetWindowLongPtrA(m_hWnd, 0, reinterpret_cast<LONG_PTR>(m_pCookie));
    return m_hWnd;
}

void FakeHost::PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

LRESULT CALLBACK FakeHost::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    FakeHost* pHost = s_pCurrent;
    if (pHost && hWnd == pHost->m_hWnd && (uMsg >= WM_USER || uMsg == WM_SIZE)) {
        pHost->windowMessages.push_back({uMsg, wParam, lParam});
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

int WINAPI FakeHost::PluginMarker()
{
    return 0;
}

int WINAPI FakeHost::GetParamCount(GpcCookie)
{
    return s_pCurrent ? static_cast<int>(s_pCurrent->m_Params.size()) : 0;
}

const char* WINAPI FakeHost::GetParam(GpcCookie, const char* lpszName)
{
    if (!s_pCurrent || !lpszName) return nullptr;
    for (const auto& p : s_pCurrent->m_Params) {
        if (p.first == lpszName) return p.second.c_str();
    }
    return nullptr;
}

int WINAPI FakeHost::GetParamAt(GpcCookie, int nIndex, const char** ppName, const char** ppValue)
{
    if (!s_pCurrent || nIndex < 0 || nIndex >= static_cast<int>(s_pCurrent->m_Params.size())) return 0;
    if (ppName) *ppName = s_pCurrent->m_Params[nIndex].first.c_str();
    if (ppValue) *ppValue = s_pCurrent->m_Params[nIndex].second.c_str();
    return 1;
}

int WINAPI FakeHost::Navigate(GpcCookie pCookie, const char* lpszTarget, const char* lpszUrl)
{
    if (s_pCurrent) s_pCurrent->navigations.push_back({pCookie, lpszTarget ? lpszTarget : "", lpszUrl ? lpszUrl : ""});
    return 0;
}

int WINAPI FakeHost::DownloadUrl(GpcCookie pCookie, GpcDownloadCallback pfnCallback, void* pContext,
                                 const char* lpszUrl)
{
    if (!s_pCurrent) return -1;
    Download d;
    d.cookie = pCookie;
    d.callback = pfnCallback;
    d.context = pContext;
    d.url = lpszUrl ? lpszUrl : "";
    s_pCurrent->downloads.push_back(d);
    return s_pCurrent->downloadResult;
}

int WINAPI FakeHost::UnpackFile(GpcCookie pCookie, const char* lpszSource, const char* lpszDest)
{
    if (!s_pCurrent) return -1;
    s_pCurrent->unpacks.push_back({pCookie, lpszSource ? lpszSource : "", lpszDest ? lpszDest : ""});
    if (s_pCurrent->unpackResult >= 0) return s_pCurrent->unpackResult;
    int nResult = GpcExpandFile(lpszSource, lpszDest);
    if (s_pCurrent->onUnpacked) s_pCurrent->onUnpacked(lpszDest ? lpszDest : "");
    return nResult;
}

int WINAPI FakeHost::SetSocketCallback(GpcCookie, GpcSocketCallback pfnCallback, void* pContext)
{
    if (!s_pCurrent) return 0;
    s_pCurrent->socketCallback = pfnCallback;
    s_pCurrent->socketContext = pContext;
    ++s_pCurrent->socketCallbackCalls;
    return 0;
}

HWND WINAPI FakeHost::GetWindow(GpcCookie)
{
    if (!s_pCurrent || !s_pCurrent->provideWindow) return nullptr;
    return s_pCurrent->Window();
}

int WINAPI FakeHost::GetDirectory(char* lpszBuffer, int nSize)
{
    if (!s_pCurrent || !lpszBuffer || nSize <= 0) return 0;
    lstrcpynA(lpszBuffer, s_pCurrent->directory.c_str(), nSize);
    return 1;
}

int WINAPI FakeHost::SetInstance(GpcCookie pCookie, void* pInstance)
{
    if (!s_pCurrent) return 0;
    if (pInstance)
        s_pCurrent->instances[pCookie] = pInstance;
    else
        s_pCurrent->instances.erase(pCookie);
    return 1;
}

void* WINAPI FakeHost::GetInstance(GpcCookie pCookie)
{
    if (!s_pCurrent) return nullptr;
    ++s_pCurrent->getInstanceCalls;
    auto it = s_pCurrent->instances.find(pCookie);
    return it == s_pCurrent->instances.end() ? nullptr : it->second;
}

int WINAPI FakeHost::ShowMessage(GpcCookie pCookie, const char* lpszText)
{
    if (s_pCurrent) s_pCurrent->messages.push_back({pCookie, lpszText ? lpszText : ""});
    return 0;
}
