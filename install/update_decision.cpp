// Whether an installed file matches what the manifest asks for, and the
// list queries that tell whether items are still on their way.
#include "install/installation_mgr.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "feedback/progress.h"
#include "feedback/trace.h"
#include "install/version_tag.h"
#include "npvrgpc/handles.h"

namespace {

bool IsStillInstalling(const GpcInstallItem* pItem)
{
    return pItem->State == ITEM_LISTED || pItem->State == ITEM_DOWNLOADING;
}

}  // namespace

int GetTaggedVersion(const char* lpszPath, char* lpszOut, int nSize)
{
    if (!lpszPath || !lpszOut || nSize <= 0)
        return 0;

    CGpcFile file(fopen(lpszPath, "rb"));
    if (!file)
        return 0;
    if (fseek(file.Get(), 0, SEEK_END) != 0)
        return 0;
    long lLength = ftell(file.Get());
    if (lLength < 0 || fseek(file.Get(), 0, SEEK_SET) != 0)
        return 0;
    size_t nLength = static_cast<size_t>(lLength);
    if (nLength == 0)
        return 0;

    // The whole file is searched in memory; a file too large for that has
    // no tag as far as the update decision is concerned.
    char* pBlock = new (std::nothrow) char[nLength];
    if (!pBlock)
        return 0;
    size_t nRead = fread(pBlock, 1, nLength, file.Get());
    int bFound = FindTaggedVersion(pBlock, nRead, lpszOut, nSize);
    delete[] pBlock;
    return bFound;
}

int GpcInstallItem::NeedUpdate(const char* lpszPath, char* lpszCurrent, CVRGpcVersionCache* pVersions)
{
    // Without a rule there is nothing to compare: always download.
    if (Update == GPC_UPDATE_ABSENT)
        return 1;

    const char* lpszFile = TraceText(lpszPath);
    char achCurrent[GPC_CURRENT_VALUE] = "";
    int nResult = 1;

    if (Update == GPC_UPDATE_VERSION) {
        int bRead = pVersions ? pVersions->Read(GPC_VERSION_RESOURCE, lpszFile, achCurrent, sizeof(achCurrent))
                              : GetFileVersionString(lpszFile, achCurrent, sizeof(achCurrent));
        if (bRead) {
            // Equality only: a newer installed file still gets the manifest's
            // version, which is the one the rest of the client was built with.
            if (!Version.IsEmpty() && strcmp(achCurrent, Version.GetText()) == 0)
                nResult = 0;
            else
                TraceMessage("Update %s from version %s to version %s", lpszFile, achCurrent,
                             TraceText(Version.GetText()));
        } else {
            achCurrent[0] = '\0';
            TraceMessage("Can not get version info for file %s", lpszFile);
        }
    } else if (Update == GPC_UPDATE_SIZE) {
        DWORD dwSize = GetFileSizeByName(lpszFile);
        if (dwSize == FileSize)
            nResult = 0;
        else
            GpcFormat(achCurrent, sizeof(achCurrent), "%d", static_cast<int>(dwSize));
    } else if (Update == GPC_UPDATE_EXISTENCE) {
        // Callers test that the file exists before they ask.
        nResult = 0;
    } else if (Update == GPC_UPDATE_VERTAG) {
        int bRead = pVersions ? pVersions->Read(GPC_VERSION_TAG, lpszFile, achCurrent, sizeof(achCurrent))
                              : GetTaggedVersion(lpszFile, achCurrent, sizeof(achCurrent));
        if (bRead) {
            if (!Version.IsEmpty() && strcmp(achCurrent, Version.GetText()) == 0)
                nResult = 0;
            else
                TraceMessage("Update %s from version(tagged) %s to version(tagged) %s", lpszFile,
                             achCurrent, TraceText(Version.GetText()));
        } else {
            achCurrent[0] = '\0';
            TraceMessage("Can not get the tagged version info for file %s", lpszFile);
        }
    }

    if (nResult == 1 && lpszCurrent)
        GpcCopyString(lpszCurrent, GPC_CURRENT_VALUE, achCurrent);
    return nResult;
}

void CVRGpcInstallationMgr::BeginPass()
{
    // The kept versions live beside this product's installation log.
    Versions.BeginPass(LogMgr ? LogMgr->m_keyLog.GetHandle() : nullptr);
    // What a pass decides rests on the install directories as they are now.
    ForgetInstallDirs();
}

int CVRGpcInstallationMgr::HasAnyUpdate()
{
    for (int i = 0; i < Items.GetCount(); ++i) {
        GpcInstallItem* pItem = GetItem(i);
        char achPath[GPC_MAX_PATH];
        GetInstallPath(pItem, achPath);
        if (!FileExists(achPath)) {
            TraceMessage("HasAnyUpdate -- FileExist,filePath = %s", achPath);
            return 1;
        }
        if (pItem->NeedUpdate(achPath, nullptr, &Versions)) {
            TraceMessage("HasAnyUpdate -- NeedUpdate,filePath = %s", achPath);
            return 1;
        }
    }
    return 0;
}

int CVRGpcInstallationMgr::IsItemNamed(GpcInstallItem* pItem, const char* lpszName)
{
    if (!pItem || !lpszName || pItem->SourceName.IsEmpty())
        return 0;
    return _stricmp(pItem->SourceName.GetText(), lpszName) == 0 ? 1 : 0;
}

GpcInstallItem* CVRGpcInstallationMgr::FindItem(const char* lpszName)
{
    if (!lpszName)
        return nullptr;
    for (int i = 0; i < Items.GetCount(); ++i) {
        GpcInstallItem* pItem = GetItem(i);
        if (IsItemNamed(pItem, lpszName))
            return pItem;
    }
    return nullptr;
}

void CVRGpcInstallationMgr::RestartSettledScans()
{
    SettledScan = 0;
    ReadyScan = 0;
    ReadyScanName.Assign(nullptr);
}

int CVRGpcInstallationMgr::IsMainComponentReady(const char* lpszName)
{
    bool bSameName = lpszName ? !ReadyScanName.IsNull() && strcmp(ReadyScanName.GetText(), lpszName) == 0
                              : ReadyScanName.IsNull();
    if (!bSameName || ReadyScan > Items.GetCount()) {
        ReadyScan = 0;
        ReadyScanName.Assign(lpszName);
    }
    for (int i = ReadyScan; i < Items.GetCount(); ++i) {
        GpcInstallItem* pItem = GetItem(i);
        if (IsStillInstalling(pItem)) {
            ReadyScan = i;
            return 0;
        }
        if (IsItemNamed(pItem, lpszName))
            return 1;
    }
    ReadyScan = Items.GetCount();
    return 1;
}

int CVRGpcInstallationMgr::AllItemsSettled()
{
    if (SettledScan > Items.GetCount())
        SettledScan = 0;
    for (int i = SettledScan; i < Items.GetCount(); ++i) {
        GpcInstallItem* pItem = GetItem(i);
        if (IsStillInstalling(pItem)) {
            SettledScan = i;
            TraceMessage("item=%s is still installing.", TraceText(pItem->SourceName.GetText()));
            return 0;
        }
    }
    SettledScan = Items.GetCount();
    CloseProgressWindow(&ProgressWindow);
    return 1;
}
