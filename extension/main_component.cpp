// Loading and unloading the main component: an ActiveX control hosted in the
// host's plug-in window, or a library loaded from its install directory.
#include <cstring>

#include "extension/extension.h"
#include "feedback/messages.h"
#include "feedback/trace.h"
#include "npvrgpc/module_state.h"
#include "script/call_export.h"

namespace {

HWND GetHostWindow(GpcCookie pCookie)
{
    return GetHostLink(pCookie).GetWindow();
}

// "GpcDownloadOnly" set to TRUE in any letter case: the page wants the files
// only, never the component.
bool IsDownloadOnly(GpcCookie pCookie)
{
    return GpcIsTrueParam(GetHostLink(pCookie).GetParam("GpcDownloadOnly"));
}

// Replaces lpszPath (260 bytes) by its short form; keeps the long form when
// there is none (a path that does not exist, or a short form that would not fit).
void MakeShortPathInPlace(char* lpszPath)
{
    char achShort[GPC_MAX_PATH];
    DWORD dwLen = GetShortPathNameA(lpszPath, achShort, GPC_MAX_PATH);
    if (dwLen > 0 && dwLen < GPC_MAX_PATH) GpcCopyString(lpszPath, GPC_MAX_PATH, achShort);
}

}  // namespace

void CVRGpcExtension::LoadMainComponent()
{
    TraceMessage("Init the main component...");

    // Scripts pass the host window to the component as "%HWND", whatever
    // form the component takes (and also when none is loaded).
    HWND hWnd = GetHostWindow(m_pGpcCookie);
    char achHwnd[32];
    GpcFormat(achHwnd, sizeof(achHwnd), "%lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hWnd)));
    m_CallEngine.SetVariable("%HWND", achHwnd);
    TraceMessage("NPVRGPC : set %%HWND = %s", achHwnd);

    if (IsDownloadOnly(m_pGpcCookie)) return;

    const char* lpszProgId = HostLink().GetParam("GpcComponentProgID");
    if (lpszProgId) {
        CLSID clsid;
        GetComponentClsid(lpszProgId, &clsid);
        if (!CreateMainControl(clsid)) {
            ShowErrorMessage(this, GPC_MSG_CONTROL_NOT_CREATED, lpszProgId);
            m_bFailed = 1;
            return;
        }
        // The control fills the plug-in area: the host window takes its
        // parent's client size, and WM_SIZE lets the control follow.
        HWND hParent = GetParent(hWnd);
        RECT rc;
        if (hParent && GetClientRect(hParent, &rc)) {
            SetWindowPos(hWnd, nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top, SWP_SHOWWINDOW);
        }
        PostMessageA(hWnd, WM_SIZE, 0, 0);
    } else {
        const char* lpszName = HostLink().GetParam("GpcComponentName");
        GpcInstallItem* pItem = lpszName ? m_InstallationMgr.FindItem(lpszName) : nullptr;
        if (!pItem) {
            ShowErrorMessage(this, GPC_MSG_COMPONENT_NOT_LISTED, lpszName ? lpszName : "");
            return;
        }

        char achPath[GPC_MAX_PATH];
        achPath[0] = '\0';
        // With a key, nothing is loaded that was not signed: a component
        // found current was never downloaded, so it is looked at here.
        m_InstallationMgr.GetInstallPath(pItem, achPath);
        int nTrust = CheckRunTrust(pItem, achPath);
        if (nTrust != GPC_TRUST_OK) {
            TraceMessage("vrgpcext: %s refused before it runs: %s", achPath, GpcTrustResultName(nTrust));
            ShowErrorMessage(this, GPC_MSG_MANIFEST_REFUSED, GpcTrustResultName(nTrust));
            m_bFailed = 1;
            return;
        }

        achPath[0] = '\0';
        m_InstallationMgr.GetInstallDir(pItem, achPath);

        // The component finds its own companions relative to the current
        // directory; the destructor puts the host's directory back.
        DWORD dwLen = GetCurrentDirectoryA(GPC_MAX_PATH, m_achSavedCurDir);
        if (dwLen == 0 || dwLen >= GPC_MAX_PATH) m_achSavedCurDir[0] = '\0';
        MakeShortPathInPlace(achPath);
        SetCurrentDirectoryA(achPath);

        achPath[0] = '\0';
        m_InstallationMgr.GetInstallPath(pItem, achPath);
        MakeShortPathInPlace(achPath);

        m_hMainComponent.Reset(LoadLibraryA(achPath));
        if (!m_hMainComponent) {
            ShowErrorMessage(this, GPC_MSG_COMPONENT_NOT_LOADED, achPath);
            m_bFailed = 1;
            return;
        }
    }

    if (m_hMainComponent) {
        FARPROC pfnSetControlEnv = GetProcAddress(m_hMainComponent.Get(), "SetControlEnv");
        if (pfnSetControlEnv) {
            // The component gets the host's own table, not a copy: it may
            // call the host directly for as long as it is loaded.
            ULONG_PTR rgArgs[2] = {reinterpret_cast<ULONG_PTR>(HostLink().Table()),
                                   reinterpret_cast<ULONG_PTR>(m_pGpcCookie)};
            GpcCallExport(pfnSetControlEnv, rgArgs, 2);
        }
    }

    const char* lpszInitCall = HostLink().GetParam("GpcInitCall");
    if (lpszInitCall) ExecuteScript(lpszInitCall);
}

void CVRGpcExtension::UnloadMainComponent()
{
    if (IsDownloadOnly(m_pGpcCookie)) return;

    // ExecuteScript runs its own copy of the text, so a script that assigns
    // to "GpcExitCall" cannot pull the text from under its own run.
    const char* lpszExitCall = m_CallEngine.GetVariable("GpcExitCall");
    if (lpszExitCall) {
        TraceMessage("Execute GpcExitCall");
        ExecuteScript(lpszExitCall);
    }

    {
        // The member is cleared before the library goes: code that runs
        // while it unloads finds no component.
        CGpcModule hModule(m_hMainComponent.Release());
    }
    if (GetControlObject()) RemoveObject();
}

int CVRGpcExtension::CreateMainControl(REFCLSID clsid)
{
    HWND hWnd = GetHostWindow(m_pGpcCookie);
    if (!hWnd) return 0;
    RECT rc;
    if (!GetClientRect(hWnd, &rc)) SetRectEmpty(&rc);
    return m_OcxContainer.CreateObject(clsid, hWnd, &rc);
}

void CVRGpcExtension::RemoveObject()
{
    TraceMessage("NPVRGPC :: RemoveObject");
    m_OcxContainer.ReleaseObject();
}

IOleObject* CVRGpcExtension::GetControlObject()
{
    return m_OcxContainer.m_pObject;
}

void CVRGpcExtension::GetComponentClsid(const char* lpszText, CLSID* pClsid)
{
    if (!pClsid) return;
    *pClsid = CLSID_NULL;
    if (!lpszText) return;

    // ProgIDs have at most 39 characters and class-id strings 38; anything
    // that does not fit here names no class, and creation then fails.
    WCHAR awchText[GPC_MAX_PATH];
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, lpszText, -1, awchText, GPC_MAX_PATH) == 0) return;

    HRESULT hr = (lpszText[0] == '{') ? CLSIDFromString(awchText, pClsid) : CLSIDFromProgID(awchText, pClsid);
    if (FAILED(hr)) *pClsid = CLSID_NULL;
}
