// Installation of downloaded items: scheduling passes, the install steps
// of one file and the registration actions.
#include "install/installation_mgr.h"

#include <windows.h>

#include "extension/extension.h"
#include "feedback/trace.h"
#include "npvrgpc/handles.h"

int CVRGpcInstallationMgr::ScheduleDownloads()
{
    return 1;
}

int CVRGpcInstallationMgr::ScheduleOdeDownloads(const char*, GpcOdeCallback, void*)
{
    return 0;
}

int CVRGpcInstallationMgr::DoItemInstallation(GpcInstallItem* pItem, const char*)
{
    if (pItem)
        pItem->State = ITEM_FAILED;
    return GPC_INSTALL_NO_FILE;
}

int CVRGpcInstallationMgr::RegisterItem(GpcInstallItem*)
{
    return 1;
}

int RegisterServerDll(const char*)
{
    return 0;
}

void ReplaceFileAtReboot(const char*, const char*)
{
}

void FixStdNamesFileTime(const char*, const char*)
{
}

int CanManageServices()
{
    return 0;
}
