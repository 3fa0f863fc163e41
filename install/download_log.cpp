// Download requests for items, notices to on-demand callers, the
// installation log in the registry and the registration actions around the
// loading of the main component.
#include "install/installation_mgr.h"

#include <windows.h>

#include <cstring>

#include "feedback/messages.h"
#include "feedback/progress.h"
#include "feedback/report.h"
#include "feedback/trace.h"
#include "npvrgpc/module_state.h"

namespace {

// Download URLs hold at most 511 characters.
enum { GPC_URL_SIZE = 512 };
// Registry key paths of the installation log.
enum { GPC_KEY_PATH_SIZE = 1024 };

// The download result code of a cancelled on-demand request.
enum { GPC_ODE_CANCELLED = -7 };

// The product root that the installation log is kept under when the page
// names none of its own (or names the default one).
const char GPC_DEFAULT_PRODUCT_ROOT[] = "Corvo";
const char GPC_DEFAULT_LOG_ROOT[] = "Brindlemark";

// UrlRoot, "/" unless it already ends in one, then the item's relative URL.
// Returns false when the URL does not fit (the text is then unusable).
bool ComposeItemUrl(const CGpcString& urlRoot, const GpcInstallItem* pItem, char* lpszUrl, int nSize)
{
    lpszUrl[0] = '\0';
    bool bFits = true;
    if (!urlRoot.IsNull()) {
        const char* lpszRoot = urlRoot.GetText();
        if (GpcCopyString(lpszUrl, nSize, lpszRoot) != static_cast<int>(strlen(lpszRoot)))
            bFits = false;
        size_t nLength = strlen(lpszUrl);
        if (bFits && nLength > 0 && lpszUrl[nLength - 1] != '/')
            bFits = GpcAppendString(lpszUrl, nSize, "/") != 0;
    }
    if (bFits && !pItem->Url.IsNull())
        bFits = GpcAppendString(lpszUrl, nSize, pItem->Url.GetText()) != 0;
    return bFits;
}

// The item URL with "?random=<tick>" so that no cache answers the request.
bool ComposeDownloadUrl(const CGpcString& urlRoot, const GpcInstallItem* pItem, char* lpszUrl, int nSize)
{
    if (!ComposeItemUrl(urlRoot, pItem, lpszUrl, nSize))
        return false;
    char achSuffix[32];
    GpcFormat(achSuffix, sizeof(achSuffix), "?random=%lu", static_cast<unsigned long>(GetTickCount()));
    return GpcAppendString(lpszUrl, nSize, achSuffix) != 0;
}

// Hands a download to the host. When the URL cannot be formed or the host
// has no download function, the handler hears at once that no file came,
// so the item does not wait for ever.
void RequestDownload(CVRGpcInstallationMgr* pMgr, GpcInstallItem* pItem, GpcDownloadCallback pfnHandler,
                     const char* lpszUrl, bool bUrlFits)
{
    GpcHostLink host = pMgr->Owner ? pMgr->Owner->HostLink() : GetHostLink(nullptr);
    // The host keeps a number that stands for the item, never its address:
    // it may deliver after the item is gone (see live_context.h).
    pItem->Live.Register(GPC_LIVE_ITEM, pItem);
    void* pContext = pItem->Live.GetContext();
    // Only an owner can take a finished file in; without one nothing is asked.
    if (!pfnHandler) {
        TraceMessage("No owner takes the download of %s", TraceText(pItem->SourceName.GetText()));
        return;
    }
    if (!bUrlFits) {
        TraceMessage("Download url of %s is too long", TraceText(pItem->SourceName.GetText()));
        pfnHandler(nullptr, pContext, 0, 0);
        return;
    }
    if (!host.CanDownload()) {
        TraceMessage("The host can not download %s", lpszUrl);
        pfnHandler(nullptr, pContext, 0, 0);
        return;
    }
    // A host that took the download reports through the handler. One that
    // refused it never will: the handler hears at once that no file came.
    if (host.DownloadUrl(pfnHandler, pContext, lpszUrl) != 0) {
        TraceMessage("The host refused to download %s", lpszUrl);
        pfnHandler(nullptr, pContext, 0, 0);
    }
}

}  // namespace

void CVRGpcInstallationMgr::BuildItemUrl(GpcInstallItem* pItem, char* lpszUrl, int nSize)
{
    if (!lpszUrl || nSize <= 0)
        return;
    lpszUrl[0] = '\0';
    if (!pItem)
        return;
    // A URL that does not fit is not cut: a cut URL asks for another file.
    if (!ComposeItemUrl(UrlRoot, pItem, lpszUrl, nSize))
        lpszUrl[0] = '\0';
}

void CVRGpcInstallationMgr::PrepareDownload(GpcInstallItem* pItem)
{
    if (!pItem)
        return;
    TotalBytes += pItem->CompressedSize;

    if (StartTick == 0) {
        StartTick = GetTickCount();
        GpcHostLink host = Owner ? Owner->HostLink() : GetHostLink(nullptr);
        const char* lpszSuppress = host.GetParam("GpcSuppressProgressBar");
        if (!IsProgressSuppressed(lpszSuppress)) {
            OpenInstallProgressWindow(this);
            const char* lpszTitle = host.GetParam("GpcProgressBarTitle");
            if (ProgressWindow && lpszTitle)
                SetWindowTextA(ProgressWindow, lpszTitle);
        }
    }

    char achUrl[GPC_URL_SIZE];
    bool bFits = ComposeDownloadUrl(UrlRoot, pItem, achUrl, sizeof(achUrl));
    if (bFits)
        TraceMessage("CVRGpcInstallationMgr::PrepareDownload Down file=%s, TotalSize=%d", achUrl,
                     static_cast<int>(TotalBytes));
    RequestDownload(this, pItem, Owner ? Owner->ItemDownloadHandler() : nullptr, achUrl, bFits);
}

void CVRGpcInstallationMgr::PrepareJobDownload(GpcInstallItem* pItem, GpcDownloadJob* pJob)
{
    if (!pItem)
        return;
    pItem->Job = pJob;
    RegisterJobItem(pJob, pItem);

    char achUrl[GPC_URL_SIZE];
    bool bFits = ComposeDownloadUrl(UrlRoot, pItem, achUrl, sizeof(achUrl));
    RequestDownload(this, pItem, Owner ? Owner->JobItemDownloadHandler() : nullptr, achUrl, bFits);
}

void NotifyDownloadJob(GpcDownloadJob* pJob, int nKind, const char* lpszItemName, const char* lpszSection,
                       int nCode, GpcOdeFileInfo* pInfo)
{
    if (!pJob)
        return;
    // Taken first: the caller's callback may end the request.
    IGpcInstallOwner* pOwner = pJob->Owner;
    if (pJob->Callback)
        pJob->Callback(pJob->CallbackContext, nKind, lpszItemName, lpszSection, nCode, pInfo);
    if (pOwner && nCode != 0 && nCode != GPC_ODE_CANCELLED && lpszItemName)
        ReportFailureToServer(pOwner, nCode, lpszItemName);
}

int RegisterJobItem(GpcDownloadJob* pJob, GpcInstallItem* pItem)
{
    if (!pJob || !pItem) return 0;
    pJob->TotalBytes += pItem->CompressedSize;
    int bAdded = pJob->PendingItems.Add(pItem) ? 1 : 0;
    OpenJobProgressWindow(pJob, pJob->SectionName);
    return bAdded;
}

void GpcDownloadJob::CancelProgress()
{
    if (!HasLiveWindow(*this)) return;
    CloseProgressWindow(&ProgressWindow);
    CancelRequested = 1;
    if (Owner) ReportFailureToServer(Owner, GPC_REPORT_CANCELLED, nullptr);
    SendCancelToHost(Owner ? Owner->HostLink() : GetHostLink(nullptr));
}

void CVRGpcInstallationMgr::CancelProgress()
{
    if (Owner) Owner->SetFailed(1);
    CloseProgressWindow(&ProgressWindow);
    SendCancelToHost(Owner ? Owner->HostLink() : GetHostLink(nullptr));
    if (Owner) ReportFailureToServer(Owner, GPC_REPORT_CANCELLED, nullptr);
}

void FillOdeFileInfo(const GpcInstallItem* pItem, GpcOdeFileInfo* pInfo)
{
    if (!pInfo)
        return;
    memset(pInfo, 0, sizeof(*pInfo));
    if (!pItem)
        return;
    pInfo->lpszSourceName = pItem->SourceName.GetText();
    pInfo->lpszUrl = pItem->Url.GetText();
    pInfo->lpszTarget = pItem->Target.GetText();
    pInfo->lpszVersion = pItem->Version.GetText();
    pInfo->dwFileSize = pItem->FileSize;
    pInfo->dwCompressedSize = pItem->CompressedSize;
    pInfo->lpszAction = pItem->Action.GetText();
    pInfo->lpszUpdateControl = pItem->UpdateControl.GetText();
    pInfo->lpszFailureControl = pItem->FailureControl.GetText();
    pInfo->lpszUnpackedFile = nullptr;
}

namespace {

// Opens the log's root key for writing in a hive: created when missing.
LONG OpenLogRootKeyForWriting(CGpcRegKey* pKey, HKEY hHive, const char* lpszRootKey)
{
    LONG lResult = pKey->Create(hHive, lpszRootKey);
    if (lResult != ERROR_SUCCESS)
        lResult = pKey->Open(hHive, lpszRootKey, KEY_ALL_ACCESS);
    return lResult;
}

PFN_GpcOpenLogRootKey s_pfnOpenLogRootKey = &OpenLogRootKeyForWriting;

const char* HiveName(HKEY hHive)
{
    return hHive == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

}  // namespace

PFN_GpcOpenLogRootKey SetLogRootOpenForTesting(PFN_GpcOpenLogRootKey pfnOpen)
{
    PFN_GpcOpenLogRootKey pfnBefore = s_pfnOpenLogRootKey;
    s_pfnOpenLogRootKey = pfnOpen ? pfnOpen : &OpenLogRootKeyForWriting;
    return pfnBefore;
}

bool CVRGpcLogMgr::OpenLogIn(HKEY hHive, const char* lpszRootKey, const char* lpszLogPath, const char* lpszDefaultDir,
                             const char* lpszProductRoot, const char* lpszProductVersion)
{
    m_keyLog.Close();
    CGpcRegKey keyRoot;
    LONG lRoot = s_pfnOpenLogRootKey(&keyRoot, hHive, lpszRootKey);
    if (lRoot != ERROR_SUCCESS) {
        TraceMessage("keyLogRoot: %s\\%s can not be written (%d)", HiveName(hHive), lpszRootKey, static_cast<int>(lRoot));
        return false;
    }
    LONG lResult = m_keyLog.Create(keyRoot, lpszLogPath);
    TraceMessage("keyLogRoot: %s,%s,%s,%d,%s", TraceText(lpszProductVersion), TraceText(lpszProductRoot), lpszLogPath,
                 static_cast<int>(lResult), lpszRootKey);
    if (lResult != ERROR_SUCCESS && m_keyLog.Open(keyRoot, lpszLogPath, KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return false;
    LONG lSet = m_keyLog.SetStringValue(TraceText(lpszDefaultDir), "DefInstallDir");
    if (lSet != ERROR_SUCCESS) {
        TraceMessage("keyLogRoot: %s\\%s can not be written (%d)", HiveName(hHive), lpszRootKey, static_cast<int>(lSet));
        m_keyLog.Close();
        return false;
    }
    return true;
}

int CVRGpcLogMgr::OpenLogRoot(const char* lpszDefaultDir, const char* lpszBrowserTag, const char* lpszProductRoot,
                              const char* lpszProductVersion)
{
    m_keyLog.Close();
    const char* lpszRootName = lpszProductRoot && lpszProductRoot[0] &&
                                       _stricmp(lpszProductRoot, GPC_DEFAULT_PRODUCT_ROOT) != 0
                                   ? lpszProductRoot
                                   : GPC_DEFAULT_LOG_ROOT;
    char achRootKey[GPC_KEY_PATH_SIZE];
    if (GpcFormat(achRootKey, sizeof(achRootKey), "SOFTWARE\\%s\\Deinstall", lpszRootName) < 0) {
        TraceMessage("keyLogRoot: product root too long: %s", lpszRootName);
        return 0;
    }

    // <browser tag>\<product root>\<product version>, each part only when given.
    char achLogPath[GPC_KEY_PATH_SIZE] = "";
    bool bFits = true;
    if (lpszBrowserTag) {
        bFits = GpcAppendString(achLogPath, sizeof(achLogPath), lpszBrowserTag) != 0;
        if (bFits && (lpszProductRoot || lpszProductVersion))
            bFits = GpcAppendString(achLogPath, sizeof(achLogPath), "\\") != 0;
    }
    if (bFits && lpszProductRoot && lpszProductRoot[0]) {
        bFits = GpcAppendString(achLogPath, sizeof(achLogPath), lpszProductRoot) != 0;
        if (bFits && lpszProductVersion)
            bFits = GpcAppendString(achLogPath, sizeof(achLogPath), "\\") != 0;
    }
    if (bFits && lpszProductVersion)
        bFits = GpcAppendString(achLogPath, sizeof(achLogPath), lpszProductVersion) != 0;
    if (!bFits) {
        // A cut path would log under some other product's key.
        TraceMessage("keyLogRoot: log key path too long: %s", achRootKey);
        return 0;
    }

    // The machine's log serves every user; a standard user may not write
    // it, and then keeps the log (and the version cache beside it) under
    // the same path of the own hive rather than none at all.
    if (OpenLogIn(HKEY_LOCAL_MACHINE, achRootKey, achLogPath, lpszDefaultDir, lpszProductRoot, lpszProductVersion))
        return 1;
    return OpenLogIn(HKEY_CURRENT_USER, achRootKey, achLogPath, lpszDefaultDir, lpszProductRoot, lpszProductVersion)
               ? 1
               : 0;
}

int CVRGpcLogMgr::WriteLog(CVRGpcInstallationMgr* pMgr, GpcInstallItem* pItem)
{
    TraceMessage("LogRoot = %x", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(m_keyLog.GetHandle())));
    if (!m_keyLog.GetHandle() || !pMgr || !pItem)
        return 0;
    char achPath[GPC_MAX_PATH];
    pMgr->GetInstallPath(pItem, achPath);
    // Without a name the entry would land in the key's default value.
    if (pItem->SourceName.IsEmpty() || !achPath[0])
        return 0;
    LONG lResult = m_keyLog.SetStringValue(achPath, pItem->SourceName.GetText());
    TraceMessage("Write log:%s,%s", achPath, pItem->SourceName.GetText());
    return lResult == ERROR_SUCCESS ? 1 : 0;
}

int CVRGpcLogMgr::RemoveLog(GpcInstallItem* pItem)
{
    if (!m_keyLog.GetHandle() || !pItem || pItem->SourceName.IsEmpty())
        return 0;
    LONG lResult = RegDeleteValueA(m_keyLog, pItem->SourceName.GetText());
    TraceMessage("Remove log:%s", pItem->SourceName.GetText());
    return lResult == ERROR_SUCCESS ? 1 : 0;
}

int CVRGpcInstallationMgr::DoActionsForMainComponent(const char* lpszName)
{
    for (int i = 0; i < Items.GetCount(); ++i) {
        GpcInstallItem* pItem = GetItem(i);
        if (!pItem)
            continue;
        if (pItem->State == ITEM_INSTALLED && !RegisterItem(pItem)) {
            char achPath[GPC_MAX_PATH];
            GetInstallPath(pItem, achPath);
            ShowErrorMessage(Owner, GPC_MSG_REGISTER_FAILED, achPath);
            if (pItem->Failure != GPC_FAILURE_IGNORE) {
                TraceMessage("DoActionsForMainComponent: IGNORE = 1");
                return 0;
            }
        }
        if (IsItemNamed(pItem, lpszName))
            return 1;
    }
    return 1;
}

void CVRGpcInstallationMgr::DoActionsAfterMainComponent(const char* lpszName)
{
    int nCount = Items.GetCount();
    int nMain = -1;
    for (int i = 0; i < nCount; ++i) {
        if (IsItemNamed(GetItem(i), lpszName)) {
            nMain = i;
            break;
        }
    }
    if (nMain < 0)
        return;
    for (int i = nMain + 1; i < Items.GetCount(); ++i) {
        GpcInstallItem* pItem = GetItem(i);
        if (pItem && !RegisterItem(pItem)) {
            char achPath[GPC_MAX_PATH];
            GetInstallPath(pItem, achPath);
            ShowErrorMessage(Owner, GPC_MSG_REGISTER_FAILED, achPath);
        }
    }
}
