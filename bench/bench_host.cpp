#include "bench_host.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

CBenchHost* CBenchHost::s_pCurrent = nullptr;

namespace {

const char GPC_TRACER_CLASS[] = "GPCTracer";
const char GPC_PLUGIN_CLASS[] = "GpcBenchPluginWindow";

template <typename T>
T Resolve(HMODULE hModule, const char* lpszName)
{
    return reinterpret_cast<T>(GetProcAddress(hModule, lpszName));
}

void RegisterClasses(WNDPROC pfnTracer)
{
    static bool s_bDone = false;
    if (s_bDone) return;
    WNDCLASSA wc;
    std::memset(&wc, 0, sizeof(wc));
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpfnWndProc = pfnTracer;
    wc.lpszClassName = GPC_TRACER_CLASS;
    RegisterClassA(&wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = GPC_PLUGIN_CLASS;
    wc.cbWndExtra = sizeof(LONG_PTR);
    RegisterClassA(&wc);
    s_bDone = true;
}

// "http://server/dir/name.ext?random=123" -> "name.ext"
std::string FileNameOfUrl(const char* lpszUrl)
{
    std::string url = lpszUrl ? lpszUrl : "";
    size_t query = url.find('?');
    if (query != std::string::npos) url.erase(query);
    size_t slash = url.find_last_of('/');
    return slash == std::string::npos ? url : url.substr(slash + 1);
}

}  // namespace

CBenchExtension::CBenchExtension(const std::string& dllPath)
{
    m_hModule = LoadLibraryA(dllPath.c_str());
    if (!m_hModule) return;
    InitInstance = Resolve<PFN_Init>(m_hModule, "GpcInitInstance");
    ExitInstance = Resolve<PFN_Cookie>(m_hModule, "GpcExitInstance");
    Heartbeat = Resolve<PFN_Cookie>(m_hModule, "GpcHeartbeat");
    OdeDownload = Resolve<PFN_OdeDownload>(m_hModule, "GpcOdeDownload");
    OdeGetSectionIntegrity = Resolve<PFN_OdeIntegrity>(m_hModule, "GpcOdeGetSectionIntegrity");
    ActionNotify = Resolve<PFN_ActionNotify>(m_hModule, "GpcActionNotify");
    StdDownloadExt = Resolve<PFN_OdeDownload>(m_hModule, "GpcStdDownloadExt");
    OdeDownload2 = Resolve<PFN_OdeDownload2>(m_hModule, "GpcOdeDownload2");
    OdeGetSectionIntegrity2 = Resolve<PFN_OdeIntegrity2>(m_hModule, "GpcOdeGetSectionIntegrity2");
    OdeGetSectionIntegrityExt = Resolve<PFN_OdeIntegrity2>(m_hModule, "GpcOdeGetSectionIntegrityExt");
    OdeConfig = Resolve<PFN_OdeConfig>(m_hModule, "GpcOdeConfig");
    GetFileAtUrl = Resolve<PFN_GetFileAtUrl>(m_hModule, "GpcGetFileAtUrl");
    GetFileAtUrlEx = Resolve<PFN_GetFileAtUrlEx>(m_hModule, "GpcGetFileAtUrlEx");
    OpenLocation = Resolve<PFN_OpenLocation>(m_hModule, "GpcOpenLocation");
    CancelFileIndex = Resolve<PFN_CancelFileIndex>(m_hModule, "GpcCancelFileIndex");
}

CBenchExtension::~CBenchExtension()
{
    if (m_hModule) FreeLibrary(m_hModule);
}

bool CBenchExtension::IsLoaded() const
{
    return m_hModule && InitInstance && ExitInstance && Heartbeat && OdeDownload && OdeGetSectionIntegrity;
}

bool CBenchExtension::HasAllExports() const
{
    return IsLoaded() && ActionNotify && StdDownloadExt && OdeDownload2 && OdeGetSectionIntegrity2 &&
           OdeGetSectionIntegrityExt && OdeConfig && GetFileAtUrl && GetFileAtUrlEx && OpenLocation &&
           CancelFileIndex;
}

SIZE_T ProcessPrivateBytes()
{
    PROCESS_MEMORY_COUNTERS pmc;
    std::memset(&pmc, 0, sizeof(pmc));
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc))) return 0;
    return pmc.PagefileUsage;
}

int CountProcessHandles()
{
    int nCount = 0;
    int nMisses = 0;
    // Handle values are multiples of 4 handed out from the bottom; a long
    // run of free values means the table's end has been passed.
    for (ULONG_PTR v = 4; nMisses < 4096; v += 4) {
        DWORD dwFlags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(v), &dwFlags)) {
            ++nCount;
            nMisses = 0;
        } else {
            ++nMisses;
        }
    }
    return nCount;
}

CBenchHost::CBenchHost(const std::string& hostDir, const std::string& serverDir)
    : m_strHostDir(hostDir), m_strServerDir(serverDir)
{
    std::memset(&m_Table, 0, sizeof(m_Table));
    m_Table.HostPluginMarker = reinterpret_cast<FARPROC>(&CBenchHost::PluginMarker);
    m_Table.HostGetParamCount = &CBenchHost::GetParamCount;
    m_Table.HostGetParam = &CBenchHost::GetParam;
    m_Table.HostGetParamAt = &CBenchHost::GetParamAt;
    m_Table.HostNavigate = &CBenchHost::Navigate;
    m_Table.HostDownloadUrl = &CBenchHost::DownloadUrl;
    m_Table.HostUnpackFile = &CBenchHost::UnpackFile;
    m_Table.HostSetSocketCallback = &CBenchHost::SetSocketCallback;
    m_Table.HostGetWindow = &CBenchHost::GetWindow;
    m_Table.HostGetDirectory = &CBenchHost::GetDirectory;
    m_Table.HostSetInstance = &CBenchHost::SetInstance;
    m_Table.HostGetInstance = &CBenchHost::GetInstance;
    m_Table.HostShowMessage = &CBenchHost::ShowMessage;
    m_pCookie = reinterpret_cast<GpcCookie>(static_cast<ULONG_PTR>(0x00BE4C00));
    s_pCurrent = this;

    RegisterClasses(&CBenchHost::TracerProc);
    m_hTracer = CreateWindowA(GPC_TRACER_CLASS, "benchmark tracer", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    m_hPlugin = CreateWindowA(GPC_PLUGIN_CLASS, "benchmark plug-in", WS_OVERLAPPED, 0, 0, 400, 300, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (m_hPlugin) SetWindowLongPtrA(m_hPlugin, 0, reinterpret_cast<LONG_PTR>(m_pCookie));
}

CBenchHost::~CBenchHost()
{
    if (m_hPlugin) DestroyWindow(m_hPlugin);
    if (m_hTracer) DestroyWindow(m_hTracer);
    PumpMessages();
    if (s_pCurrent == this) s_pCurrent = nullptr;
}

void CBenchHost::SetParam(const std::string& name, const std::string& value)
{
    for (auto& p : m_Params) {
        if (p.first == name) {
            p.second = value;
            return;
        }
    }
    m_Params.emplace_back(name, value);
}

void CBenchHost::DropPending()
{
    m_Pending.clear();
    m_Held.clear();
}

size_t CBenchHost::DeliverDownloads()
{
    size_t nDelivered = 0;
    while (!m_Pending.empty()) {
        std::vector<PendingDownload> batch;
        batch.swap(m_Pending);
        for (const PendingDownload& d : batch) {
            if (d.delivery == HOLD) {
                m_Held.push_back(d);
                continue;
            }
            ULONG_PTR value = d.localPath.empty() || d.delivery == FAIL
                                  ? 0
                                  : reinterpret_cast<ULONG_PTR>(d.localPath.c_str());
            ++(value ? m_nDelivered : m_nFailed);
            if (d.callback) d.callback(nullptr, d.context, 0, value);
            ++nDelivered;
        }
    }
    return nDelivered;
}

void CBenchHost::PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void CBenchHost::ResetTrace()
{
    m_nTraceLines = 0;
    m_bDownloadDone = false;
}

LRESULT CALLBACK CBenchHost::TracerProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA && s_pCurrent) {
        const COPYDATASTRUCT* pData = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (pData && pData->lpData && pData->cbData) {
            // "(module:pid:tid)text": only the text after the prefix counts.
            const char* lpszLine = static_cast<const char*>(pData->lpData);
            size_t nLength = strnlen(lpszLine, pData->cbData);
            const char* lpszText = static_cast<const char*>(std::memchr(lpszLine, ')', nLength));
            ++s_pCurrent->m_nTraceLines;
            if (lpszText && std::string(lpszText + 1, lpszLine + nLength) == "Download is done")
                s_pCurrent->m_bDownloadDone = true;
            if (lpszText && s_pCurrent->m_pfnTraceHook) {
                std::string text(lpszText + 1, lpszLine + nLength);
                s_pCurrent->m_pfnTraceHook(s_pCurrent->m_pTraceHookContext, text.c_str());
            }
        }
        return TRUE;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

int WINAPI CBenchHost::PluginMarker()
{
    return 0;
}

int WINAPI CBenchHost::GetParamCount(GpcCookie)
{
    return s_pCurrent ? static_cast<int>(s_pCurrent->m_Params.size()) : 0;
}

const char* WINAPI CBenchHost::GetParam(GpcCookie, const char* lpszName)
{
    if (!s_pCurrent || !lpszName) return nullptr;
    for (const auto& p : s_pCurrent->m_Params) {
        if (p.first == lpszName) return p.second.c_str();
    }
    return nullptr;
}

int WINAPI CBenchHost::GetParamAt(GpcCookie, int nIndex, const char** ppName, const char** ppValue)
{
    if (!s_pCurrent || nIndex < 0 || nIndex >= static_cast<int>(s_pCurrent->m_Params.size())) return 0;
    if (ppName) *ppName = s_pCurrent->m_Params[nIndex].first.c_str();
    if (ppValue) *ppValue = s_pCurrent->m_Params[nIndex].second.c_str();
    return 1;
}

int WINAPI CBenchHost::Navigate(GpcCookie, const char*, const char*)
{
    return 0;
}

int WINAPI CBenchHost::DownloadUrl(GpcCookie, GpcDownloadCallback pfnCallback, void* pContext, const char* lpszUrl)
{
    if (!s_pCurrent) return -1;
    ++s_pCurrent->m_nDownloadRequests;
    PendingDownload d;
    d.callback = pfnCallback;
    d.context = pContext;
    std::string name = FileNameOfUrl(lpszUrl);
    std::string path = s_pCurrent->m_strServerDir + "\\" + name;
    // The server folder is flat: a name that climbs out of it is not there.
    bool bPlain = name.find_first_of("\\:") == std::string::npos && name != "." && name != "..";
    if (bPlain && !name.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) d.localPath = path;
    d.delivery = s_pCurrent->m_pfnChooser ? s_pCurrent->m_pfnChooser(s_pCurrent->m_pChooserContext, lpszUrl) : DELIVER;
    s_pCurrent->m_Pending.push_back(d);
    return 0;
}

// The benchmark's files are not compressed: unpacking is a plain copy, the
// same work as the floor the install is measured against.
int WINAPI CBenchHost::UnpackFile(GpcCookie, const char* lpszSource, const char* lpszDest)
{
    if (!lpszSource || !lpszDest) return -1;
    if (s_pCurrent && s_pCurrent->m_pfnUnpackHook)
        s_pCurrent->m_pfnUnpackHook(s_pCurrent->m_pUnpackHookContext, lpszSource, lpszDest);
    return CopyFileA(lpszSource, lpszDest, FALSE) ? 0 : -1;
}

int WINAPI CBenchHost::SetSocketCallback(GpcCookie, GpcSocketCallback, void*)
{
    return 0;
}

HWND WINAPI CBenchHost::GetWindow(GpcCookie)
{
    return s_pCurrent ? s_pCurrent->m_hPlugin : nullptr;
}

int WINAPI CBenchHost::GetDirectory(char* lpszBuffer, int nSize)
{
    if (!s_pCurrent || !lpszBuffer || nSize <= 0) return 0;
    lstrcpynA(lpszBuffer, s_pCurrent->m_strHostDir.c_str(), nSize);
    return 1;
}

int WINAPI CBenchHost::SetInstance(GpcCookie, void* pInstance)
{
    if (!s_pCurrent) return 0;
    s_pCurrent->m_pInstance = pInstance;
    return 1;
}

void* WINAPI CBenchHost::GetInstance(GpcCookie)
{
    return s_pCurrent ? s_pCurrent->m_pInstance : nullptr;
}

int WINAPI CBenchHost::ShowMessage(GpcCookie, const char* lpszText)
{
    std::fprintf(stderr, "host message: %s\n", lpszText ? lpszText : "");
    return 0;
}
