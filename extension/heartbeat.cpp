// The heartbeat state machine, the network monitor and shut-down.
#include "extension/extension.h"

#include <new>

#include "feedback/messages.h"
#include "feedback/progress.h"
#include "feedback/trace.h"
#include "npvrgpc/module_state.h"

namespace {

// Values the network monitor expects from this extension.
enum { GPC_NETMON_PLUGIN_VERSION = 62, GPC_NETMON_START_MODE = 1 };

// An export of the monitor as the pointer type its caller knows.
template <typename T>
T ResolveEntry(HMODULE hModule, const char* lpszName)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hModule, lpszName)));
}

bool IsPluginHost()
{
    return GetHostLink(g_pGpcCookie).HasPluginMarker();
}

// The message window, when there is one, holds the heartbeat while the user
// still reads it.
bool MessageWindowOpen(HWND hWnd)
{
    return hWnd && IsWindow(hWnd) && IsWindowVisible(hWnd);
}

}  // namespace

void CVRGpcExtension::Heartbeat()
{
    if (m_bShuttingDown) return;

    if (m_bFailed && m_bStdDownload && !MessageWindowOpen(m_hMessageWnd) && m_pfnOdeFailureCallback) {
        // An on-demand request was halted by the update settings: its
        // caller hears of it on every beat.
        m_pfnOdeFailureCallback(nullptr, GPC_ODE_FILE_DONE, nullptr, nullptr, -1, nullptr);
    }

    // A failed start-up shows no progress any more: left up, the window
    // would stay on top until exit, and its Cancel would report a user
    // cancel for what was a failure.
    if (m_bFailed && m_InstallationMgr.ProgressWindow) CloseProgressWindow(&m_InstallationMgr.ProgressWindow);

    if (!m_bReady || m_bFailed || MessageWindowOpen(m_hMessageWnd) || m_bStdDownload) return;

    if (!m_bComponentLoadStarted) {
        if (m_bSuppressInstallation) {
            TraceMessage("Suppress installation:load component");
            m_bComponentLoadStarted = 1;
            LoadMainComponent();
            m_bMainComponentLoaded = 1;
        } else {
            const char* lpszComponent = GetParam("GpcComponentName");
            if (m_InstallationMgr.IsMainComponentReady(lpszComponent ? lpszComponent : "")) {
                TraceMessage("Main component is ready to be loaded");
                m_bComponentLoadStarted = 1;
                // A file refused before it ran fails the start-up: the
                // component is not loaded after it.
                if (m_InstallationMgr.DoActionsForMainComponent(lpszComponent ? lpszComponent : "") && !m_bFailed) {
                    LoadMainComponent();
                }
                m_bMainComponentLoaded = 1;
            }
        }
    }

    // A component that failed to load ends the run here, like any other
    // fatal failure: nothing more is registered, started or announced.
    if (m_bFailed) return;

    if (m_bComponentLoadStarted && !m_bDownloadDone && m_InstallationMgr.AllItemsSettled()) {
        TraceMessage("Download is done");
        m_bDownloadDone = 1;
        if (!m_bSuppressInstallation) {
            const char* lpszComponent = GetParam("GpcComponentName");
            m_InstallationMgr.DoActionsAfterMainComponent(lpszComponent ? lpszComponent : "");
        }
        StartNetMonitor();
        HandleNotification(2, 0);
    }
}

void CVRGpcExtension::SuppressedStart()
{
    const char* lpszComponent = GetParam("GpcComponentName");
    if (!lpszComponent) {
        ShowErrorMessage(this, GPC_MSG_NO_COMPONENT_NAME);
        m_bFailed = 1;
        return;
    }

    char achDir[GPC_MAX_PATH];
    GetProductDir(achDir, 0);
    m_InstallationMgr.DefaultInstallDir.Assign(achDir);
    TraceMessage("Suppress installation:init installation manager");

    GpcInstallItem* pItem = new (std::nothrow) GpcInstallItem(this);
    if (pItem) {
        pItem->SourceName.Assign(lpszComponent);
        pItem->State = ITEM_DONE;
        if (!m_InstallationMgr.AddItem(pItem)) delete pItem;
    }
    m_bReady = 1;
}

void CVRGpcExtension::StartNetMonitor()
{
    if (!IsPluginHost() || m_hNetMonitor) return;

    char achPath[GPC_MAX_PATH];
    GetProductDir(achPath, 0);
    if (!AppendPathComponent(achPath, sizeof(achPath), "VRNETEXT.DLL")) return;
    char achShort[GPC_MAX_PATH];
    DWORD dwLen = GetShortPathNameA(achPath, achShort, sizeof(achShort));
    if (dwLen && dwLen < sizeof(achShort)) GpcCopyString(achPath, sizeof(achPath), achShort);

    // The monitor is optional: without it the extension runs unchanged.
    UINT nOldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    m_hNetMonitor.Reset(LoadLibraryA(achPath));
    SetErrorMode(nOldMode);
    if (!m_hNetMonitor) return;

    m_pfnNSpySetPluginVersion =
        ResolveEntry<PFN_NSpySetPluginVersion>(m_hNetMonitor.Get(), "NSpySetPluginVersion");
    m_pfnNSpySetSocketContext =
        ResolveEntry<PFN_NSpySetSocketContext>(m_hNetMonitor.Get(), "NSpySetSocketContext");
    m_pfnNSpyIsPluginPatchEnabled =
        ResolveEntry<PFN_NSpyIsPluginPatchEnabled>(m_hNetMonitor.Get(), "NSpyIsPluginPatchEnabled");
    m_pfnNSpyStart = ResolveEntry<PFN_NSpyStart>(m_hNetMonitor.Get(), "NSpyStart");
    m_pfnNSpyStop = ResolveEntry<PFN_NSpyStop>(m_hNetMonitor.Get(), "NSpyStop");

    if (m_pfnNSpySetPluginVersion) m_pfnNSpySetPluginVersion(GPC_NETMON_PLUGIN_VERSION);
    if (m_pfnNSpyStart) m_pfnNSpyStart(GPC_NETMON_START_MODE);
    if (HostLink().CanSetSocketCallback()) {
        HostLink().SetSocketCallback(&CVRGpcExtension::OnSocketContext, this);
        m_bSocketCallbackSet = 1;
    }
}

void CVRGpcExtension::StopNetMonitor()
{
    if (IsPluginHost() && m_pfnNSpyStop) m_pfnNSpyStop();
}

int WINAPI CVRGpcExtension::OnSocketContext(void* pContext, DWORD dwValue1, DWORD dwValue2)
{
    CVRGpcExtension* pExtension = static_cast<CVRGpcExtension*>(pContext);
    if (pExtension && IsPluginHost() && pExtension->m_pfnNSpySetSocketContext) {
        pExtension->m_pfnNSpySetSocketContext(dwValue1, dwValue2);
    }
    return 0;
}

void CVRGpcExtension::ExitInstance()
{
    // From here on nothing is read, started or installed. The host may
    // still deliver the manifest or any file (the exit script and a
    // report's dialogs pump messages): the numbers it holds stop naming
    // anything as their objects are withdrawn or deleted, so such notices
    // are dropped.
    m_bShuttingDown = 1;
    m_ManifestContext.Withdraw();
    m_InstallationMgr.ReleaseAll();
    ReleaseOdeRequests();
    UnloadMainComponent();
    if (m_hMessageWnd) {
        if (IsWindow(m_hMessageWnd)) DestroyWindow(m_hMessageWnd);
        m_hMessageWnd = nullptr;
    }
    // The host would otherwise keep reporting sockets to a deleted instance.
    if (m_bSocketCallbackSet && HostLink().CanSetSocketCallback()) {
        HostLink().SetSocketCallback(nullptr, nullptr);
    }
    m_bSocketCallbackSet = 0;
    StopNetMonitor();
}
