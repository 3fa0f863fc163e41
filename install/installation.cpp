// Installation of downloaded items: the two scheduling passes (start-up and
// on-demand), the install steps of one downloaded file and the registration
// actions that follow it.
#include "install/installation_mgr.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <utility>

#include "feedback/trace.h"
#include "install/manifest_trust.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/module_state.h"

namespace {

// The printer-driver library installs itself through the spooler; only the
// files that go with it are kept in step with the versioned directory.
const char GPC_PRINTER_DRIVER_LIBRARY[] = "vrpdrvnt.dll";
// The printer driver's name table, which carries the driver's build date.
const char GPC_STDNAMES_FILE[] = "STDNAMES.GPD";

// The write test: the classic file API opened for writing. A file that a
// running program holds without write sharing fails it. OpenFile keeps the
// full name in a 128-byte record and refuses longer paths outright, which
// would make every long path look busy; those are asked with CreateFile,
// with the same sharing as OpenFile's compatibility mode.
int CanOpenForWriting(const char* lpszPath)
{
    if (!lpszPath || !lpszPath[0])
        return 0;
    if (strlen(lpszPath) < OFS_MAXPATHNAME) {
        OFSTRUCT ofs;
        memset(&ofs, 0, sizeof(ofs));
        HFILE hFile = OpenFile(lpszPath, &ofs, OF_WRITE);
        if (hFile == HFILE_ERROR)
            return 0;
        _lclose(hFile);
        return 1;
    }
    CGpcHandle hFile(CreateFileA(lpszPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return hFile ? 1 : 0;
}

// Reserves a name for a temporary file beside lpszPath (lpszTemp, 260
// bytes): "VR", a number in hex and ".tmp", as GetTempFileName makes them,
// created with nobody else's access and deleted when *phReserved closes. The
// creation tests that the folder can take a new file, which is the write
// test of a file that is not there yet: a test at the final name would
// leave an empty file there if the process died before removing it. A
// process that dies while it holds the reservation leaves nothing behind.
bool ReserveTempBeside(const char* lpszPath, char* lpszTemp, CGpcHandle* phReserved)
{
    char achDir[GPC_MAX_PATH];
    if (!lpszPath || GpcCopyString(achDir, sizeof(achDir), lpszPath) != static_cast<int>(strlen(lpszPath)))
        return false;
    char* pLastSeparator = GpcFindLastSeparator(achDir, "\\/");
    if (!pLastSeparator)
        return false;
    // "C:\x.dll" keeps its separator: "C:" alone names the current directory.
    if (pLastSeparator > achDir && pLastSeparator[-1] == ':')
        pLastSeparator[1] = '\0';
    else
        pLastSeparator[0] = '\0';
    const char* lpszSeparator = pLastSeparator > achDir && pLastSeparator[-1] == ':' ? "" : "\\";
    // Numbers are tried from the clock on, as GetTempFileName does; a name
    // that is taken moves on to the next, any other failure ends the test.
    unsigned nStart = static_cast<unsigned>(GetTickCount());
    for (unsigned n = 0; n < 0x10000; ++n) {
        unsigned nUnique = (nStart + n) & 0xFFFF;
        if (nUnique == 0)
            continue;
        if (GpcFormat(lpszTemp, GPC_MAX_PATH, "%s%sVR%x.tmp", achDir, lpszSeparator, nUnique) < 0)
            return false;
        phReserved->Reset(CreateFileA(lpszTemp, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (*phReserved)
            return true;
        DWORD dwError = GetLastError();
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

// Whether a file can be created at a free path: one is created beside it
// and is gone again at once.
int CanCreateForWriting(const char* lpszPath)
{
    if (!lpszPath || !lpszPath[0])
        return 0;
    char achTemp[GPC_MAX_PATH];
    CGpcHandle hReserved;
    return ReserveTempBeside(lpszPath, achTemp, &hReserved) ? 1 : 0;
}

// A free name in the folder of lpszPath (260 bytes), for a new file that is
// to replace lpszPath: on the same volume the replacement is one rename.
// The host unpacks into a free path, as everywhere else.
bool MakeTempNameBeside(const char* lpszPath, char* lpszTemp)
{
    CGpcHandle hReserved;
    return ReserveTempBeside(lpszPath, lpszTemp, &hReserved);
}

// Copies a file through a temporary file beside the copy, which takes its
// name in one rename once complete (and once a name-bound time is fixed):
// a copy cut short never stands under the final name. Without bReplace a
// file already at lpszDest is kept.
bool CopyThroughTempBeside(const char* lpszSource, const char* lpszDest, bool bReplace, const char* lpszName)
{
    if (!bReplace && FileExists(lpszDest))
        return false;
    char achTemp[GPC_MAX_PATH];
    if (!MakeTempNameBeside(lpszDest, achTemp))
        return false;
    if (!CopyFileA(lpszSource, achTemp, FALSE)) {
        DeleteFileA(achTemp);
        return false;
    }
    FixStdNamesFileTime(achTemp, lpszName);
    if (!MoveFileExA(achTemp, lpszDest, bReplace ? MOVEFILE_REPLACE_EXISTING : 0)) {
        DeleteFileA(achTemp);
        return false;
    }
    return true;
}

// Whether two paths name one file: the same full name, or another spelling
// of it ("." components, short names, letter case) that leads to the same
// file on the same volume.
bool NamesSameFile(const char* lpszA, const char* lpszB)
{
    char achA[GPC_MAX_PATH];
    char achB[GPC_MAX_PATH];
    DWORD dwA = GetFullPathNameA(lpszA, sizeof(achA), achA, nullptr);
    DWORD dwB = GetFullPathNameA(lpszB, sizeof(achB), achB, nullptr);
    if (dwA > 0 && dwA < sizeof(achA) && dwB > 0 && dwB < sizeof(achB) && lstrcmpiA(achA, achB) == 0)
        return true;
    // Opened without any access, a file is found even while another program
    // holds it without sharing.
    const DWORD dwShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    CGpcHandle hA(CreateFileA(lpszA, 0, dwShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    CGpcHandle hB(CreateFileA(lpszB, 0, dwShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION infoA;
    BY_HANDLE_FILE_INFORMATION infoB;
    if (!hA || !hB || !GetFileInformationByHandle(hA.Get(), &infoA) || !GetFileInformationByHandle(hB.Get(), &infoB))
        return false;
    return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber && infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
           infoA.nFileIndexLow == infoB.nFileIndexLow;
}

// A printer-driver file that the spooler keeps its own copy of.
bool IsPrinterDriverFile(const GpcInstallItem* pItem)
{
    return IsWindowsNT() && (FieldIs(pItem->Target, "%pdriver%") || FieldIs(pItem->Target, GPC_PDRIVER64_TOKEN)) &&
           !FieldIs(pItem->SourceName, GPC_PRINTER_DRIVER_LIBRARY);
}

// The copy of an item's file in the spooler's versioned driver directory
// (of the x64 environment for "%pdriver64%"); empty when it has no name
// that fits.
void GetPrinterDriverCopyPath(const GpcInstallItem* pItem, char* lpszPath)
{
    GetVersionedPrinterDriverDir(lpszPath,
                                 FieldIs(pItem->Target, GPC_PDRIVER64_TOKEN) ? GPC_X64_PRINT_ENVIRONMENT : nullptr);
    if (!lpszPath[0] || pItem->SourceName.IsEmpty() ||
        !AppendPathComponent(lpszPath, GPC_MAX_PATH, pItem->SourceName.GetText()))
        lpszPath[0] = '\0';
}

// Restores the current directory of the process when it goes out of scope.
class CGpcCurrentDirectory {
public:
    CGpcCurrentDirectory()
    {
        DWORD dwLength = GetCurrentDirectoryA(sizeof(m_achSaved), m_achSaved);
        m_bSaved = dwLength > 0 && dwLength < sizeof(m_achSaved);
    }
    ~CGpcCurrentDirectory()
    {
        if (m_bSaved)
            SetCurrentDirectoryA(m_achSaved);
    }
    CGpcCurrentDirectory(const CGpcCurrentDirectory&) = delete;
    CGpcCurrentDirectory& operator=(const CGpcCurrentDirectory&) = delete;

private:
    char m_achSaved[GPC_MAX_PATH];
    bool m_bSaved;
};

}  // namespace

int CVRGpcInstallationMgr::RestorePrinterDriverFile(GpcInstallItem* pItem, const char* lpszPath)
{
    if (!IsPrinterDriverFile(pItem))
        return 0;
    char achCopy[GPC_MAX_PATH];
    GetPrinterDriverCopyPath(pItem, achCopy);
    if (!achCopy[0] || !FileExists(achCopy))
        return 0;
    // Only a copy that worked settles the item; otherwise it is downloaded.
    bool bCopied = CopyThroughTempBeside(achCopy, lpszPath, true, pItem->SourceName.GetText());
    Versions.Forget(lpszPath);
    return bCopied ? 1 : 0;
}

bool CVRGpcInstallationMgr::IsRedirectedCopyCurrent(GpcInstallItem* pItem)
{
    char achRedirect[GPC_MAX_PATH];
    GetRedirectPath(pItem, achRedirect);
    return achRedirect[0] && FileExists(achRedirect) && !pItem->NeedUpdate(achRedirect, nullptr, &Versions);
}

int CVRGpcInstallationMgr::ScheduleDownloads()
{
    // Items go back on their way here.
    RestartSettledScans();
    int nCount = Items.GetCount();
    for (int i = 0; i < nCount; ++i) {
        GpcInstallItem* pItem = GetItem(i);
        TraceMessage("Count=%d, item=%d", nCount, i);
        if (!pItem)
            continue;

        char achPath[GPC_MAX_PATH];
        GetInstallPath(pItem, achPath);
        // A path that does not fit was refused (empty): the download goes
        // ahead and the installation reports the destination as unusable.
        if (achPath[0]) {
            bool bRedirect = pItem->Failure == GPC_FAILURE_REDIRECT;
            if (FileExists(achPath)) {
                if (!pItem->NeedUpdate(achPath, nullptr, &Versions)) {
                    if (bRedirect && !CanOpenForWriting(achPath)) {
                        // The installed file is current but still busy: a copy
                        // redirected earlier is no longer needed.
                        char achRedirect[GPC_MAX_PATH];
                        GetRedirectPath(pItem, achRedirect);
                        if (achRedirect[0] && NamesSameFile(achRedirect, achPath)) {
                            // Without a directory of its own the item is
                            // redirected onto itself: that is the installed
                            // file, held by some reader, not an old copy.
                            TraceMessage("The redirected file is the installed file, kept: %s", achPath);
                        } else {
                            int bDeleted = achRedirect[0] && DeleteFileA(achRedirect) ? 1 : 0;
                            Versions.Forget(achRedirect);
                            TraceMessage("Delete the previous redirected file: (%d),%s", bDeleted, achRedirect);
                        }
                    }
                    pItem->State = ITEM_INSTALLED;
                    continue;
                }
                if (bRedirect && !CanOpenForWriting(achPath) && IsRedirectedCopyCurrent(pItem)) {
                    pItem->State = ITEM_INSTALLED;
                    continue;
                }
            } else {
                if (RestorePrinterDriverFile(pItem, achPath)) {
                    pItem->State = ITEM_DONE;
                    continue;
                }
                if (bRedirect && !CanCreateForWriting(achPath) && IsRedirectedCopyCurrent(pItem)) {
                    pItem->State = ITEM_INSTALLED;
                    continue;
                }
            }
        }

        pItem->State = ITEM_DOWNLOADING;
        PrepareDownload(pItem);
    }
    return 1;
}

int CVRGpcInstallationMgr::ScheduleOdeDownloads(const char* lpszSection, GpcOdeCallback pfnCallback,
                                                void* pContext, CVRGpcSignedManifest* pSigned)
{
    // Owned until the job takes it.
    std::unique_ptr<CVRGpcSignedManifest> pOwnedSigned(pSigned);
    int bFailedBefore = Owner ? Owner->IsFailed() : 0;
    int nSetting = Owner ? Owner->CheckUpdateStatus(HasAnyUpdate()) : 0;
    if (nSetting == 2) {
        ClearItems();
        if (Owner && Owner->IsStdDownload()) {
            // Halted: the heartbeat answers the caller later.
            Owner->SetOdeFailureCallback(pfnCallback);
            return 0;
        }
        // Beside a start-up the halt concerns this request alone: the
        // start-up keeps its state, and the caller, whom no heartbeat
        // answers on this path, hears of it at once, in the form the
        // heartbeat uses for a halted request (callers know it by its null
        // context and result -1).
        if (Owner)
            Owner->SetFailed(bFailedBefore);
        if (pfnCallback)
            pfnCallback(nullptr, GPC_ODE_FILE_DONE, nullptr, nullptr, -1, nullptr);
        return 0;
    }

    GpcDownloadJob* pJob = CreateDownloadJob(Owner, lpszSection, pfnCallback, pContext);
    if (!pJob) {
        TraceMessage("ScheduleOdeDownloads: no memory for the download job of %s", TraceText(lpszSection));
        ClearItems();
        return 0;
    }
    const char* lpszJobSection = pJob->SectionName.GetText();
    // Before any download is asked for: a host may complete one inside
    // HostDownloadUrl, and its file is checked at once.
    pJob->Signed = pOwnedSigned.release();

    // While the pass runs the job holds a place of its own in PendingItems.
    // A host that completes a download inside HostDownloadUrl would
    // otherwise finish, and destroy, the job before the pass is over.
    void* pPassMarker = pJob;
    pJob->PendingItems.Add(pPassMarker);

    // The job takes the section's items over now: the manager's list is
    // empty while the request runs. A caller's callback (a file notice here,
    // or a download completed inside HostDownloadUrl) may ask about or read
    // a section again, and must never meet the items that this pass deletes
    // or hands to their downloads.
    CGpcPtrArray passItems;
    passItems.Swap(Items);
    RestartSettledScans();

    int nScheduled = 0;
    int nCount = passItems.GetCount();
    for (int i = 0; i < nCount; ++i) {
        GpcInstallItem* pItem = static_cast<GpcInstallItem*>(passItems.GetAt(i));
        if (!pItem)
            continue;

        char achPath[GPC_MAX_PATH];
        GetInstallPath(pItem, achPath);
        bool bRedirect = pItem->Failure == GPC_FAILURE_REDIRECT;
        bool bDone = false;

        if (achPath[0] && (FileExists(achPath) || nSetting == 1)) {
            if (nSetting == 1 || !pItem->NeedUpdate(achPath, nullptr, &Versions)) {
                pItem->State = ITEM_INSTALLED;
                bDone = true;
            } else if (bRedirect && !CanOpenForWriting(achPath) && IsRedirectedCopyCurrent(pItem)) {
                pItem->State = ITEM_INSTALLED;
                bDone = true;
            }
        } else if (!achPath[0] && nSetting == 1) {
            // Keeping the installed files: nothing is fetched, whatever the path.
            pItem->State = ITEM_INSTALLED;
            bDone = true;
        } else if (achPath[0]) {
            if (RestorePrinterDriverFile(pItem, achPath)) {
                pItem->State = ITEM_DONE;
                bDone = true;
            } else if (bRedirect && !CanCreateForWriting(achPath) && IsRedirectedCopyCurrent(pItem)) {
                pItem->State = ITEM_INSTALLED;
                bDone = true;
            }
        }

        if (bDone) {
            GpcOdeFileInfo info;
            FillOdeFileInfo(pItem, &info);
            NotifyDownloadJob(pJob, GPC_ODE_FILE_DONE, pItem->SourceName.GetText(), lpszJobSection, 0, &info);
            delete pItem;
            continue;
        }

        // Before the request's first file can install: what an interrupted
        // run left beside this section's files goes. The items before this
        // one were reported and destroyed; none of them installs anything.
        if (nScheduled == 0)
            RemoveLeftoverTempFiles(passItems, i, nullptr);
        pItem->State = ITEM_DOWNLOADING;
        PrepareJobDownload(pItem, pJob);
        ++nScheduled;
    }

    // Every item was destroyed when reported or belongs to its download now;
    // passItems only lets go of its pointers.

    pJob->PendingItems.Remove(pPassMarker);
    if (nScheduled == 0) {
        NotifyDownloadJob(pJob, GPC_ODE_SECTION_DONE, nullptr, lpszJobSection, 0, nullptr);
        DestroyDownloadJob(pJob);
    } else if (pJob->PendingItems.GetCount() == 0) {
        // Every download completed inside HostDownloadUrl: finish the job
        // here as the last completion would have.
        NotifyDownloadJob(pJob, GPC_ODE_SECTION_DONE, nullptr, lpszJobSection, pJob->SectionResult, nullptr);
        DestroyDownloadJob(pJob);
        TraceMessage("StdDownload Finished");
    }
    return 1;
}

// Where one downloaded file goes, as the steps of DoItemInstallation settle it.
struct CVRGpcInstallationMgr::GpcInstallTarget {
    // The destination the item names; a restart moves the new file there.
    char achFinal[GPC_MAX_PATH] = "";
    // Where the new file ends: the destination, a temporary file waiting for
    // a restart, or the redirected copy.
    char achTarget[GPC_MAX_PATH] = "";
    // Where the host unpacks it: a temporary file beside achTarget that
    // takes achTarget's name in one rename once it is complete (for a
    // restart, the waiting file itself). Empty until a name is chosen.
    char achUnpack[GPC_MAX_PATH] = "";
    // Until the unpack: the file that is at achTarget, opened for writing
    // (it stays whole until a complete new file replaces it), or the
    // reservation of achUnpack.
    CGpcHandle hFile;
    // achTarget can be written: its file opened, or, for a file that is not
    // there yet, achUnpack created beside it.
    bool bWritable = false;
    // achUnpack was created to reserve its name; it is gone again just
    // before the host unpacks into the free path.
    bool bUnpackCreated = false;
    // Whether a file was at the destination before this installation.
    bool bFileAtInstallPath = false;
    int bRestart = 0;
    bool bRedirectedOverExisting = false;
};

namespace {

bool IsDirectory(const char* lpszPath)
{
    DWORD dwAttributes = GetFileAttributesA(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void CVRGpcInstallationMgr::EnsureDirectory(const char* lpszDir)
{
    // The files of a section mostly share one directory. Walking its path
    // level by level costs one creation call per level and file; a
    // directory met just before is only checked to be there still.
    if (!KnownDir.IsNull() && strcmp(KnownDir.GetText(), lpszDir) == 0 && IsDirectory(lpszDir))
        return;
    CreateDirectoryPath(lpszDir);
    KnownDir.Assign(IsDirectory(lpszDir) ? lpszDir : nullptr);
}

bool CVRGpcInstallationMgr::OpenOrReserveTarget(GpcInstallTarget* pTarget, DWORD dwAccess, DWORD dwShare)
{
    // A file that is there is opened as it is: a busy or read-only file
    // fails here, before anything is unpacked, and is kept until a complete
    // new file replaces it.
    pTarget->hFile.Reset(CreateFileA(pTarget->achTarget, dwAccess, dwShare, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (pTarget->hFile)
        return true;
    if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    // Nothing is there yet: creating the temporary file the new one is
    // unpacked into is the test that the folder can be written. Nothing is
    // ever created under the final name before the file is complete.
    if (!ReserveTempBeside(pTarget->achTarget, pTarget->achUnpack, &pTarget->hFile)) {
        pTarget->achUnpack[0] = '\0';
        return false;
    }
    pTarget->bUnpackCreated = true;
    return true;
}

bool CVRGpcInstallationMgr::ProbeDestination(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult)
{
    char achDir[GPC_MAX_PATH];
    GetInstallDir(pItem, achDir);
    if (achDir[0])
        EnsureDirectory(achDir);
    GetInstallPath(pItem, pTarget->achTarget);
    GpcCopyString(pTarget->achFinal, sizeof(pTarget->achFinal), pTarget->achTarget);

    // A destination that does not fit in a path was refused (empty); a cut
    // path would name some other file, so nothing is written at all.
    if (!pTarget->achTarget[0]) {
        TraceMessage("Install path of %s is too long", TraceText(pItem->SourceName.GetText()));
        pItem->State = ITEM_FAILED;
        *pnResult = GPC_INSTALL_NOT_WRITABLE;
        return false;
    }

    pTarget->bWritable = OpenOrReserveTarget(pTarget, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    // An open destination is a file that is there and a reserved temporary
    // file means there was none; only a failed probe needs to look.
    pTarget->bFileAtInstallPath =
        !pTarget->bUnpackCreated && (pTarget->hFile || FileExists(pTarget->achTarget) != 0);
    return true;
}

bool CVRGpcInstallationMgr::PrepareFallbackTarget(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult)
{
    if (pItem->Failure == GPC_FAILURE_ABSENT) {
        pItem->State = ITEM_FAILED;
        *pnResult = GPC_INSTALL_NOT_WRITABLE;
        return false;
    }
    if (pItem->Failure == GPC_FAILURE_IGNORE) {
        TraceMessage("WRONG(IGNORE): fail to open the distination file.");
        pItem->State = ITEM_FAILED;
        *pnResult = GPC_INSTALL_OK;
        return false;
    }
    if (pItem->Failure == GPC_FAILURE_REBOOT)
        return PrepareRebootTarget(pItem, pTarget, pnResult);
    if (pItem->Failure == GPC_FAILURE_REDIRECT)
        return PrepareRedirectTarget(pItem, pTarget, pnResult);
    pItem->State = ITEM_FAILED;
    if (IsSystemTarget(pItem) && IsWindowsNT() && !CanManageServices())
        *pnResult = GPC_INSTALL_NEED_ADMIN;
    else
        *pnResult = GPC_INSTALL_NOT_WRITABLE;
    return false;
}

bool CVRGpcInstallationMgr::PrepareRebootTarget(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult)
{
    // The new file waits in a temporary file until the restart moves it
    // over the busy one; the installed file stays in use. The waiting file
    // is the unpack's own target: the restart's move is its one rename.
    pTarget->bRestart = 1;
    char achTempDir[GPC_MAX_PATH];
    DWORD dwLength = GetTempPathA(sizeof(achTempDir), achTempDir);
    if (dwLength == 0 || dwLength >= sizeof(achTempDir) ||
        !GetTempFileNameA(achTempDir, "VR", 0, pTarget->achTarget)) {
        pItem->State = ITEM_FAILED;
        *pnResult = GPC_INSTALL_NOT_WRITABLE;
        return false;
    }
    pTarget->hFile.Reset(CreateFileA(pTarget->achTarget, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!pTarget->hFile) {
        DeleteFileA(pTarget->achTarget);
        pItem->State = ITEM_FAILED;
        *pnResult = GPC_INSTALL_NOT_WRITABLE;
        return false;
    }
    GpcCopyString(pTarget->achUnpack, sizeof(pTarget->achUnpack), pTarget->achTarget);
    pTarget->bUnpackCreated = true;
    return true;
}

bool CVRGpcInstallationMgr::PrepareRedirectTarget(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult)
{
    char achRedirectDir[GPC_MAX_PATH];
    GetRedirectDir(pItem, achRedirectDir);
    if (achRedirectDir[0])
        EnsureDirectory(achRedirectDir);
    char* lpszTarget = pTarget->achTarget;
    GetRedirectPath(pItem, lpszTarget);
    // A redirected copy counts as current only when it is there:
    // "existence" (and "size" 0) would otherwise call a missing file
    // installed.
    if (lpszTarget[0] && FileExists(lpszTarget) && !pItem->NeedUpdate(lpszTarget, nullptr, &Versions)) {
        pItem->State = ITEM_INSTALLED;
        *pnResult = GPC_INSTALL_OK;
        return false;
    }
    TraceMessage("Redirect to %s", lpszTarget);
    // An earlier redirected copy may be what runs: it is opened as the
    // installed file is, and replaced only by a complete new one.
    if (!lpszTarget[0] || !OpenOrReserveTarget(pTarget, GENERIC_WRITE, FILE_SHARE_WRITE)) {
        TraceMessage("Can not create redirected file %s", lpszTarget);
        pItem->State = ITEM_DONE;
        *pnResult = GPC_INSTALL_OK;
        return false;
    }
    pTarget->bRedirectedOverExisting = pTarget->bFileAtInstallPath;
    return true;
}

bool CVRGpcInstallationMgr::UnpackThroughHost(GpcInstallItem* pItem, const char* lpszDownloadedFile,
                                              GpcInstallTarget* pTarget, int* pnResult)
{
    const char* lpszTarget = pTarget->achTarget;
    char* lpszUnpack = pTarget->achUnpack;
    pTarget->hFile.Reset();
    if (pTarget->bUnpackCreated) {
        // Its name is ours; the host unpacks into a free path. A reserved
        // name went with its handle; a restart's waiting file is deleted.
        if (pTarget->bRestart)
            DeleteFileA(lpszUnpack);
        TraceMessage("The temp created file is deleted: %s", lpszUnpack);
    }

    TraceMessage("VRGPCEXT::DoItemInstall,SrcFileName = %s,achPath = %s", lpszDownloadedFile, lpszTarget);

    // A file that is there is unpacked beside, then renamed over.
    if (!lpszUnpack[0] && !MakeTempNameBeside(lpszTarget, lpszUnpack)) {
        TraceMessage("Can not create a temporary file beside %s", lpszTarget);
        pItem->State = ITEM_FAILED;
        *pnResult = GPC_INSTALL_NOT_WRITABLE;
        return false;
    }
    if (!pTarget->bUnpackCreated)
        TraceMessage("Unpack into %s, then replace %s", lpszUnpack, lpszTarget);

    GpcHostLink host = Owner ? Owner->HostLink() : GetHostLink(nullptr);
    int nUnpack = host.UnpackFile(lpszDownloadedFile, lpszUnpack);
    if (nUnpack != 0 && nUnpack != 1) {
        TraceMessage("Unpack file to %s failed", lpszTarget);
        // What the host left behind is a half-written file; a file that was
        // there before is untouched.
        DeleteFileA(lpszUnpack);
        // The failure control decides whether the user is told (the caller
        // maps the result), but a file that did not install has failed.
        if (pItem->Failure == GPC_FAILURE_IGNORE || pItem->Failure == GPC_FAILURE_REDIRECT)
            TraceMessage("WRONG(IGNORE): fail to decompress the file.");
        pItem->State = ITEM_FAILED;
        *pnResult = GPC_INSTALL_UNPACK_FAILED;
        return false;
    }
    return true;
}

bool CVRGpcInstallationMgr::RenameIntoPlace(GpcInstallItem* pItem, GpcInstallTarget* pTarget, int* pnResult)
{
    if (MoveFileExA(pTarget->achUnpack, pTarget->achTarget, MOVEFILE_REPLACE_EXISTING)) {
        Versions.Forget(pTarget->achTarget);
        return true;
    }
    // Taken since the probe (a program started meanwhile): the old file
    // stays as it was.
    DWORD dwError = GetLastError();
    TraceMessage("Can not replace %s, GetLastError() = %lu", pTarget->achTarget, static_cast<unsigned long>(dwError));
    DeleteFileA(pTarget->achUnpack);
    // The entry written for the new file goes again, unless a file is still
    // at the path it names (an older one, busy or redirected around): that
    // one is installed and stays listed.
    if (LogMgr && !FileExists(pTarget->achFinal))
        LogMgr->RemoveLog(pItem);
    pItem->State = ITEM_FAILED;
    *pnResult = GPC_INSTALL_NOT_WRITABLE;
    return false;
}

// A file that does not match the manifest is kept: the server's files win,
// and the trace tells who looks.
static void WarnWhenNotCurrent(GpcInstallItem* pItem, const char* lpszPath, CVRGpcVersionCache* pVersions)
{
    char achCurrent[GPC_CURRENT_VALUE] = "";
    if (pItem->NeedUpdate(lpszPath, achCurrent, pVersions)) {
        TraceMessage("WARNING:The version/tag/size of the destination isn't the same as in the config file.");
        TraceMessage("WARNING:The file is: %s, File version info: %s, Version info in INI file: %s", lpszPath,
                     achCurrent, TraceText(pItem->Version.GetText()));
    }
}

// Gives the new file its standard time while it is still unpacked under its
// temporary name: it takes its final name with the time it keeps.
static void FixTimes(GpcInstallItem* pItem, const char* lpszPath)
{
    TraceMessage("filename = %s", TraceText(pItem->SourceName.GetText()));
    FixStdNamesFileTime(lpszPath, pItem->SourceName.GetText());
}

// A printer-driver file's copy in the spooler's versioned directory.
static void AddPrinterDriverCopy(GpcInstallItem* pItem, const char* lpszPath)
{
    if (!IsPrinterDriverFile(pItem))
        return;
    // The spooler's own copy is only added, never replaced here.
    char achCopy[GPC_MAX_PATH];
    GetPrinterDriverCopyPath(pItem, achCopy);
    if (achCopy[0])
        CopyThroughTempBeside(lpszPath, achCopy, false, pItem->SourceName.GetText());
}

int CVRGpcInstallationMgr::FinishOrScheduleReboot(GpcInstallItem* pItem, const GpcInstallTarget& target)
{
    if (target.bRestart) {
        pItem->State = ITEM_FAILED;
        // The waiting file was read for the warning; it is moved at the
        // restart or deleted below, so nothing is kept of it.
        Versions.Forget(target.achTarget);
        if (!ReplaceFileAtReboot(target.achTarget, target.achFinal)) {
            // Nothing would move it: the new file is not left in the
            // temporary folder, and the item failed rather than waits.
            DeleteFileA(target.achTarget);
            TraceMessage("The replacement of %s at restart was not scheduled", target.achFinal);
            return GPC_INSTALL_NOT_WRITABLE;
        }
        Versions.Forget(target.achFinal);
        return GPC_INSTALL_RESTART_NEEDED;
    }

    // The log entry was written before the file took its name.
    pItem->State = ITEM_INSTALLED;
    return target.bRedirectedOverExisting ? GPC_INSTALL_RESTART_NEEDED : GPC_INSTALL_OK;
}

int CVRGpcInstallationMgr::DoItemInstallation(GpcInstallItem* pItem, const char* lpszDownloadedFile)
{
    TraceMessage("CVRGpcInstallationMgr::DoItemInstallation");
    if (!pItem)
        return GPC_INSTALL_NO_FILE;
    if (!lpszDownloadedFile || !lpszDownloadedFile[0]) {
        pItem->State = ITEM_FAILED;
        return GPC_INSTALL_NO_FILE;
    }

    // Each step either hands the target on or settles the item and the result.
    GpcInstallTarget target;
    int nResult = GPC_INSTALL_OK;
    if (!ProbeDestination(pItem, &target, &nResult))
        return nResult;
    if (!target.bWritable && !PrepareFallbackTarget(pItem, &target, &nResult))
        return nResult;
    bool bUnpacked = UnpackThroughHost(pItem, lpszDownloadedFile, &target, &nResult);
    // Whatever the host wrote there, what was read of the file before is
    // gone: the warning below must see the new file. (A temporary file
    // beside the destination is never read; the destination is forgotten
    // once renamed over.)
    if (target.bRestart)
        Versions.Forget(target.achUnpack);
    if (!bUnpacked)
        return nResult;
    FixTimes(pItem, target.achUnpack);
    if (!target.bRestart) {
        // Listed first, then in place: a process killed between the two
        // leaves an entry for a file that is missing or old, which the next
        // start installs, and never a file that the log does not list.
        if (LogMgr)
            LogMgr->WriteLog(this, pItem);
        if (!RenameIntoPlace(pItem, &target, &nResult))
            return nResult;
    }
    WarnWhenNotCurrent(pItem, target.achTarget, &Versions);
    AddPrinterDriverCopy(pItem, target.achTarget);
    return FinishOrScheduleReboot(pItem, target);
}

int CVRGpcInstallationMgr::RegisterItem(GpcInstallItem* pItem)
{
    // Only a file in place (installed in this pass or found current) has
    // anything to register.
    if (!pItem || pItem->State != ITEM_INSTALLED)
        return 1;
    bool bServer = pItem->ActionKind == GPC_ACTION_SERVER;
    bool bRegister = pItem->ActionKind == GPC_ACTION_RUN_R;
    if (pItem->ActionKind == GPC_ACTION_NONE) {
        // Nothing runs for a file without an action (most of them), so the
        // current directory is neither changed nor put back for it.
        pItem->State = ITEM_DONE;
        return 1;
    }
    char achPath[GPC_MAX_PATH];
    GetInstallPath(pItem, achPath);
    // The owner may refuse to run what it cannot vouch for; it has told
    // whoever needs telling, so the failure is not shown again.
    if (Owner && !Owner->MayRun(pItem, achPath)) {
        pItem->State = ITEM_FAILED;
        return 1;
    }

    // Installers and servers find their sibling files in their own directory.
    CGpcCurrentDirectory savedDir;
    char achDir[GPC_MAX_PATH];
    GetInstallDir(pItem, achDir);
    if (achDir[0])
        SetCurrentDirectoryA(achDir);

    if (bServer) {
        // A server that cannot register leaves the item failed; the user is
        // not asked about it.
        pItem->State = achPath[0] && RegisterServerDll(achPath) ? ITEM_DONE : ITEM_FAILED;
        return 1;
    }
    const char* lpszSwitch = bRegister ? " /r" : " /p";
    // WinExec splits its command line at spaces: the short form of the
    // path has none. Without a short form the long path is quoted.
    char achShort[GPC_MAX_PATH] = "";
    DWORD dwLength = achPath[0] ? GetShortPathNameA(achPath, achShort, sizeof(achShort)) : 0;
    char achCommand[GPC_MAX_PATH + 8] = "";
    int nWritten;
    if (dwLength > 0 && dwLength < sizeof(achShort))
        nWritten = GpcFormat(achCommand, sizeof(achCommand), "%s%s", achShort, lpszSwitch);
    else
        nWritten = GpcFormat(achCommand, sizeof(achCommand), "\"%s\"%s", achPath, lpszSwitch);
    if (bRegister)
        TraceMessage("Register file(e): %s", achCommand);
    UINT nResult = achPath[0] && nWritten >= 0 ? WinExec(achCommand, SW_HIDE) : 0;
    if (nResult > 31) {
        pItem->State = ITEM_DONE;
        return 1;
    }
    pItem->State = ITEM_FAILED;
    return 0;
}

int RegisterServerDll(const char* lpszPath)
{
    if (!lpszPath || !lpszPath[0])
        return 0;
    CGpcModule hModule(LoadLibraryA(lpszPath));
    if (!hModule) {
        TraceMessage("Load library failed, GetLastError() = %lu", static_cast<unsigned long>(GetLastError()));
        return 0;
    }
    typedef HRESULT(STDAPICALLTYPE * PFN_DllRegisterServer)();
    PFN_DllRegisterServer pfnRegister =
        reinterpret_cast<PFN_DllRegisterServer>(reinterpret_cast<void*>(GetProcAddress(hModule.Get(), "DllRegisterServer")));
    if (!pfnRegister)
        return 0;
    HRESULT hr = pfnRegister();
    hModule.Reset();
    return SUCCEEDED(hr) ? 1 : 0;
}

namespace {

PFN_GpcMoveFileEx s_pfnRebootMove = &MoveFileExA;

}  // namespace

PFN_GpcMoveFileEx SetRebootMoveForTesting(PFN_GpcMoveFileEx pfnMove)
{
    PFN_GpcMoveFileEx pfnBefore = s_pfnRebootMove;
    s_pfnRebootMove = pfnMove ? pfnMove : &MoveFileExA;
    return pfnBefore;
}

namespace {

// lpszPath lies in lpszDir (or is it): the rest after the folder, or null.
const char* PathBelow(const char* lpszPath, const char* lpszDir)
{
    size_t nDir = strlen(lpszDir);
    while (nDir > 0 && lpszDir[nDir - 1] == '\\')
        --nDir;
    if (nDir == 0 || _strnicmp(lpszPath, lpszDir, nDir) != 0)
        return nullptr;
    const char* lpszRest = lpszPath + nDir;
    if (*lpszRest == '\0')
        return lpszRest;
    return *lpszRest == '\\' ? lpszRest + 1 : nullptr;
}

// Folders of the system folder that WOW64 does not redirect: a 32-bit
// process writes the native ones.
const char* const s_apszNotRedirected[] = {
    "catroot", "catroot2", "driverstore", "drivers\\etc", "logfiles", "spool",
};

bool IsRedirectionExempt(const char* lpszRest)
{
    for (const char* lpszExempt : s_apszNotRedirected) {
        size_t n = strlen(lpszExempt);
        if (_strnicmp(lpszRest, lpszExempt, n) == 0 && (lpszRest[n] == '\0' || lpszRest[n] == '\\'))
            return true;
    }
    return false;
}

bool JoinRest(char* lpszOut, int nSize, const char* lpszDir, const char* lpszRest)
{
    if (GpcCopyString(lpszOut, nSize, lpszDir) != static_cast<int>(strlen(lpszDir)))
        return false;
    return !*lpszRest || AppendPathComponent(lpszOut, nSize, lpszRest);
}

}  // namespace

bool MapPathForRestart(const char* lpszPath, const char* lpszSystemDir, const char* lpszWow64Dir,
                       const char* lpszSysnativeDir, char* lpszOut, int nSize)
{
    if (!lpszPath || !lpszOut || nSize <= 0)
        return false;
    // A path through "Sysnative" means the native folder, which the
    // restart (a native component that knows no such alias) finds under
    // the system folder's own name.
    if (const char* lpszRest = lpszSysnativeDir && *lpszSysnativeDir ? PathBelow(lpszPath, lpszSysnativeDir) : nullptr)
        return JoinRest(lpszOut, nSize, lpszSystemDir, lpszRest);
    const char* lpszRest = lpszSystemDir && *lpszSystemDir ? PathBelow(lpszPath, lpszSystemDir) : nullptr;
    if (lpszRest && lpszWow64Dir && *lpszWow64Dir && !IsRedirectionExempt(lpszRest))
        return JoinRest(lpszOut, nSize, lpszWow64Dir, lpszRest);
    return GpcCopyString(lpszOut, nSize, lpszPath) == static_cast<int>(strlen(lpszPath));
}

namespace {

// The path a delayed move records for a file this process knows as
// lpszPath. Under WOW64 the file the process wrote in the system folder is
// the redirected one: the restart must replace that, not the native file
// of the same name.
bool PathForRestart(const char* lpszPath, char* lpszOut, int nSize)
{
    if (!IsWow64())
        return GpcCopyString(lpszOut, nSize, lpszPath) == static_cast<int>(strlen(lpszPath));
    char achSystem[GPC_MAX_PATH];
    char achWow64[GPC_MAX_PATH];
    char achSysnative[GPC_MAX_PATH];
    UINT nSystem = GetSystemDirectoryA(achSystem, sizeof(achSystem));
    if (nSystem == 0 || nSystem >= sizeof(achSystem))
        achSystem[0] = '\0';
    if (!GetWow64SystemDir(achWow64))
        achWow64[0] = '\0';
    if (!GetSysnativeDir(achSysnative))
        achSysnative[0] = '\0';
    return MapPathForRestart(lpszPath, achSystem, achWow64, achSysnative, lpszOut, nSize);
}

}  // namespace

int ReplaceFileAtReboot(const char* lpszNewFile, const char* lpszDestination)
{
    if (!lpszNewFile || !lpszNewFile[0] || !lpszDestination || !lpszDestination[0])
        return 0;

    if (IsWindowsNT()) {
        char achNew[GPC_MAX_PATH];
        char achDestination[GPC_MAX_PATH];
        if (!PathForRestart(lpszNewFile, achNew, sizeof(achNew)) ||
            !PathForRestart(lpszDestination, achDestination, sizeof(achDestination))) {
            TraceMessage("Can not replace %s at reboot: path too long", lpszDestination);
            return 0;
        }
        if (strcmp(achDestination, lpszDestination) != 0)
            TraceMessage("Replace at reboot: %s is %s", lpszDestination, achDestination);
        // One entry that replaces the destination: a separate deletion of
        // the destination would still run at the restart if the move then
        // failed (the temporary directory may lie on another volume), and
        // the installed file would be lost.
        if (!s_pfnRebootMove(achNew, achDestination, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
            TraceMessage("Can not replace %s at reboot, GetLastError() = %lu", lpszDestination,
                         static_cast<unsigned long>(GetLastError()));
            return 0;
        }
        return 1;
    }

    // Windows 9x: WININIT.INI's "rename" section, which only takes short names.
    char achIni[GPC_MAX_PATH];
    UINT nLength = GetWindowsDirectoryA(achIni, sizeof(achIni));
    if (nLength == 0 || nLength >= sizeof(achIni) || !AppendPathComponent(achIni, sizeof(achIni), "WININIT.INI")) {
        TraceMessage("Can not replace %s at reboot: no path for WININIT.INI", lpszDestination);
        return 0;
    }
    if (!FileExists(achIni)) {
        CGpcHandle hIni(CreateFileA(achIni, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    char achShortNew[GPC_MAX_PATH];
    char achShortDest[GPC_MAX_PATH];
    DWORD dwNew = GetShortPathNameA(lpszNewFile, achShortNew, sizeof(achShortNew));
    if (dwNew == 0 || dwNew >= sizeof(achShortNew))
        GpcCopyString(achShortNew, sizeof(achShortNew), lpszNewFile);
    DWORD dwDest = GetShortPathNameA(lpszDestination, achShortDest, sizeof(achShortDest));
    if (dwDest == 0 || dwDest >= sizeof(achShortDest))
        GpcCopyString(achShortDest, sizeof(achShortDest), lpszDestination);
    if (!WritePrivateProfileStringA("rename", achShortDest, achShortNew, achIni)) {
        TraceMessage("Can not replace %s at reboot, GetLastError() = %lu", lpszDestination,
                     static_cast<unsigned long>(GetLastError()));
        return 0;
    }
    return 1;
}

void FixStdNamesFileTime(const char* lpszPath, const char* lpszName)
{
    if (!lpszPath || !lpszName || _stricmp(lpszName, GPC_STDNAMES_FILE) != 0)
        return;
    // The printer driver compares this file's time stamp with its own
    // record; it must carry the date the driver was built with.
    CGpcHandle hFile(CreateFileA(lpszPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return;
    FILETIME ft;
    if (!DosDateTimeToFileTime(0x2C21, 0, &ft))
        return;
    SetFileTime(hFile.Get(), &ft, &ft, &ft);
}

bool HasTimesSetByLibrary(const char* lpszPath)
{
    if (!lpszPath)
        return false;
    const char* pSeparator = GpcFindLastSeparator(lpszPath, "\\/:");
    return _stricmp(pSeparator ? pSeparator + 1 : lpszPath, GPC_STDNAMES_FILE) == 0;
}

int CanManageServices()
{
    CGpcScHandle hManager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    return hManager ? 1 : 0;
}
