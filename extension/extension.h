// The one extension object per host instance: start-up, manifest handling,
// download drivers, heartbeat, main component and actions.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "install/install_owner.h"
#include "install/installation_mgr.h"
#include "install/manifest_trust.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/host_link.h"
#include "npvrgpc/module_state.h"
#include "npvrgpc/npbase.h"
#include "script/call_engine.h"
#include "script/ocx_container.h"
#include "script/script_site.h"
#include "vrgpcext/host_table.h"

// Network monitor (VRNETEXT.DLL) entry points.
typedef int (WINAPI* PFN_NSpySetPluginVersion)(DWORD);
typedef int (WINAPI* PFN_NSpySetSocketContext)(DWORD, DWORD);
typedef int (WINAPI* PFN_NSpyIsPluginPatchEnabled)();
typedef int (WINAPI* PFN_NSpyStart)(DWORD);
typedef int (WINAPI* PFN_NSpyStop)();

// OS classes that select the manifest name.
enum { GPC_OS_UNKNOWN = 0, GPC_OS_WIN95 = 1, GPC_OS_WIN98 = 2, GPC_OS_NT4 = 3, GPC_OS_WIN2K = 4 };

// Value of the desktop-window property "UH<pid>" that marks the user
// directory as the product root for later instances in the process.
enum { GPC_USER_DIR_MARK = 0x5A5A };

// The lower rooms know it only through the small interfaces they declare:
// the installation's owner (with the feedback site) and the script site.
class CVRGpcExtension : public IGpcInstallOwner, public IGpcScriptSite {
public:
    explicit CVRGpcExtension(GpcCookie pCookie);
    virtual ~CVRGpcExtension();
    CVRGpcExtension(const CVRGpcExtension&) = delete;
    CVRGpcExtension& operator=(const CVRGpcExtension&) = delete;

    // --- Start-up ---------------------------------------------------------
    void InitInstance();
    int GetOsClass();
    // 1 when the plug-in host leaves "GpcUnpackVersion"/"GpcExtVersion"
    // absent or empty (dependency-list path); sets m_bCheckItemOsVersion then.
    int CheckVersionParams();
    // "NS<product version of the host executable>" or "NS_Unknown".
    void GetHostProductVersion(char* lpszBuffer, int nSize);
    // "GpcMessageTitle", or "Corvo".
    const char* GetMessageTitle();
    const char* GetUrl(int nIndex);
    const char* GetAction(int nIndex);
    // A page parameter through HostGetParam; null when absent.
    const char* GetParam(const char* lpszName);
    GpcCookie GetCookie() const override { return m_pGpcCookie; }
    GpcHostLink HostLink() const override { return GetHostLink(m_pGpcCookie); }

    // --- What the installation and the feedback windows read and set -------
    HWND GetMessageWindow() const override { return m_hMessageWnd; }
    int IsFailed() const override { return m_bFailed; }
    void SetFailed(int bFailed) override { m_bFailed = bFailed; }
    int IsStdDownload() const override { return m_bStdDownload; }
    void SetOdeFailureCallback(GpcOdeCallback pfnCallback) override { m_pfnOdeFailureCallback = pfnCallback; }
    int ChecksItemOsVersion() const override { return m_bCheckItemOsVersion; }
    int IsUserDirRoot() const override { return m_bUserDirAsRoot; }
    GpcDownloadCallback ItemDownloadHandler() const override { return &CVRGpcExtension::OnItemDownload; }
    GpcDownloadCallback JobItemDownloadHandler() const override { return &CVRGpcExtension::OnStdItemDownload; }
    int MayRun(GpcInstallItem* pItem, const char* lpszPath) override;

    // --- Manifest selection and parsing ----------------------------------
    int BuildManifestUrl(int nOsClass, char* lpszUrl, int nSize = 1024);
    static void WINAPI OnManifestDownload(void* pIgnored, void* pContext, DWORD dwStatus, ULONG_PTR value);
    void OnManifestStatus(DWORD dwStatus, ULONG_PTR value);
    void PrepareInstallation(const char* lpszIniFile);
    void GetProductDir(char* lpszDir, int bRootOnly);
    void EnableUserDirAsRoot(int bValue);
    int CheckUpdateStatus(int bUpdate) override;
    void ParseInitFile(const char* lpszIniFile, int bSuppress);

    // --- Standard and on-demand download ---------------------------------
    int StdDownloadExt(const char* lpszIniFile, const char* lpszSectionName, const char* lpszFileName,
                       GpcOdeCallback pfnCallback, void* pContext);
    int OdeGetSectionIntegrityExt(const char* lpszIniFile, const char* lpszSectionName,
                                  const char* lpszFileName);
    void DoItemInstall(GpcInstallItem* pItem, DWORD dwStatus, ULONG_PTR value);
    void DoStdDownloadItem(GpcInstallItem* pItem, DWORD dwStatus, ULONG_PTR value);
    // The GpcDownloadCallbacks of item downloads: the context is the item's
    // live-context number; a number whose item is gone is traced and dropped.
    static void WINAPI OnItemDownload(void* pIgnored, void* pContext, DWORD dwStatus, ULONG_PTR value);
    static void WINAPI OnStdItemDownload(void* pIgnored, void* pContext, DWORD dwStatus, ULONG_PTR value);
    // Marks every running on-demand request of this instance as cancelled;
    // with none running nothing changes.
    void CancelOdeRequests();

    // --- Heartbeat and shut-down ------------------------------------------
    void Heartbeat();
    void SuppressedStart();
    void StartNetMonitor();
    void StopNetMonitor();
    static int WINAPI OnSocketContext(void* pContext, DWORD dwValue1, DWORD dwValue2);
    void ExitInstance();

    // --- Main component -----------------------------------------------------
    void LoadMainComponent();
    void UnloadMainComponent();
    int CreateMainControl(REFCLSID clsid);
    void RemoveObject();
    IOleObject* GetControlObject();
    static void GetComponentClsid(const char* lpszText, CLSID* pClsid);

    // --- Actions, notifications and locations -----------------------------
    int ExecuteScript(const char* lpszScript);
    void HandleNotification(DWORD dwIndex, DWORD dwValue);
    const char* ResolveParameter(const char* lpszValue) override;
    HRESULT ChangeLocation(CGpcPtrArray* pArgs) override;
    HRESULT OpenLocation(CGpcPtrArray* pArgs) override;

    // --- Members, in the system's declaration order -------------------------
    GpcCookie m_pGpcCookie;
    CVRGpcInstallationMgr m_InstallationMgr;
    int m_bReady;
    int m_bFailed;
    int m_bComponentLoadStarted;
    int m_bDownloadDone;
    int m_bSuppressInstallation;
    int m_bCheckItemOsVersion;
    int m_bStdDownload;
    char m_achSavedCurDir[GPC_MAX_PATH];
    CGpcPtrArray m_UrlList;     // owns its heap strings
    CGpcPtrArray m_ActionList;  // owns its heap strings
    CVRGpcCallEngine m_CallEngine;
    CVRGpcOcxContainer m_OcxContainer;
    CGpcModule m_hMainComponent;
    HWND m_hMessageWnd;
    int m_bUserDirAsRoot;
    GpcOdeCallback m_pfnOdeFailureCallback;
    CGpcModule m_hNetMonitor;
    PFN_NSpySetPluginVersion m_pfnNSpySetPluginVersion;
    PFN_NSpySetSocketContext m_pfnNSpySetSocketContext;
    PFN_NSpyIsPluginPatchEnabled m_pfnNSpyIsPluginPatchEnabled;
    PFN_NSpyStart m_pfnNSpyStart;
    PFN_NSpyStop m_pfnNSpyStop;
    char m_achCurIniFile[GPC_MAX_PATH];
    // Kept for the names that logs and tools know; each request now holds
    // its own result and cancel flag (GpcDownloadJob), so these stay 0.
    int m_nSectionResult;
    int m_bCancelRequested;
    // Set only while HandleNotification runs an action for the host: the
    // text behind "$LPARAM" is read at the host's own value then, never at
    // a number that a page or a script put into "%LPARAM".
    int m_bNotificationActive = 0;
    DWORD m_dwNotificationValue = 0;

private:
    // Reads one section of a manifest into the installation manager's list
    // (cleared first); with a file name the list ends with that item alone.
    // Returns the section's "Count" (0 without a section name).
    int ReadOdeSection(const char* lpszIniFile, const char* lpszSectionName, const char* lpszFileName);
    // Parses the entries "File1" .. "File<nCount>" of a section into the
    // list, stopping at an entry shorter than 2 characters. With a file name
    // the list keeps only that item (the reading stops once it is found).
    void ParseSectionEntries(CGpcIniText& manifest, const char* lpszSection, int nCount,
                             const char* lpszFileName);
    // The manifest the on-demand operations read: the caller's, else the
    // start-up copy; the caller's becomes the default while none is kept.
    const char* ChooseOdeManifest(const char* lpszIniFile);
    // Copies the downloaded manifest beside the library and to a temporary
    // file that becomes m_achCurIniFile.
    void KeepManifestCopies(const char* lpszDownloaded);
    // Why an on-demand operation may not read a section now (for the
    // caller's trace), or null when it may. *pbWait is 1 when asking again
    // later can help (the start-up is still running).
    const char* OdeRefusal(int* pbWait);
    // Ends the running on-demand requests of this instance without telling
    // their callers (the page is going away), deleting their items.
    void ReleaseOdeRequests();
    // With a key configured: checks a manifest before anything is read from
    // it. 1 when it may be read (no key, or accepted: its hash table is kept
    // and its serial recorded); 0 when refused (traced, shown and reported).
    // An accepted manifest's hash table goes to *pManifest, and its file
    // stays shut to writers while *phHold holds it: the caller reads it
    // before letting go, so that what is read is what was verified.
    // lpszAskedName is the name (or path) the manifest was asked for: one
    // signed for another name is refused.
    int CheckManifestTrust(const char* lpszIniFile, const char* lpszAskedName, CGpcHandle* phHold,
                           CVRGpcSignedManifest* pManifest);
    // Traces a refusal, and shows and reports it unless this manifest was
    // last refused for the same reason.
    void RefuseManifest(const char* lpszIniFile, int nResult);
    // The same for the manifest an on-demand operation is about to read
    // (the caller's, else the start-up copy).
    int OdeManifestTrusted(const char* lpszIniFile, CGpcHandle* phHold, CVRGpcSignedManifest* pManifest);
    // Installs a downloaded file when the signed manifest vouches for it
    // (or no key is configured); otherwise fails the item without touching
    // anything, sets *pbRefused and answers GPC_INSTALL_UNPACK_FAILED.
    // A file that passed stays held in *phHold (shared with readers only),
    // so that what the host unpacks is what was hashed; the caller lets go
    // once every unpack of it is done.
    int InstallTrustedDownload(GpcInstallItem* pItem, const char* lpszDownloaded, bool* pbRefused,
                               CGpcHandle* phHold);
    // With a key configured: 1 when a downloaded file matches the hash the
    // accepted manifest lists for the item's Url, else 0 (traced); a match
    // is held in *phHold. Without a key every download passes, unread.
    int CheckDownloadTrust(GpcInstallItem* pItem, const char* lpszDownloaded, CGpcHandle* phHold);

    // With a key configured: GPC_TRUST_OK when the file at lpszPath may be
    // loaded or run for the item (installed in this pass from a verified
    // download, unchanged since it was verified, or matching the hash of the
    // item's accepted manifest), else why not. Without a key: GPC_TRUST_OK.
    int CheckRunTrust(GpcInstallItem* pItem, const char* lpszPath);
    // Keeps a file's hash with its stamp, so that the next start need not
    // read it again.
    void RecordVerifiedFile(const char* lpszPath);
    void OpenVerifiedStore(CGpcRegKey* pStore);
    // After a verified download installed: the item may run in this pass.
    void KeepRunVerified(GpcInstallItem* pItem);
    // Set once the main component's load has been tried (whatever came of
    // it): a file refused before then stops the start-up.
    int m_bMainComponentLoaded = 0;

    // Stands for this instance while its manifest download runs.
    CGpcLiveContext m_ManifestContext;
    // Set when ExitInstance begins: nothing is read, started or installed
    // after that.
    int m_bShuttingDown = 0;
    // 1 while the host holds the socket callback (slot 13).
    int m_bSocketCallbackSet = 0;

    // The keys manifests must be signed with (the library's own and the
    // administrator's), read once at the start-up; none configured means
    // nothing is checked.
    CVRGpcTrustKeys m_TrustKeys;
    // The start-up manifest, once accepted: the hashes the start-up's
    // downloads are checked against (each on-demand request keeps its own
    // manifest's in its job). m_bManifestTrusted is 0 until it has been
    // accepted, and then none of them passes.
    CVRGpcSignedManifest m_SignedManifest;
    int m_bManifestTrusted = 0;
    // The last manifest refused, and why. The same refusal again (a page
    // polling a section) is traced and refused, but the user has seen the
    // message and the server has the report already.
    char m_achRefusedManifest[GPC_MAX_PATH] = "";
    int m_nRefusedReason = GPC_TRUST_OK;
    // The name the start-up manifest was asked for (the last part of its
    // url): its temporary copy is checked under this name.
    char m_achManifestName[GPC_MAX_PATH] = "";

    // 1 when m_achCurIniFile names the temporary copy this object made (the
    // destructor deletes only that one).
    int m_bOwnCurIniFile;
    // That copy, held open while this object uses it: another instance that
    // starts meanwhile and removes the copies of interrupted runs cannot
    // delete a file that is open.
    CGpcHandle m_hCurIniFile;
};
