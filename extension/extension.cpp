// The extension object: construction, start-up and the page parameters.
#include "extension/extension.h"

#include <new>

#include "extension/param_lists.h"
#include "feedback/messages.h"
#include "feedback/trace.h"
#include "npvrgpc/module_state.h"

namespace {

// Size of the buffer the manifest url is built in.
enum { GPC_URL_BUFFER = 1024 };
// Room for "?random=" and the decimal tick count after a full manifest url.
enum { GPC_RANDOM_SUFFIX = 32 };

const char* ListAt(const CGpcPtrArray& list, int nIndex)
{
    if (nIndex < 0 || nIndex >= list.GetCount()) return nullptr;
    return static_cast<const char*>(list.GetAt(nIndex));
}

}  // namespace

CVRGpcExtension::CVRGpcExtension(GpcCookie pCookie)
    : m_pGpcCookie(pCookie),
      m_InstallationMgr(this),
      m_bReady(0),
      m_bFailed(0),
      m_bComponentLoadStarted(0),
      m_bDownloadDone(0),
      m_bSuppressInstallation(0),
      m_bCheckItemOsVersion(0),
      m_bStdDownload(0),
      m_achSavedCurDir(),
      m_CallEngine(this),
      m_hMessageWnd(nullptr),
      m_bUserDirAsRoot(0),
      m_pfnOdeFailureCallback(nullptr),
      m_pfnNSpySetPluginVersion(nullptr),
      m_pfnNSpySetSocketContext(nullptr),
      m_pfnNSpyIsPluginPatchEnabled(nullptr),
      m_pfnNSpyStart(nullptr),
      m_pfnNSpyStop(nullptr),
      m_achCurIniFile(),
      m_nSectionResult(0),
      m_bCancelRequested(0),
      m_bOwnCurIniFile(0)
{
    // An earlier instance in this process may have found the product
    // directory unwritable; the desktop property outlives the library.
    char achProp[32];
    GpcFormat(achProp, sizeof(achProp), "UH%lu", static_cast<unsigned long>(GetCurrentProcessId()));
    HANDLE hMark = GetPropA(GetDesktopWindow(), achProp);
    m_bUserDirAsRoot = (reinterpret_cast<ULONG_PTR>(hMark) == GPC_USER_DIR_MARK) ? 1 : 0;

    g_nProgressSwitch = 1;
    g_nMessageWndSwitch = 1;
}

CVRGpcExtension::~CVRGpcExtension()
{
    FreeStringList(&m_UrlList);
    FreeStringList(&m_ActionList);

    // The teardown keeps its order: the component, then the host's
    // directory, then the network monitor.
    m_hMainComponent.Reset();
    if (m_achSavedCurDir[0]) SetCurrentDirectoryA(m_achSavedCurDir);
    m_hNetMonitor.Reset();
    if (m_achCurIniFile[0]) {
        // Only the manifest copy this object made is removed: a path that a
        // page script handed in names a file the extension does not own.
        m_hCurIniFile.Reset();
        if (m_bOwnCurIniFile) DeleteFileA(m_achCurIniFile);
        m_achCurIniFile[0] = '\0';
    }
    TraceMessage("Delete CVRGpcExtension object");
    // The members go next, in reverse order of declaration: the control
    // container, the call engine, the two lists, the installation manager.
}

void CVRGpcExtension::InitInstance()
{
    if (!m_hMessageWnd && g_nMessageWndSwitch == 0) m_hMessageWnd = CreateMessageWindow(this);

    if (const char* lpszUrls = GetParam("GpcUrls")) SplitUrls(&m_UrlList, lpszUrls);
    if (const char* lpszActions = GetParam("GpcActions")) SplitActions(&m_ActionList, lpszActions);

    // Every page parameter becomes a script variable; the count is asked
    // again on every pass, as the host may change it.
    GpcHostLink host = HostLink();
    if (host.CanListParams()) {
        for (int i = 0; i < host.GetParamCount(); ++i) {
            const char* lpszName = nullptr;
            const char* lpszValue = nullptr;
            if (host.GetParamAt(i, &lpszName, &lpszValue) && lpszName && lpszValue) {
                m_CallEngine.SetVariable(lpszName, lpszValue);
            }
        }
    }

    // Keys come from the library itself and the machine's policy, never
    // from the page: read before any branch that a page parameter chooses,
    // so that no such parameter can start an instance without them.
    m_TrustKeys.Load(GetGpcModule());

    // The product folder lies below the host's: a root or version that
    // would lead out of it stops the start-up as an invalid root does.
    const char* const apszProductParams[] = {"GpcProductRoot", "GpcProductVersion"};
    for (const char* lpszParam : apszProductParams) {
        if (!GpcIsContainedPathPart(GetParam(lpszParam))) {
            TraceMessage("Error: Invalid value of the parameter '%s'", lpszParam);
            ShowErrorMessage(this, GPC_MSG_BAD_URL_ROOT);
            m_bFailed = 1;
            return;
        }
    }

    if (GpcIsTrueParam(GetParam("GpcSuppressInstallation"))) m_bSuppressInstallation = 1;

    if (m_bSuppressInstallation) {
        SuppressedStart();
        return;
    }
    if (CheckVersionParams()) {
        // The dependency list is the page's own: with a key nothing the
        // page alone names is installed, registered or loaded.
        if (m_TrustKeys.IsConfigured()) {
            RefuseManifest("dependency list", GPC_TRUST_NO_MANIFEST);
            m_bFailed = 1;
            return;
        }
        PrepareInstallation(nullptr);
        return;
    }
    if (GetParam("GpcStdDownload")) {
        m_bStdDownload = 1;
        PrepareInstallation(nullptr);
        return;
    }

    char achUrl[GPC_URL_BUFFER];
    if (!BuildManifestUrl(GetOsClass(), achUrl, sizeof(achUrl))) return;
    const char* pSeparator = GpcFindLastSeparator(achUrl, "/");
    GpcCopyString(m_achManifestName, sizeof(m_achManifestName), pSeparator ? pSeparator + 1 : achUrl);
    // The full url gets its own room for the suffix, so that a url that just
    // fits its buffer still carries the whole random number.
    char achRequest[GPC_URL_BUFFER + GPC_RANDOM_SUFFIX];
    GpcFormat(achRequest, sizeof(achRequest), "%s?random=%lu", achUrl, static_cast<unsigned long>(GetTickCount()));
    TraceMessage("CVRGpcExtension::InitInstance url=%s", achRequest);
    if (host.CanDownload()) {
        // The host may deliver the manifest after the instance has ended:
        // it holds a number for the instance, not the instance itself.
        m_ManifestContext.Register(GPC_LIVE_EXTENSION, this);
        host.DownloadUrl(&CVRGpcExtension::OnManifestDownload, m_ManifestContext.GetContext(), achRequest);
    }
}

int CVRGpcExtension::GetOsClass()
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) return GPC_OS_UNKNOWN;
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32s:
        return GPC_OS_UNKNOWN;
    case VER_PLATFORM_WIN32_WINDOWS:
        return info.dwMinorVersion == 0 ? GPC_OS_WIN95 : GPC_OS_WIN98;
    case VER_PLATFORM_WIN32_NT:
        return info.dwMajorVersion <= 4 ? GPC_OS_NT4 : GPC_OS_WIN2K;
    default:
        return GPC_OS_UNKNOWN;
    }
}

int CVRGpcExtension::CheckVersionParams()
{
    if (!HostLink().HasPluginMarker()) return 0;
    const char* lpszUnpack = GetParam("GpcUnpackVersion");
    const char* lpszExt = GetParam("GpcExtVersion");
    if (!lpszUnpack || !*lpszUnpack || !lpszExt || !*lpszExt) {
        m_bCheckItemOsVersion = 1;
        return 1;
    }
    return 0;
}

void CVRGpcExtension::GetHostProductVersion(char* lpszBuffer, int nSize)
{
    if (!lpszBuffer || nSize <= 0) return;
    GpcCopyString(lpszBuffer, nSize, "NS_Unknown");

    char achPath[GPC_MAX_PATH];
    DWORD dwLen = GetModuleFileNameA(nullptr, achPath, sizeof(achPath));
    if (dwLen == 0 || dwLen >= sizeof(achPath)) return;

    DWORD dwHandle = 0;
    DWORD dwSize = GetFileVersionInfoSizeA(achPath, &dwHandle);
    if (dwSize == 0) return;
    char* pBlock = new (std::nothrow) char[dwSize];
    if (!pBlock) return;
    if (GetFileVersionInfoA(achPath, 0, dwSize, pBlock)) {
        char* lpszValue = nullptr;
        UINT nValue = 0;
        char achQuery[] = "\\StringFileInfo\\040904e4\\ProductVersion";
        if (VerQueryValueA(pBlock, achQuery, reinterpret_cast<void**>(&lpszValue), &nValue) && lpszValue) {
            // The value may lack its terminator; nValue counts characters.
            char achValue[GPC_MAX_PATH];
            int nCopy = static_cast<int>(nValue) < static_cast<int>(sizeof(achValue)) ? static_cast<int>(nValue)
                                                                                        : static_cast<int>(sizeof(achValue)) - 1;
            memcpy(achValue, lpszValue, static_cast<size_t>(nCopy));
            achValue[nCopy] = '\0';
            GpcFormat(lpszBuffer, nSize, "NS%s", achValue);
        }
    }
    delete[] pBlock;
}

const char* CVRGpcExtension::GetMessageTitle()
{
    const char* lpszTitle = GetParam("GpcMessageTitle");
    return lpszTitle ? lpszTitle : "Corvo";
}

const char* CVRGpcExtension::GetUrl(int nIndex)
{
    return ListAt(m_UrlList, nIndex);
}

const char* CVRGpcExtension::GetAction(int nIndex)
{
    return ListAt(m_ActionList, nIndex);
}

const char* CVRGpcExtension::GetParam(const char* lpszName)
{
    return HostLink().GetParam(lpszName);
}
