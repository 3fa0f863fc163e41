// The extension object: construction, start-up and the page parameters.
#include "extension/extension.h"

#include "extension/module_state.h"
#include "feedback/trace.h"

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
      m_hMainComponent(nullptr),
      m_hMessageWnd(nullptr),
      m_bUserDirAsRoot(0),
      m_pfnOdeFailureCallback(nullptr),
      m_hNetMonitor(nullptr),
      m_pfnNSpySetPluginVersion(nullptr),
      m_pfnNSpySetSocketContext(nullptr),
      m_pfnNSpyIsPluginPatchEnabled(nullptr),
      m_pfnNSpyStart(nullptr),
      m_pfnNSpyStop(nullptr),
      m_achCurIniFile(),
      m_nSectionResult(0),
      m_bCancelRequested(0)
{
}

CVRGpcExtension::~CVRGpcExtension() {}

void CVRGpcExtension::InitInstance() {}
int CVRGpcExtension::GetOsClass() { return GPC_OS_UNKNOWN; }
int CVRGpcExtension::CheckVersionParams() { return 0; }
void CVRGpcExtension::GetHostProductVersion(char* lpszBuffer, int nSize)
{
    if (lpszBuffer && nSize > 0) lpszBuffer[0] = '\0';
}
const char* CVRGpcExtension::GetMessageTitle() { return "Corvo"; }
const char* CVRGpcExtension::GetUrl(int) { return nullptr; }
const char* CVRGpcExtension::GetAction(int) { return nullptr; }
const char* CVRGpcExtension::GetParam(const char* lpszName) { return GetHostParam(m_pGpcCookie, lpszName); }
