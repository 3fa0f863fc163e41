// Standard and on-demand downloads, and the per-file completion handlers.
#include "extension/extension.h"

#include <cstring>
#include <memory>
#include <new>

#include "feedback/messages.h"
#include "feedback/progress.h"
#include "feedback/trace.h"
#include "npvrgpc/module_state.h"

namespace {

const char* TextOrEmpty(const CGpcString& text)
{
    return text.GetText() ? text.GetText() : "";
}

// A failure matters unless the manifest says to ignore it; an item without
// a failure control ignores its failures too.
bool FailureCounts(const GpcInstallItem* pItem)
{
    return pItem->Failure != GPC_FAILURE_ABSENT && pItem->Failure != GPC_FAILURE_IGNORE;
}

// The item a download notice stands for, or null when it is gone (the
// section was read again, the instance has ended): such a notice is
// traced and dropped. A completion takes the item out of the table, so a
// second completion of the same download finds nothing either.
GpcInstallItem* FindNoticeItem(void* pContext, DWORD dwStatus)
{
    GpcInstallItem* pItem = static_cast<GpcInstallItem*>(CGpcLiveContext::Find(pContext, GPC_LIVE_ITEM));
    if (!pItem || !pItem->Owner) {
        TraceMessage("vrgpcext: notice of a download that is no longer awaited ignored");
        return nullptr;
    }
    if (dwStatus == 0) pItem->Live.Withdraw();
    return pItem;
}

// The next running on-demand request of an instance, or null.
GpcDownloadJob* FindOwnedJob(const CVRGpcExtension* pOwner, GpcDownloadJob* pAfter)
{
    bool bPassed = pAfter == nullptr;
    for (CGpcLiveContext* p = CGpcLiveContext::First(); p; p = p->GetNext()) {
        if (p->GetKind() != GPC_LIVE_JOB) continue;
        GpcDownloadJob* pJob = static_cast<GpcDownloadJob*>(p->GetObject());
        if (!bPassed) {
            bPassed = pJob == pAfter;
            continue;
        }
        if (pJob->Owner == pOwner) return pJob;
    }
    return nullptr;
}

}  // namespace

const char* CVRGpcExtension::OdeRefusal(int* pbWait)
{
    *pbWait = 0;
    if (m_bShuttingDown) return "the instance is shutting down";
    // The start-up pass owns the manager's list until it has loaded the
    // component, registered the later items and announced the end (or has
    // failed): a section read before then would replace its items. The
    // manifest may not even have arrived; nothing is read or left behind.
    if (!m_bStdDownload && !m_bDownloadDone && !m_bFailed) {
        *pbWait = 1;
        return "the start-up is still running";
    }
    // Every install path starts at the product directory; without one it
    // would start at the root of the current drive.
    if (m_InstallationMgr.DefaultInstallDir.IsEmpty()) return "the install directory is not known";
    return nullptr;
}

void CVRGpcExtension::CancelOdeRequests()
{
    for (GpcDownloadJob* pJob = FindOwnedJob(this, nullptr); pJob; pJob = FindOwnedJob(this, pJob)) {
        pJob->CancelRequested = 1;
    }
}

void CVRGpcExtension::ReleaseOdeRequests()
{
    while (GpcDownloadJob* pJob = FindOwnedJob(this, nullptr)) {
        for (int i = 0; i < pJob->PendingItems.GetCount(); ++i) {
            void* pEntry = pJob->PendingItems.GetAt(i);
            // While a pass runs the job holds a place of its own in the list.
            if (pEntry != pJob) delete static_cast<GpcInstallItem*>(pEntry);
        }
        pJob->PendingItems.RemoveAll();
        DestroyDownloadJob(pJob);
    }
}

int CVRGpcExtension::OdeManifestTrusted(const char* lpszIniFile, CGpcHandle* phHold,
                                        CVRGpcSignedManifest* pManifest)
{
    // Without any manifest nothing is read, so there is nothing to check.
    const char* lpszManifest = lpszIniFile ? lpszIniFile : m_achCurIniFile;
    // The start-up's own copy was asked for under the start-up's name; any
    // other file under its own.
    const char* lpszAsked = (!lpszIniFile && m_bOwnCurIniFile) ? m_achManifestName : lpszManifest;
    return !*lpszManifest || CheckManifestTrust(lpszManifest, lpszAsked, phHold, pManifest);
}

const char* CVRGpcExtension::ChooseOdeManifest(const char* lpszIniFile)
{
    if (!lpszIniFile) return m_achCurIniFile;
    if (!m_achCurIniFile[0]) {
        GpcCopyString(m_achCurIniFile, sizeof(m_achCurIniFile), lpszIniFile);
        m_bOwnCurIniFile = 0;
    }
    return lpszIniFile;
}

int CVRGpcExtension::ReadOdeSection(const char* lpszIniFile, const char* lpszSectionName,
                                    const char* lpszFileName)
{
    m_InstallationMgr.ClearItems();
    m_InstallationMgr.BeginPass();
    if (!lpszSectionName) return 0;
    // Read afresh for every request: the manifest may have been replaced
    // since the last one.
    CGpcIniText manifest(lpszIniFile);
    int nCount = manifest.GetInt(lpszSectionName, "Count", 0);
    if (nCount < 1) return nCount;
    TraceMessage("There are %d files in the file list", nCount);
    ParseSectionEntries(manifest, lpszSectionName, nCount, lpszFileName);
    return nCount;
}

int CVRGpcExtension::StdDownloadExt(const char* lpszIniFile, const char* lpszSectionName, const char* lpszFileName,
                                    GpcOdeCallback pfnCallback, void* pContext)
{
    TraceMessage("VRGPCEXT::StdDownloadExt,lpszIniFile = %s,m_achCurIniFile = %s,section:%s",
                 Printable(lpszIniFile), m_achCurIniFile, Printable(lpszSectionName));

    // Reading a section replaces the manager's list; while the start-up
    // downloads run, their items are still waited for by the host, so the
    // request is refused rather than pulling the items from under them.
    if (m_InstallationMgr.AnyItemStarted() && !m_InstallationMgr.AllItemsSettled()) {
        TraceMessage("VRGPCEXT::StdDownloadExt refused: the start-up downloads are still running");
        return 0;
    }
    int bWait = 0;
    if (const char* lpszWhy = OdeRefusal(&bWait)) {
        TraceMessage("VRGPCEXT::StdDownloadExt refused: %s", lpszWhy);
        return 0;
    }

    // A refused manifest is not read, and does not become the default one;
    // an accepted one cannot change until its section has been read.
    // The request's files are checked against this manifest's hashes, which
    // its job keeps for as long as it runs.
    CGpcHandle hHeld;
    std::unique_ptr<CVRGpcSignedManifest> pSigned;
    if (m_TrustKeys.IsConfigured()) {
        pSigned.reset(new (std::nothrow) CVRGpcSignedManifest());
        if (!pSigned) {
            TraceMessage("VRGPCEXT::StdDownloadExt refused: no memory for the manifest's hashes");
            return 0;
        }
    }
    if (!OdeManifestTrusted(lpszIniFile, &hHeld, pSigned.get())) {
        m_InstallationMgr.ClearItems();
        return 0;
    }
    int nCount = ReadOdeSection(ChooseOdeManifest(lpszIniFile), lpszSectionName, lpszFileName);
    if (!lpszSectionName) return 0;
    if (nCount < 1) return 1;  // nothing to do, and nobody is told

    m_InstallationMgr.ScheduleOdeDownloads(lpszSectionName, pfnCallback, pContext, pSigned.release());
    return 1;
}

int CVRGpcExtension::OdeGetSectionIntegrityExt(const char* lpszIniFile, const char* lpszSectionName,
                                               const char* lpszFileName)
{
    if (m_InstallationMgr.AnyItemStarted()) {
        int bLastDownload = m_InstallationMgr.AllItemsSettled();
        TraceMessage("CVRGpcExtension:OdeGetSectionIntegrityExt,lpszIniFile = %s,m_achCurIniFile = %s,"
                     "LastDownload = %d",
                     Printable(lpszIniFile), m_achCurIniFile, bLastDownload);
        if (!bLastDownload) return 2;
    }
    int bWait = 0;
    if (const char* lpszWhy = OdeRefusal(&bWait)) {
        TraceMessage("CVRGpcExtension:OdeGetSectionIntegrityExt %s: %s", bWait ? "waits" : "refused", lpszWhy);
        return bWait ? 2 : 0;
    }

    // A refused manifest is not read: its section is not intact.
    CGpcHandle hHeld;
    CVRGpcSignedManifest signedManifest;  // only asked about, never acted on
    if (!OdeManifestTrusted(lpszIniFile, &hHeld, &signedManifest)) {
        m_InstallationMgr.ClearItems();
        return 0;
    }
    ReadOdeSection(ChooseOdeManifest(lpszIniFile), lpszSectionName, lpszFileName);
    if (!lpszSectionName) return 0;
    return m_InstallationMgr.HasAnyUpdate() ? 0 : 1;
}

void CVRGpcExtension::DoStdDownloadItem(GpcInstallItem* pItem, DWORD dwStatus, ULONG_PTR value)
{
    if (!pItem) return;
    GpcDownloadJob* pJob = pItem->Job;
    const char* lpszSection = pJob ? pJob->SectionName.GetText() : nullptr;

    if (dwStatus != 0) {
        if (!pJob) return;
        UpdateJobProgress(pJob, static_cast<DWORD>(value));
        GpcOdeFileInfo info;
        memset(&info, 0, sizeof(info));
        info.dwFileSize = pJob->TotalBytes;
        info.dwCompressedSize = pJob->ReceivedBytes;
        NotifyDownloadJob(pJob, GPC_ODE_PROGRESS, pItem->SourceName.GetText(), lpszSection, 0, &info);
        return;
    }

    const char* lpszDownloaded = reinterpret_cast<const char*>(value);
    int nResult = -1;
    bool bRefused = false;
    // Held from the hash until the last unpack below has read the file.
    CGpcHandle hDownloadHeld;
    if (lpszDownloaded) nResult = InstallTrustedDownload(pItem, lpszDownloaded, &bRefused, &hDownloadHeld);

    GpcOdeFileInfo info;
    memset(&info, 0, sizeof(info));
    FillOdeFileInfo(pItem, &info);

    // A file that could not be put in place is handed to the caller
    // unpacked, in a temporary file that lives as long as the notice.
    char achUnpacked[GPC_MAX_PATH];
    achUnpacked[0] = '\0';
    bool bTempMade = false;
    if ((nResult == GPC_INSTALL_NOT_WRITABLE || nResult == GPC_INSTALL_UNPACK_FAILED) && lpszDownloaded &&
        !bRefused) {
        char achTempDir[GPC_MAX_PATH];
        DWORD dwLen = GetTempPathA(sizeof(achTempDir), achTempDir);
        if (dwLen && dwLen < sizeof(achTempDir) && GetTempFileNameA(achTempDir, "VR", 0, achUnpacked)) {
            bTempMade = true;
            if (HostLink().UnpackFile(lpszDownloaded, achUnpacked) == 0) {
                info.lpszUnpackedFile = achUnpacked;
            }
        }
    }
    hDownloadHeld.Reset();

    if (!m_InstallationMgr.RegisterItem(pItem)) {
        char achPath[GPC_MAX_PATH];
        m_InstallationMgr.GetInstallPath(pItem, achPath);
        ShowErrorMessage(this, GPC_MSG_REGISTER_FAILED, achPath);
    }

    bool bCancelled = pJob && pJob->CancelRequested;
    if (pJob) {
        NotifyDownloadJob(pJob, GPC_ODE_FILE_DONE, pItem->SourceName.GetText(), lpszSection,
                          bCancelled ? -7 : nResult, &info);
    }
    TraceMessage("vrgpcext: sec: %s, file: %s, res: %d", Printable(lpszSection), TextOrEmpty(pItem->SourceName),
                 nResult);

    // A request's cancel may have come while the caller was being told.
    bCancelled = pJob && pJob->CancelRequested;
    if (pJob && (bCancelled || FailureCounts(pItem)) && nResult < pJob->SectionResult) pJob->SectionResult = nResult;

    if (bTempMade) DeleteFileA(achUnpacked);

    bool bLast = false;
    if (pJob && pJob->PendingItems.Find(pItem) >= 0) {
        pJob->PendingItems.Remove(pItem);
        bLast = pJob->PendingItems.GetCount() == 0;
    }
    if (bLast) {
        NotifyDownloadJob(pJob, GPC_ODE_SECTION_DONE, nullptr, lpszSection, pJob->SectionResult, nullptr);
        DestroyDownloadJob(pJob);
        delete pItem;
        TraceMessage("StdDownload Finished");
    } else {
        delete pItem;
    }
}

void CVRGpcExtension::DoItemInstall(GpcInstallItem* pItem, DWORD dwStatus, ULONG_PTR value)
{
    if (!pItem) return;
    if (dwStatus != 0) {
        UpdateInstallProgress(&m_InstallationMgr, static_cast<DWORD>(value));
        return;
    }

    const char* lpszDownloaded = reinterpret_cast<const char*>(value);
    if (!lpszDownloaded) {
        if (!m_bFailed) {
            ShowErrorMessage(this, GPC_MSG_DOWNLOAD_FAILED, TextOrEmpty(pItem->Url));
            m_bFailed = 1;
        }
        // The file will not come: the item has failed, it is no longer on
        // its way (on-demand callers would otherwise wait for it for ever).
        pItem->State = ITEM_FAILED;
        return;
    }

    bool bRefused = false;
    CGpcHandle hDownloadHeld;
    int nResult = InstallTrustedDownload(pItem, lpszDownloaded, &bRefused, &hDownloadHeld);
    hDownloadHeld.Reset();
    bool bShow = FailureCounts(pItem);
    // "redirect" is about a busy destination: a file that did not unpack is
    // passed over as under "ignore" (it stays failed). A file refused for
    // its hash is no such failure and is always told.
    if (nResult == GPC_INSTALL_UNPACK_FAILED && !bRefused && pItem->Failure == GPC_FAILURE_REDIRECT) bShow = false;
    const char* lpszName = TextOrEmpty(pItem->SourceName);
    bool bFatal = false;
    if (bShow) {
        switch (nResult) {
        case GPC_INSTALL_NO_FILE:
            ShowErrorMessage(this, GPC_MSG_NO_DOWNLOADED_FILE, lpszName);
            bFatal = true;
            break;
        case GPC_INSTALL_NOT_WRITABLE:
        case GPC_INSTALL_UNPACK_FAILED:
            ShowErrorMessage(this, GPC_MSG_INSTALL_FAILED, lpszName);
            bFatal = true;
            break;
        case GPC_INSTALL_RESTART_NEEDED:
            // The new version takes over at the next restart; go on.
            ShowErrorMessage(this, GPC_MSG_RESTART_NEEDED, GetMessageTitle());
            break;
        case GPC_INSTALL_NEED_ADMIN:
            ShowErrorMessage(this, GPC_MSG_NEED_ADMIN, lpszName);
            bFatal = true;
            break;
        default:
            break;
        }
    }
    // Once the component runs, a late file failure is shown but does not
    // stop it.
    if (bFatal && !m_bComponentLoadStarted) m_bFailed = 1;
    TraceMessage("DoItemInstall: %d, IGNORE: %d", nResult, bShow ? 0 : 1);

    if (m_bComponentLoadStarted && !m_InstallationMgr.RegisterItem(pItem)) {
        char achPath[GPC_MAX_PATH];
        m_InstallationMgr.GetInstallPath(pItem, achPath);
        ShowErrorMessage(this, GPC_MSG_REGISTER_FAILED, achPath);
    }
}

int CVRGpcExtension::InstallTrustedDownload(GpcInstallItem* pItem, const char* lpszDownloaded, bool* pbRefused,
                                            CGpcHandle* phHold)
{
    *pbRefused = false;
    if (CheckDownloadTrust(pItem, lpszDownloaded, phHold)) {
        int nResult = m_InstallationMgr.DoItemInstallation(pItem, lpszDownloaded);
        if (m_TrustKeys.IsConfigured() && pItem->State == ITEM_INSTALLED) KeepRunVerified(pItem);
        return nResult;
    }
    // A file the signed manifest does not vouch for fails as a file that
    // could not be unpacked, but is never unpacked, not even for an
    // on-demand caller, and what is installed stays as it is.
    *pbRefused = true;
    pItem->State = ITEM_FAILED;
    return GPC_INSTALL_UNPACK_FAILED;
}

void CVRGpcExtension::KeepRunVerified(GpcInstallItem* pItem)
{
    // Unpacked from the bytes that were hashed (the download was held all
    // along): it may run in this pass without a second look. A file that
    // will run at later starts keeps its hash for them.
    pItem->RunVerified = 1;
    const char* lpszComponent = GetParam("GpcComponentName");
    bool bRuns = pItem->ActionKind != GPC_ACTION_NONE ||
                 (lpszComponent && CVRGpcInstallationMgr::IsItemNamed(pItem, lpszComponent));
    if (!bRuns) return;
    char achPath[GPC_MAX_PATH];
    achPath[0] = '\0';
    m_InstallationMgr.GetInstallPath(pItem, achPath);
    if (achPath[0]) RecordVerifiedFile(achPath);
}

int CVRGpcExtension::CheckDownloadTrust(GpcInstallItem* pItem, const char* lpszDownloaded, CGpcHandle* phHold)
{
    if (!m_TrustKeys.IsConfigured()) return 1;
    // The hash table is keyed by the item's Url field, as the publisher's
    // tool writes it; items of the page ("GpcDependency") are looked up the
    // same way, and without an accepted manifest none passes. An on-demand
    // item is looked up in its own request's manifest.
    const char* lpszUrl = pItem->Url.GetText();
    const CVRGpcSignedManifest* pSigned = nullptr;
    if (pItem->Job) pSigned = pItem->Job->Signed;
    else if (m_bManifestTrusted) pSigned = &m_SignedManifest;
    int nResult = GPC_TRUST_NO_HASH;
    if (pSigned && lpszUrl && *lpszUrl) nResult = GpcCheckFileHash(*pSigned, lpszUrl, lpszDownloaded, phHold);
    if (nResult == GPC_TRUST_OK) {
        TraceMessage("vrgpcext: hash of %s matches the signed manifest", lpszUrl);
        return 1;
    }
    TraceMessage("vrgpcext: download of %s refused: %s", Printable(lpszUrl), GpcTrustResultName(nResult));
    return 0;
}

void WINAPI CVRGpcExtension::OnItemDownload(void* /*pIgnored*/, void* pContext, DWORD dwStatus, ULONG_PTR value)
{
    try {
        GpcInstallItem* pItem = FindNoticeItem(pContext, dwStatus);
        if (!pItem) return;
        // Only the extension hands this handler to the host for its items.
        static_cast<CVRGpcExtension*>(pItem->Owner)->DoItemInstall(pItem, dwStatus, value);
    } catch (...) {
        TraceMessage("vrgpcext: download callback ended by an unexpected exception");
    }
}

void WINAPI CVRGpcExtension::OnStdItemDownload(void* /*pIgnored*/, void* pContext, DWORD dwStatus, ULONG_PTR value)
{
    try {
        GpcInstallItem* pItem = FindNoticeItem(pContext, dwStatus);
        if (!pItem) return;
        static_cast<CVRGpcExtension*>(pItem->Owner)->DoStdDownloadItem(pItem, dwStatus, value);
    } catch (...) {
        TraceMessage("vrgpcext: download callback ended by an unexpected exception");
    }
}
