// The installation manager: manifest items, their list, install directories,
// the update decision, installation of downloaded files, download requests
// and the installation log.
#pragma once

#include <windows.h>

#include "feedback/progress.h"
#include "install/install_owner.h"
#include "install/item_text.h"
#include "install/live_context.h"
#include "install/version_cache.h"
#include "npvrgpc/npbase.h"
#include "vrgpcext/host_table.h"

class CVRGpcLogMgr;
struct GpcDownloadJob;
class CVRGpcSignedManifest;

// Item states, with the numeric values the system has always used.
enum GpcItemState {
    ITEM_FAILED = 0,
    ITEM_DOWNLOADING = 1,
    ITEM_INSTALLED = 2,
    ITEM_DONE = 3,
    ITEM_LISTED = 4,
};

// Installation result codes of DoItemInstallation.
enum {
    GPC_INSTALL_OK = 0,
    GPC_INSTALL_NOT_WRITABLE = -2,
    GPC_INSTALL_UNPACK_FAILED = -3,
    GPC_INSTALL_RESTART_NEEDED = -4,
    GPC_INSTALL_NO_FILE = -5,
    GPC_INSTALL_NEED_ADMIN = -100,
};

// What the update decision reads from a file (its version, tag or size) is
// at most 255 characters: buffers for it hold this many bytes.
enum { GPC_CURRENT_VALUE = 256 };

// One file of a manifest section. Text fields are absent (null) or owned
// text (maybe empty); absence and emptiness are different decisions.
// The manifest fields (SourceName ... OsVersion) come from GpcItemFields.
struct GpcInstallItem : GpcItemFields {
    explicit GpcInstallItem(IGpcInstallOwner* pOwner);
    ~GpcInstallItem() = default;

    int State = ITEM_LISTED;
    // Set by the owner when the file was installed in this pass from a
    // download it verified: nothing needs checking before it runs.
    int RunVerified = 0;
    IGpcInstallOwner* Owner;
    GpcDownloadJob* Job = nullptr;
    // The item's entry among the live download contexts while the host
    // runs its download (PrepareDownload and PrepareJobDownload enter it).
    CGpcLiveContext Live;

    // The install directory as first resolved in a pass, with what it was
    // resolved from: it is answered again only while all of that is unchanged
    // (see CVRGpcInstallationMgr::GetInstallDir). Pass 0: nothing kept.
    struct GpcDirMemo {
        unsigned Pass = 0;
        int UserDirRoot = 0;
        bool Resolved = false;  // false: refused (no default, or too long)
        CGpcString DefaultDir;
        CGpcString Target;
        CGpcString Dir;
    } InstallDirMemo;

    // 1 when the file at lpszPath needs this item's download, 0 when current.
    // lpszCurrent (GPC_CURRENT_VALUE bytes, may be null) receives what was read. With a
    // cache, a version read before in the same pass is not read again; the
    // decision and its trace are the same either way.
    int NeedUpdate(const char* lpszPath, char* lpszCurrent = nullptr, CVRGpcVersionCache* pVersions = nullptr);
};

// Case-insensitive test of a text field against a word; false when absent.
bool FieldIs(const CGpcString& field, const char* lpszWord);

// The record of one on-demand request (a section download with its own callback).
struct GpcDownloadJob : IGpcProgressOwner {
    GpcDownloadJob() { Live.Register(GPC_LIVE_JOB, this); }
    virtual ~GpcDownloadJob() = default;
    GpcDownloadJob(const GpcDownloadJob&) = delete;
    GpcDownloadJob& operator=(const GpcDownloadJob&) = delete;

    GpcCookie ProgressCookie() const override { return CookieOf(Owner); }
    // The window belongs to one request: only that request is cancelled.
    void CancelProgress() override;

    IGpcInstallOwner* Owner = nullptr;
    CGpcString SectionName;
    GpcOdeCallback Callback = nullptr;
    void* CallbackContext = nullptr;
    CGpcPtrArray PendingItems;  // not owning
    // Each request keeps its own outcome: the lowest counted file result,
    // and whether its caller or its window's Cancel asked to stop it.
    int SectionResult = 0;
    int CancelRequested = 0;
    // The accepted manifest this request's files are checked against (owned,
    // deleted with the job; null when no key is configured). Each request
    // keeps its own: manifests checked while it runs do not change it.
    CVRGpcSignedManifest* Signed = nullptr;
    // Lets the owner find its running requests (cancel, shut-down).
    CGpcLiveContext Live;
};

GpcDownloadJob* CreateDownloadJob(IGpcInstallOwner* pOwner, const char* lpszSectionName,
                                  GpcOdeCallback pfnCallback, void* pContext);
void DestroyDownloadJob(GpcDownloadJob* pJob);
// Counts an item's bytes into its job and lists it as pending; the job's
// window opens with its first item. 1 when the item was listed.
int RegisterJobItem(GpcDownloadJob* pJob, GpcInstallItem* pItem);
// Calls the job's callback and reports failed files to the server.
void NotifyDownloadJob(GpcDownloadJob* pJob, int nKind, const char* lpszItemName,
                       const char* lpszSection, int nCode, GpcOdeFileInfo* pInfo);
// Fills the record from the item's nine manifest fields; field 10 null.
void FillOdeFileInfo(const GpcInstallItem* pItem, GpcOdeFileInfo* pInfo);

// Searches a file for "#~@CorvoVersionTag@~#" and copies the tag after it.
int GetTaggedVersion(const char* lpszPath, char* lpszOut, int nSize = 256);

int StartSpoolerService();
int CanManageServices();
int RegisterServerDll(const char* lpszPath);
// Under WOW64: the 32-bit system folder (SysWOW64), and the native one as a
// 32-bit process reaches it ("Sysnative" in the Windows folder). Buffers of
// 260 bytes; false when the folder is unknown.
bool GetWow64SystemDir(char* lpszDir);
bool GetSysnativeDir(char* lpszDir);
// The path a delayed replacement records for lpszPath under WOW64: a file
// of the system folder (lpszSystemDir) in the 32-bit folder (lpszWow64Dir),
// except in the folders WOW64 does not redirect (the spooler's, the
// catalogues, drivers\etc, ...); a path through lpszSysnativeDir under the
// system folder's own name; any other path as it is. False when it does
// not fit in nSize bytes.
bool MapPathForRestart(const char* lpszPath, const char* lpszSystemDir, const char* lpszWow64Dir,
                       const char* lpszSysnativeDir, char* lpszOut, int nSize);
// 1 when the new file will replace the destination at the next restart.
int ReplaceFileAtReboot(const char* lpszNewFile, const char* lpszDestination);
// The call that records a move for the next restart. Tests put in one that
// fails as it does for a user who may not schedule renames (under Wine every
// process may); null puts MoveFileExA back. Returns the call used before.
typedef BOOL(WINAPI* PFN_GpcMoveFileEx)(const char*, const char*, DWORD);
PFN_GpcMoveFileEx SetRebootMoveForTesting(PFN_GpcMoveFileEx pfnMove);
void FixStdNamesFileTime(const char* lpszPath, const char* lpszName);
// Whether a file name is one that GetTempFileName made with this prefix:
// the prefix, one to four hex digits, ".tmp" (letter case aside).
bool IsLibraryTempName(const char* lpszName, const char* lpszPrefix);
// Whether the library gives the file at lpszPath fixed times of its own
// (FixStdNamesFileTime): every version of it then carries the same times,
// so its size and times cannot tell two versions apart.
bool HasTimesSetByLibrary(const char* lpszPath);
// The printer-driver directory plus "3\" (NT 5 and later) or "2\" (260 bytes),
// of the spooler's default environment (null) or of the one named.
void GetVersionedPrinterDriverDir(char* lpszDir, const char* lpszEnvironment = nullptr);
// The target token of printer-driver files for 64-bit Windows, and the
// print environment whose driver directory it names. On 32-bit Windows an
// item with it is not listed.
#define GPC_PDRIVER64_TOKEN "%pdriver64%"
#define GPC_X64_PRINT_ENVIRONMENT "Windows x64"
// True when the item's target begins with the token as its whole first part.
bool TargetStartsWith(const GpcInstallItem* pItem, const char* lpszToken);

class CVRGpcInstallationMgr : public IGpcProgressOwner {
public:
    explicit CVRGpcInstallationMgr(IGpcInstallOwner* pOwner);
    virtual ~CVRGpcInstallationMgr();
    CVRGpcInstallationMgr(const CVRGpcInstallationMgr&) = delete;
    CVRGpcInstallationMgr& operator=(const CVRGpcInstallationMgr&) = delete;

    // Item list.
    int ParseItem(char* lpszItem);
    int ParseItemList(const char* lpszList);
    int AddItem(GpcInstallItem* pItem);
    void ClearItems();
    void ReleaseAll();
    void MarkAllItemsDone();
    int AnyItemStarted();
    GpcInstallItem* GetItem(int i) const { return static_cast<GpcInstallItem*>(Items.GetAt(i)); }
    int GetItemCount() const { return Items.GetCount(); }

    // Directories (buffers of 260 bytes). An item's install directory is
    // resolved (and traced) once per pass and kept on the item; it is
    // resolved again when its target, the default directory or the
    // owner's user-directory mode differs from what it was resolved with.
    void GetInstallDir(GpcInstallItem* pItem, char* lpszDir);
    void GetInstallPath(GpcInstallItem* pItem, char* lpszPath);
    // Starts a new pass for the install directories: every kept one is
    // resolved again at its next use (the system, profile or spooler
    // directories it may rest on are looked up afresh).
    void ForgetInstallDirs();
    void GetRedirectDir(GpcInstallItem* pItem, char* lpszDir);
    void GetRedirectPath(GpcInstallItem* pItem, char* lpszPath);
    int IsSystemTarget(GpcInstallItem* pItem);

    // Update decision.
    // A pass (the start-up's, or an on-demand check or download) begins:
    // file versions read before are read again, and install directories
    // are resolved again (ForgetInstallDirs).
    void BeginPass();
    int HasAnyUpdate();
    static int IsItemNamed(GpcInstallItem* pItem, const char* lpszName);
    GpcInstallItem* FindItem(const char* lpszName);
    int IsMainComponentReady(const char* lpszName);
    int AllItemsSettled();

    // Installation.
    // A busy destination needs no download when the item's redirected copy
    // exists and is already current (both scheduling passes ask this).
    bool IsRedirectedCopyCurrent(GpcInstallItem* pItem);
    int ScheduleDownloads();
    // Takes pSigned over in every case (the job keeps it, or it is deleted).
    int ScheduleOdeDownloads(const char* lpszSection, GpcOdeCallback pfnCallback, void* pContext,
                             CVRGpcSignedManifest* pSigned = nullptr);
    int DoItemInstallation(GpcInstallItem* pItem, const char* lpszDownloadedFile);
    // Removes the temporary files an earlier run left (a process killed
    // while it installed): "VR" files beside the destinations of these
    // items (from index nFirst on), "VRK" manifest copies in the temporary
    // folder and "WT" write tests in the product folder. A file some process
    // still holds open stays, and so does lpszKeep (may be null). Returns
    // how many went.
    int RemoveLeftoverTempFiles(const CGpcPtrArray& items, int nFirst, const char* lpszKeep);
    int RegisterItem(GpcInstallItem* pItem);

    // Download requests and actions around the main component.
    void BuildItemUrl(GpcInstallItem* pItem, char* lpszUrl, int nSize);
    void PrepareDownload(GpcInstallItem* pItem);
    void PrepareJobDownload(GpcInstallItem* pItem, GpcDownloadJob* pJob);
    int DoActionsForMainComponent(const char* lpszName);
    void DoActionsAfterMainComponent(const char* lpszName);

    // The start-up window: the user giving up the downloads fails the
    // start-up, stops the host's download and is reported.
    GpcCookie ProgressCookie() const override { return CookieOf(Owner); }
    void CancelProgress() override;

    IGpcInstallOwner* Owner;
    CVRGpcLogMgr* LogMgr;
    CGpcString UrlRoot;
    CGpcString DefaultInstallDir;
    CGpcPtrArray Items;  // owns its GpcInstallItem objects

    // The list queries of the heartbeat go on from where the last beat
    // stopped: items before these places were settled then, and a settled
    // item stays settled until the list is read or scheduled again (which
    // calls RestartSettledScans). A start-up's beats so cost in all about
    // one look at each item instead of one look at every item per beat.
    void RestartSettledScans();

private:
    // Each file's version as this pass read it (see BeginPass). Every write
    // of the library to a path drops what was read of it.
    CVRGpcVersionCache Versions;
    // Resolves through the item's kept directory; true when not refused.
    bool ResolveItemInstallDir(GpcInstallItem* pItem, char* lpszDir);
    // The install-directory pass that kept directories must belong to.
    unsigned DirPass = 1;
    // Puts back an item's printer-driver file from the spooler's own copy
    // (the spooler deletes the installed one when the driver is added
    // again). Returns 1 when the file is back in place.
    int RestorePrinterDriverFile(GpcInstallItem* pItem, const char* lpszPath);

    int SettledScan = 0;
    // For IsMainComponentReady: settled items before it, none of them named
    // ReadyScanName.
    int ReadyScan = 0;
    CGpcString ReadyScanName;

    // The steps of DoItemInstallation, in their order. Each returns true to
    // go on, or settles the item's state and *pnResult and returns false.
    struct GpcInstallTarget;
    bool ProbeDestination(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult);
    // The write test of pTarget->achTarget: its file opened with this
    // access and sharing, or, when there is none yet, the temporary file
    // beside it created. False when neither works.
    bool OpenOrReserveTarget(GpcInstallTarget* pTarget, DWORD dwAccess, DWORD dwShare);
    // A destination the probe could not open: the failure control decides.
    bool PrepareFallbackTarget(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult);
    bool PrepareRebootTarget(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult);
    bool PrepareRedirectTarget(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult);
    bool UnpackThroughHost(GpcInstallItem* pItem, const char* lpszDownloadedFile, GpcInstallTarget* pTarget,
                           int* pnResult);
    // The unpacked file takes its final name in one rename.
    bool RenameIntoPlace(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult);
    int FinishOrScheduleReboot(GpcInstallItem* pItem, const GpcInstallTarget& target);
    // Creates a directory and every level above it that is missing.
    void EnsureDirectory(const char* lpszDir);
    // The directory that EnsureDirectory made or found last (null: none).
    CGpcString KnownDir;
};

// The call that opens the installation log's root key for writing in a hive
// (created when missing). Tests put in one that is refused as it is for a
// standard user in HKEY_LOCAL_MACHINE (Wine lets every process write there);
// null puts the real one back. Returns the call used before.
typedef LONG (*PFN_GpcOpenLogRootKey)(CGpcRegKey* pKey, HKEY hHive, const char* lpszRootKey);
PFN_GpcOpenLogRootKey SetLogRootOpenForTesting(PFN_GpcOpenLogRootKey pfnOpen);

// The installation log in HKLM\SOFTWARE\<root>\Deinstall\..., or under
// the same path in HKCU when the machine's key cannot be written.
class CVRGpcLogMgr {
public:
    CVRGpcLogMgr() = default;
    virtual ~CVRGpcLogMgr() = default;

    int OpenLogRoot(const char* lpszDefaultDir, const char* lpszBrowserTag,
                    const char* lpszProductRoot, const char* lpszProductVersion);
    int WriteLog(CVRGpcInstallationMgr* pMgr, GpcInstallItem* pItem);
    // Takes the item's entry out again (its file did not take its name).
    int RemoveLog(GpcInstallItem* pItem);

    CGpcRegKey m_keyLog;

private:
    // Opens (creating) the log key below the root key in one hive and
    // writes its default directory; false, with nothing open, when either fails.
    bool OpenLogIn(HKEY hHive, const char* lpszRootKey, const char* lpszLogPath, const char* lpszDefaultDir,
                   const char* lpszProductRoot, const char* lpszProductVersion);
};
