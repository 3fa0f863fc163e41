// Manifest items, the installation manager's item list and the records of
// on-demand download jobs.
#include "install/installation_mgr.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "extension/extension.h"
#include "feedback/progress.h"
#include "feedback/trace.h"

namespace {

// Trace arguments must never be null: the runtime's "%s" of null is not
// something a log reader should have to interpret.
const char* TraceText(const char* lpszText)
{
    return lpszText ? lpszText : "";
}

// "%lu"/"%d" conversions: a field without leading digits keeps the value
// it had, trailing characters after the digits are ignored.
void ScanUnsigned(const char* lpszField, DWORD* pdwValue)
{
    unsigned long ulValue = 0;
    if (sscanf(lpszField, "%lu", &ulValue) == 1)
        *pdwValue = static_cast<DWORD>(ulValue);
}

void ScanSigned(const char* lpszField, int* pnValue)
{
    int nValue = 0;
    if (sscanf(lpszField, "%d", &nValue) == 1)
        *pnValue = nValue;
}

// Stores one trimmed field by its position (0-based) and traces it.
void StoreField(GpcInstallItem* pItem, int nField, const char* lpszField)
{
    switch (nField) {
    case 0:
        TraceMessage("Source Name : %s", lpszField);
        pItem->SourceName.Assign(lpszField);
        break;
    case 1:
        TraceMessage("Url : %s", lpszField);
        pItem->Url.Assign(lpszField);
        break;
    case 2:
        TraceMessage("Target : %s", lpszField);
        pItem->Target.Assign(lpszField);
        break;
    case 3: {
        TraceMessage("Version : %s", lpszField);
        // "2, 0, 0, 17" and "2 0 0 17" are the same version as "2,0,0,17":
        // the comparison with the file's version text is byte for byte.
        char achVersion[256];
        achVersion[0] = '\0';
        NormalizeList(achVersion, lpszField);
        pItem->Version.Assign(achVersion);
        break;
    }
    case 4:
        TraceMessage("File size : %s", lpszField);
        ScanUnsigned(lpszField, &pItem->FileSize);
        break;
    case 5:
        TraceMessage("Compressed size : %s", lpszField);
        ScanUnsigned(lpszField, &pItem->CompressedSize);
        break;
    case 6:
        TraceMessage("Action : %s", lpszField);
        pItem->Action.Assign(lpszField);
        break;
    case 7:
        TraceMessage("UpdateControl : %s", lpszField);
        pItem->UpdateControl.Assign(lpszField);
        break;
    case 8:
        TraceMessage("FailureControl : %s", lpszField);
        pItem->FailureControl.Assign(lpszField);
        break;
    case 9:
        TraceMessage("OS version : %s", lpszField);
        ScanSigned(lpszField, &pItem->OsVersion);
        break;
    default:
        // Later manifests may add fields; this version ignores them.
        break;
    }
}

// Whether an item belongs on this platform. Items are filtered only while
// the owner asks for it: a plug-in host without version parameters starts
// the dependency-list path, whose one list serves every platform, and the
// filter then stays on for every item parsed afterwards.
bool ItemFitsPlatform(const GpcInstallItem* pItem)
{
    if (!pItem->Owner || !pItem->Owner->m_bCheckItemOsVersion)
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

void DestroyItems(CGpcPtrArray& items)
{
    for (int i = 0; i < items.GetCount(); ++i)
        delete static_cast<GpcInstallItem*>(items.GetAt(i));
    items.RemoveAll();
}

}  // namespace

GpcInstallItem::GpcInstallItem(CVRGpcExtension* pOwner) : Owner(pOwner)
{
}

bool FieldIs(const CGpcString& field, const char* lpszWord)
{
    if (field.IsNull() || !lpszWord)
        return false;
    return _stricmp(field.GetText(), lpszWord) == 0;
}

CVRGpcInstallationMgr::CVRGpcInstallationMgr(CVRGpcExtension* pOwner)
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

    if (lpszItem) {
        // Fields are cut out of the caller's text in place: every ";" ends
        // a field, there is no quoting.
        char* pszField = lpszItem;
        for (int nField = 0;; ++nField) {
            char* pszSeparator = strchr(pszField, ';');
            if (pszSeparator)
                *pszSeparator = '\0';
            StoreField(pItem, nField, TrimWhitespace(pszField));
            if (!pszSeparator)
                break;
            pszField = pszSeparator + 1;
        }
    }

    if (!ItemFitsPlatform(pItem)) {
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

    size_t nLength = strlen(lpszList);
    char* pszCopy = new (std::nothrow) char[nLength + 1];
    if (!pszCopy)
        return 0;
    memcpy(pszCopy, lpszList, nLength + 1);

    // Split the whole text first: ParseItem changes the text it is given,
    // so each piece is handed over as a copy of its own.
    CGpcPtrArray pieces;
    char* pszPiece = pszCopy;
    for (;;) {
        char* pszBar = strchr(pszPiece, '|');
        if (pszBar)
            *pszBar = '\0';
        char* pszTrimmed = TrimWhitespace(pszPiece);
        if (*pszTrimmed) {
            size_t nPiece = strlen(pszTrimmed);
            char* pszSaved = new (std::nothrow) char[nPiece + 1];
            if (pszSaved) {
                memcpy(pszSaved, pszTrimmed, nPiece + 1);
                if (!pieces.Add(pszSaved))
                    delete[] pszSaved;
            }
        }
        if (!pszBar)
            break;
        pszPiece = pszBar + 1;
    }
    delete[] pszCopy;

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
}

void CVRGpcInstallationMgr::ReleaseAll()
{
    DestroyItems(Items);
    UrlRoot.Assign(nullptr);
    DefaultInstallDir.Assign(nullptr);
    delete LogMgr;
    LogMgr = nullptr;
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

GpcDownloadJob* CreateDownloadJob(CVRGpcExtension* pOwner, const char* lpszSectionName,
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
    // The pending items belong to their downloads, not to the job.
    pJob->PendingItems.Free();
    delete pJob;
}
