// Standard and on-demand downloads, and the per-file completion handlers.
#include "extension/extension.h"

#include <cstring>

#include "extension/module_state.h"
#include "feedback/messages.h"
#include "feedback/progress.h"
#include "feedback/trace.h"

namespace {

const char* Printable(const char* lpszText)
{
    return lpszText ? lpszText : "(null)";
}

const char* TextOrEmpty(const CGpcString& text)
{
    return text.GetText() ? text.GetText() : "";
}

// A failure matters unless the manifest says to ignore it; an item without
// a failure control ignores its failures too.
bool FailureCounts(const GpcInstallItem* pItem)
{
    return !pItem->FailureControl.IsNull() && !FieldIs(pItem->FailureControl, "ignore");
}

}  // namespace

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
    if (!lpszSectionName) return 0;
    int nCount = IniGetInt(lpszSectionName, "Count", 0, lpszIniFile);
    if (nCount < 1) return nCount;
    TraceMessage("There are %d files in the file list", nCount);
    ParseSectionEntries(lpszIniFile, lpszSectionName, nCount, lpszFileName);
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

    int nCount = ReadOdeSection(ChooseOdeManifest(lpszIniFile), lpszSectionName, lpszFileName);
    if (!lpszSectionName) return 0;
    if (nCount < 1) return 1;  // nothing to do, and nobody is told

    m_InstallationMgr.ScheduleOdeDownloads(lpszSectionName, pfnCallback, pContext);
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
    if (lpszDownloaded) nResult = m_InstallationMgr.DoItemInstallation(pItem, lpszDownloaded);

    GpcOdeFileInfo info;
    memset(&info, 0, sizeof(info));
    FillOdeFileInfo(pItem, &info);

    // A file that could not be put in place is handed to the caller
    // unpacked, in a temporary file that lives as long as the notice.
    char achUnpacked[GPC_MAX_PATH];
    achUnpacked[0] = '\0';
    bool bTempMade = false;
    if ((nResult == GPC_INSTALL_NOT_WRITABLE || nResult == GPC_INSTALL_UNPACK_FAILED) && lpszDownloaded) {
        char achTempDir[GPC_MAX_PATH];
        DWORD dwLen = GetTempPathA(sizeof(achTempDir), achTempDir);
        if (dwLen && dwLen < sizeof(achTempDir) && GetTempFileNameA(achTempDir, "VR", 0, achUnpacked)) {
            bTempMade = true;
            if (g_pHostTable && g_pHostTable->HostUnpackFile &&
                g_pHostTable->HostUnpackFile(m_pGpcCookie, lpszDownloaded, achUnpacked) == 0) {
                info.lpszUnpackedFile = achUnpacked;
            }
        }
    }

    if (!m_InstallationMgr.RegisterItem(pItem)) {
        char achPath[GPC_MAX_PATH];
        m_InstallationMgr.GetInstallPath(pItem, achPath);
        ShowErrorMessage(this, 9, achPath);
    }

    if (pJob) {
        NotifyDownloadJob(pJob, GPC_ODE_FILE_DONE, pItem->SourceName.GetText(), lpszSection,
                          m_bCancelRequested ? -7 : nResult, &info);
    }
    TraceMessage("vrgpcext: sec: %s, file: %s, res: %d", Printable(lpszSection), TextOrEmpty(pItem->SourceName),
                 nResult);

    if ((m_bCancelRequested || FailureCounts(pItem)) && nResult < m_nSectionResult) m_nSectionResult = nResult;

    if (bTempMade) DeleteFileA(achUnpacked);

    bool bLast = false;
    if (pJob && pJob->PendingItems.Find(pItem) >= 0) {
        pJob->PendingItems.Remove(pItem);
        bLast = pJob->PendingItems.GetCount() == 0;
    }
    if (bLast) {
        int nSectionResult = m_nSectionResult;
        m_nSectionResult = 0;
        m_bCancelRequested = 0;
        NotifyDownloadJob(pJob, GPC_ODE_SECTION_DONE, nullptr, lpszSection, nSectionResult, nullptr);
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
            ShowErrorMessage(this, 6, TextOrEmpty(pItem->Url));
            m_bFailed = 1;
        }
        // The file will not come: the item has failed, it is no longer on
        // its way (on-demand callers would otherwise wait for it for ever).
        pItem->State = ITEM_FAILED;
        return;
    }

    int nResult = m_InstallationMgr.DoItemInstallation(pItem, lpszDownloaded);
    bool bShow = FailureCounts(pItem);
    const char* lpszName = TextOrEmpty(pItem->SourceName);
    bool bFatal = false;
    if (bShow) {
        switch (nResult) {
        case GPC_INSTALL_NO_FILE:
            ShowErrorMessage(this, 15, lpszName);
            bFatal = true;
            break;
        case GPC_INSTALL_NOT_WRITABLE:
        case GPC_INSTALL_UNPACK_FAILED:
            ShowErrorMessage(this, 7, lpszName);
            bFatal = true;
            break;
        case GPC_INSTALL_RESTART_NEEDED:
            // The new version takes over at the next restart; go on.
            ShowErrorMessage(this, 8, GetMessageTitle());
            break;
        case GPC_INSTALL_NEED_ADMIN:
            ShowErrorMessage(this, 21, lpszName);
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
        ShowErrorMessage(this, 9, achPath);
    }
}

void WINAPI CVRGpcExtension::OnItemDownload(void* /*pIgnored*/, void* pContext, DWORD dwStatus, ULONG_PTR value)
{
    GpcInstallItem* pItem = static_cast<GpcInstallItem*>(pContext);
    if (!pItem || !pItem->Owner) return;
    try {
        pItem->Owner->DoItemInstall(pItem, dwStatus, value);
    } catch (...) {
        TraceMessage("vrgpcext: download callback ended by an unexpected exception");
    }
}

void WINAPI CVRGpcExtension::OnStdItemDownload(void* /*pIgnored*/, void* pContext, DWORD dwStatus, ULONG_PTR value)
{
    GpcInstallItem* pItem = static_cast<GpcInstallItem*>(pContext);
    if (!pItem || !pItem->Owner) return;
    try {
        pItem->Owner->DoStdDownloadItem(pItem, dwStatus, value);
    } catch (...) {
        TraceMessage("vrgpcext: download callback ended by an unexpected exception");
    }
}
