// Manifest items, the installation manager's item list and the records of
// on-demand download jobs.
#include "install/installation_mgr.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "feedback/progress.h"
#include "feedback/trace.h"
#include "install/manifest_trust.h"

namespace {

// Whether an item belongs on this platform. Items are filtered only while
// the owner asks for it: a plug-in host without version parameters starts
// the dependency-list path, whose one list serves every platform, and the
// filter then stays on for every item parsed afterwards.
bool ItemFitsPlatform(const GpcInstallItem* pItem)
{
    if (!pItem->Owner || !pItem->Owner->ChecksItemOsVersion())
        return true;
    switch (pItem->OsVersion) {
    case 1:
        return !IsWindowsNT();
    case 2:
        return IsWindowsNT() != 0;
    case 3:
        return IsWindowsNT() && IsWindows2000OrLater();
    default:
        return true;
    }
}

// An item for 64-bit Windows only (an x64 printer driver) has no place on
// a 32-bit system: it is left out of the pass, with one trace line.
bool ItemFitsBitness(const GpcInstallItem* pItem)
{
    if (!TargetStartsWith(pItem, GPC_PDRIVER64_TOKEN) || IsWow64())
        return true;
    TraceMessage("%s: %s is for 64-bit Windows only, the file is left out", TraceText(pItem->SourceName.GetText()),
                 GPC_PDRIVER64_TOKEN);
    return false;
}

void DestroyItems(CGpcPtrArray& items)
{
    for (int i = 0; i < items.GetCount(); ++i)
        delete static_cast<GpcInstallItem*>(items.GetAt(i));
    items.RemoveAll();
}

}  // namespace

GpcInstallItem::GpcInstallItem(IGpcInstallOwner* pOwner) : Owner(pOwner)
{
}

bool TargetStartsWith(const GpcInstallItem* pItem, const char* lpszToken)
{
    if (!pItem || pItem->Target.IsNull() || !lpszToken)
        return false;
    const char* lpszTarget = pItem->Target.GetText();
    size_t n = strlen(lpszToken);
    return _strnicmp(lpszTarget, lpszToken, n) == 0 &&
           (lpszTarget[n] == '\0' || lpszTarget[n] == '\\' || lpszTarget[n] == '/');
}

bool FieldIs(const CGpcString& field, const char* lpszWord)
{
    if (field.IsNull() || !lpszWord)
        return false;
    return _stricmp(field.GetText(), lpszWord) == 0;
}

CVRGpcInstallationMgr::CVRGpcInstallationMgr(IGpcInstallOwner* pOwner)
    : Owner(pOwner), LogMgr(new (std::nothrow) CVRGpcLogMgr())
{
    UrlRoot.Assign("");
    DefaultInstallDir.Assign("");
}

CVRGpcInstallationMgr::~CVRGpcInstallationMgr()
{
    ReleaseAll();
    Items.Free();
}

int CVRGpcInstallationMgr::ParseItem(char* lpszItem)
{
    TraceMessage("NPVRGPC : CVRGpcInstallationMgr::ParseItem,Item = %s", TraceText(lpszItem));

    GpcInstallItem* pItem = new (std::nothrow) GpcInstallItem(Owner);
    if (!pItem)
        return 0;

    ParseItemFields(lpszItem, pItem, &TraceMessage);

    if (!ItemFitsPlatform(pItem) || !ItemFitsBitness(pItem)) {
        delete pItem;
        return 1;
    }
    if (!Items.Add(pItem)) {
        // The list could not grow: the item is not listed, so it must not leak.
        delete pItem;
        return 0;
    }
    return 1;
}

int CVRGpcInstallationMgr::ParseItemList(const char* lpszList)
{
    if (!lpszList)
        return 1;

    // Split the whole text first: ParseItem changes the text it is given,
    // so each piece is handed over as a copy of its own.
    CGpcPtrArray pieces;
    if (!SplitItemList(lpszList, &pieces))
        return 0;

    for (int i = 0; i < pieces.GetCount(); ++i) {
        char* pszSaved = static_cast<char*>(pieces.GetAt(i));
        ParseItem(pszSaved);
        delete[] pszSaved;
    }
    pieces.Free();
    return 1;
}

int CVRGpcInstallationMgr::AddItem(GpcInstallItem* pItem)
{
    return Items.Add(pItem);
}

void CVRGpcInstallationMgr::ClearItems()
{
    DestroyItems(Items);
    RestartSettledScans();
    ForgetInstallDirs();
}

void CVRGpcInstallationMgr::ReleaseAll()
{
    DestroyItems(Items);
    RestartSettledScans();
    ForgetInstallDirs();
    UrlRoot.Assign(nullptr);
    DefaultInstallDir.Assign(nullptr);
    delete LogMgr;
    LogMgr = nullptr;
    Versions.Release();
    CloseProgressWindow(&ProgressWindow);
}

void CVRGpcInstallationMgr::MarkAllItemsDone()
{
    for (int i = 0; i < Items.GetCount(); ++i)
        GetItem(i)->State = ITEM_DONE;
}

int CVRGpcInstallationMgr::AnyItemStarted()
{
    for (int i = 0; i < Items.GetCount(); ++i) {
        if (GetItem(i)->State != ITEM_LISTED)
            return 1;
    }
    return 0;
}

GpcDownloadJob* CreateDownloadJob(IGpcInstallOwner* pOwner, const char* lpszSectionName,
                                  GpcOdeCallback pfnCallback, void* pContext)
{
    GpcDownloadJob* pJob = new (std::nothrow) GpcDownloadJob();
    if (!pJob)
        return nullptr;
    pJob->Owner = pOwner;
    if (lpszSectionName && !pJob->SectionName.Assign(lpszSectionName)) {
        delete pJob;
        return nullptr;
    }
    pJob->Callback = pfnCallback;
    pJob->CallbackContext = pContext;
    return pJob;
}

void DestroyDownloadJob(GpcDownloadJob* pJob)
{
    if (!pJob)
        return;
    CloseProgressWindow(&pJob->ProgressWindow);
    delete pJob->Signed;
    // The pending items belong to their downloads, not to the job.
    pJob->PendingItems.Free();
    delete pJob;
}
