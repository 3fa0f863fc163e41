// Download requests, on-demand notifications, the installation log and the
// registration actions around the main component.
#include "install/installation_mgr.h"

#include <windows.h>

#include "extension/extension.h"
#include "feedback/trace.h"

void CVRGpcInstallationMgr::BuildItemUrl(GpcInstallItem*, char* lpszUrl, int nSize)
{
    if (lpszUrl && nSize > 0)
        lpszUrl[0] = '\0';
}

void CVRGpcInstallationMgr::PrepareDownload(GpcInstallItem*)
{
}

void CVRGpcInstallationMgr::PrepareJobDownload(GpcInstallItem*, GpcDownloadJob*)
{
}

void NotifyDownloadJob(GpcDownloadJob*, int, const char*, const char*, int, GpcOdeFileInfo*)
{
}

void FillOdeFileInfo(const GpcInstallItem*, GpcOdeFileInfo* pInfo)
{
    if (pInfo)
        ZeroMemory(pInfo, sizeof(*pInfo));
}

int CVRGpcLogMgr::OpenLogRoot(const char*, const char*, const char*, const char*)
{
    return 0;
}

int CVRGpcLogMgr::WriteLog(CVRGpcInstallationMgr*, GpcInstallItem*)
{
    return 0;
}

int CVRGpcInstallationMgr::DoActionsForMainComponent(const char*)
{
    return 1;
}

void CVRGpcInstallationMgr::DoActionsAfterMainComponent(const char*)
{
}
