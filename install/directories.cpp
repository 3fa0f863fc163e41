// Where an item's file lives: its install directory and path, the alternate
// (redirect) location, system targets, and the print spooler that the
// printer-driver directory depends on.
#include "install/installation_mgr.h"

#include <windows.h>

#include <cstring>

#include "feedback/trace.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/module_state.h"

namespace {

// A result that would not fit in a path buffer is refused as a whole (the
// directory comes back empty) instead of being cut: a cut path names some
// other directory, and installing there would be worse than failing.
struct CPathBuilder {
    char achPath[GPC_MAX_PATH];
    bool bTooLong = false;

    CPathBuilder() { achPath[0] = '\0'; }

    void Set(const char* lpszText)
    {
        if (!lpszText)
            lpszText = "";
        if (strlen(lpszText) >= sizeof(achPath)) {
            bTooLong = true;
            return;
        }
        GpcCopyString(achPath, sizeof(achPath), lpszText);
    }
    void Append(const char* lpszComponent)
    {
        if (!bTooLong && !AppendPathComponent(achPath, sizeof(achPath), lpszComponent))
            bTooLong = true;
    }
};

void GetSystemDir(CPathBuilder& path)
{
    char achDir[GPC_MAX_PATH] = "";
    UINT nLength = GetSystemDirectoryA(achDir, sizeof(achDir));
    if (nLength >= sizeof(achDir)) {
        path.bTooLong = true;
        return;
    }
    path.Set(achDir);
}

void GetWindowsDir(CPathBuilder& path)
{
    char achDir[GPC_MAX_PATH] = "";
    UINT nLength = GetWindowsDirectoryA(achDir, sizeof(achDir));
    if (nLength >= sizeof(achDir)) {
        path.bTooLong = true;
        return;
    }
    path.Set(achDir);
}

// The spooler's driver directory for this machine and its default
// environment. The spooler has to run for the question to be answered;
// whether it could be started is not tested, the answer tells.
//
// The spooler's client library is loaded only for this question and let go
// again: imported, it would be loaded with every load of this library, and
// some of its versions leave a mutex in the host's process each time they
// are loaded, whether asked anything or not.
void GetPrinterDriverDir(char* lpszDir, const char* lpszEnvironment = nullptr)
{
    StartSpoolerService();
    lpszDir[0] = '\0';
    typedef BOOL(WINAPI * PFN_GetPrinterDriverDirectoryA)(LPSTR, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD);
    CGpcModule hSpooler(LoadLibraryA("winspool.drv"));
    PFN_GetPrinterDriverDirectoryA pfnGetDir =
        hSpooler ? reinterpret_cast<PFN_GetPrinterDriverDirectoryA>(
                       GetProcAddress(hSpooler.Get(), "GetPrinterDriverDirectoryA"))
                 : nullptr;
    if (!pfnGetDir) {
        TraceMessage("No printer driver directory: the spooler's library cannot be used, GetLastError() = %lu",
                     static_cast<unsigned long>(GetLastError()));
        return;
    }
    // The call takes the environment's name in a writable buffer.
    char achEnvironment[32] = "";
    if (lpszEnvironment)
        GpcCopyString(achEnvironment, sizeof(achEnvironment), lpszEnvironment);
    DWORD cbNeeded = 0;
    if (!pfnGetDir(nullptr, lpszEnvironment ? achEnvironment : nullptr, 1, reinterpret_cast<LPBYTE>(lpszDir),
                   GPC_MAX_PATH, &cbNeeded))
        lpszDir[0] = '\0';
    lpszDir[GPC_MAX_PATH - 1] = '\0';
}

// "%kdriver%": the folder kernel drivers load from. Under WOW64 the system
// folder this process sees is the 32-bit copy, from which nothing loads a
// driver; the native one is reached through its "Sysnative" alias.
void GetKernelDriverDir(CPathBuilder& path)
{
    char achDir[GPC_MAX_PATH];
    if (IsWow64() && GetSysnativeDir(achDir)) {
        path.Set(achDir);
    } else {
        GetSystemDir(path);
    }
    path.Append("drivers");
}

// "%uninstall%": where the uninstaller can be found. With the product under
// the user's profile that is the profile's base directory; otherwise the
// directory that holds this library.
void GetUninstallDir(const IGpcInstallOwner* pOwner, CPathBuilder& path)
{
    if (pOwner && pOwner->IsUserDirRoot()) {
        static const char* const s_apszVariables[] = {"USERPROFILE", "TEMP", "TMP"};
        char achDir[GPC_MAX_PATH] = "";
        bool bFound = false;
        for (const char* lpszVariable : s_apszVariables) {
            DWORD nLength = GetEnvironmentVariableA(lpszVariable, achDir, sizeof(achDir));
            if (nLength == 0)
                continue;
            if (nLength >= sizeof(achDir)) {
                path.bTooLong = true;
                return;
            }
            bFound = true;
            break;
        }
        if (!bFound)
            GpcCopyString(achDir, sizeof(achDir), "\\");
        TraceMessage("Use alternate path instead of %%uninstall%%:%s", achDir);
        path.Set(achDir);
        return;
    }

    char achModule[GPC_MAX_PATH] = "";
    GetGpcModulePath(achModule, sizeof(achModule));
    // Cut at the last real separator; a "\" byte inside a double-byte
    // character does not count.
    char* pszLastSeparator = GpcFindLastSeparator(achModule, "\\");
    if (pszLastSeparator)
        *pszLastSeparator = '\0';
    path.Set(achModule);
}

bool IsSeparator(char ch)
{
    return ch == '/' || ch == '\\';
}

// Resolves a target against the default directory. Returns false (and an
// empty directory) when the result is longer than a path may be, or when it
// would rest on a default directory that is still empty.
bool ResolveInstallDir(CVRGpcInstallationMgr* pMgr, const CGpcString& target,
                       const char* lpszSourceName, char* lpszDir)
{
    const char* lpszDefault = TraceText(pMgr->DefaultInstallDir.GetText());
    CPathBuilder path;
    // Before the product directory is known the default is empty, and a
    // path built on it would start at the root of the current drive.
    bool bNoDefault = lpszDefault[0] == '\0';
    bool bNeedsDefault = false;

    if (target.IsEmpty()) {
        bNeedsDefault = true;
        path.Set(lpszDefault);
    } else if (strchr(target.GetText(), ':')) {
        // An absolute path with a drive is taken as it stands.
        path.Set(target.GetText());
    } else {
        const char* lpszTarget = target.GetText();
        bool bAnchored = IsSeparator(lpszTarget[0]);
        if (bAnchored) {
            // Rooted on the drive of the default directory ("C:"), or on
            // nothing when the default directory has no drive letter.
            char achDrive[3] = "";
            bNeedsDefault = bNoDefault;
            if (lpszDefault[0] && lpszDefault[1] == ':') {
                achDrive[0] = lpszDefault[0];
                achDrive[1] = ':';
            }
            path.Set(achDrive);
        }

        bool bFirst = true;
        const char* p = lpszTarget;
        while (*p && !path.bTooLong) {
            while (IsSeparator(*p))
                ++p;
            if (!*p)
                break;
            // A "\" byte that is the second half of a double-byte character
            // belongs to that character, not to the path structure.
            const char* pEnd = p;
            while (*pEnd && !IsSeparator(*pEnd)) {
                if (IsDBCSLeadByte(static_cast<BYTE>(*pEnd)) && pEnd[1])
                    ++pEnd;
                ++pEnd;
            }
            size_t nComponent = static_cast<size_t>(pEnd - p);
            if (nComponent >= GPC_MAX_PATH) {
                path.bTooLong = true;
                break;
            }
            char achComponent[GPC_MAX_PATH];
            memcpy(achComponent, p, nComponent);
            achComponent[nComponent] = '\0';
            p = pEnd;

            if (bFirst && !bAnchored) {
                // Only a whole first component names a system directory.
                if (_stricmp(achComponent, "%system%") == 0) {
                    GetSystemDir(path);
                } else if (_stricmp(achComponent, "%windows%") == 0) {
                    GetWindowsDir(path);
                } else if (_stricmp(achComponent, "%pdriver%") == 0) {
                    char achDir[GPC_MAX_PATH];
                    GetPrinterDriverDir(achDir);
                    path.Set(achDir);
                } else if (_stricmp(achComponent, GPC_PDRIVER64_TOKEN) == 0) {
                    char achDir[GPC_MAX_PATH] = "";
                    // Only 64-bit Windows has a spooler that loads x64 drivers;
                    // elsewhere such items are not listed at all.
                    if (IsWow64())
                        GetPrinterDriverDir(achDir, GPC_X64_PRINT_ENVIRONMENT);
                    path.Set(achDir);
                } else if (_stricmp(achComponent, "%kdriver%") == 0) {
                    GetKernelDriverDir(path);
                } else if (_stricmp(achComponent, "%uninstall%") == 0) {
                    GetUninstallDir(pMgr->Owner, path);
                } else {
                    bNeedsDefault = true;
                    path.Set(lpszDefault);
                    path.Append(achComponent);
                }
            } else {
                path.Append(achComponent);
            }
            bFirst = false;
        }
        // No component at all ("/", "\\"): the drive when anchored, else the
        // default directory.
        if (bFirst && !bAnchored) {
            bNeedsDefault = true;
            path.Set(lpszDefault);
        }
    }

    if (bNeedsDefault && bNoDefault) {
        TraceMessage("CVRGPCEXT::GetInstallDir,no install directory,file = %s", TraceText(lpszSourceName));
        lpszDir[0] = '\0';
        return false;
    }
    if (path.bTooLong) {
        TraceMessage("CVRGPCEXT::GetInstallDir,path too long,file = %s", TraceText(lpszSourceName));
        lpszDir[0] = '\0';
    } else {
        GpcCopyString(lpszDir, GPC_MAX_PATH, path.achPath);
    }
    TraceMessage("CVRGPCEXT::GetInstallDir,installdir = %s,file = %s", lpszDir,
                 TraceText(lpszSourceName));
    return !path.bTooLong;
}

// Absent and empty texts resolve alike, so they compare alike.
bool SameText(const CGpcString& a, const CGpcString& b)
{
    return strcmp(TraceText(a.GetText()), TraceText(b.GetText())) == 0;
}

// Directory plus separator plus the item's name; empty when the directory
// was refused or the whole path does not fit.
void JoinItemPath(bool bDirOk, char* lpszPath, const GpcInstallItem* pItem)
{
    if (!bDirOk || !AppendPathComponent(lpszPath, GPC_MAX_PATH, TraceText(pItem->SourceName.GetText()))) {
        if (bDirOk)
            TraceMessage("CVRGPCEXT::GetInstallPath,path too long,file = %s",
                         TraceText(pItem->SourceName.GetText()));
        lpszPath[0] = '\0';
    }
}

}  // namespace

bool GetWow64SystemDir(char* lpszDir)
{
    lpszDir[0] = '\0';
    // Looked up, not imported: Windows 2000 and 9x lack the call.
    typedef UINT(WINAPI * PFN_GetSystemWow64DirectoryA)(LPSTR, UINT);
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    PFN_GetSystemWow64DirectoryA pfnGet =
        hKernel ? reinterpret_cast<PFN_GetSystemWow64DirectoryA>(
                      reinterpret_cast<void*>(GetProcAddress(hKernel, "GetSystemWow64DirectoryA")))
                : nullptr;
    UINT nLength = pfnGet ? pfnGet(lpszDir, GPC_MAX_PATH) : 0;
    if (nLength > 0 && nLength < GPC_MAX_PATH)
        return true;
    // Asked without WOW64 (a test), the call fails: the folder has had the
    // same name beside the system folder on every 64-bit Windows.
    CPathBuilder path;
    GetWindowsDir(path);
    path.Append("SysWOW64");
    if (path.bTooLong || !path.achPath[0]) {
        lpszDir[0] = '\0';
        return false;
    }
    GpcCopyString(lpszDir, GPC_MAX_PATH, path.achPath);
    return true;
}

bool GetSysnativeDir(char* lpszDir)
{
    CPathBuilder path;
    GetWindowsDir(path);
    path.Append("Sysnative");
    if (path.bTooLong || !path.achPath[0]) {
        lpszDir[0] = '\0';
        return false;
    }
    GpcCopyString(lpszDir, GPC_MAX_PATH, path.achPath);
    return true;
}

bool CVRGpcInstallationMgr::ResolveItemInstallDir(GpcInstallItem* pItem, char* lpszDir)
{
    GpcInstallItem::GpcDirMemo& memo = pItem->InstallDirMemo;
    int bUserDirRoot = Owner && Owner->IsUserDirRoot() ? 1 : 0;
    if (memo.Pass == DirPass && memo.UserDirRoot == bUserDirRoot && SameText(memo.DefaultDir, DefaultInstallDir) &&
        SameText(memo.Target, pItem->Target)) {
        GpcCopyString(lpszDir, GPC_MAX_PATH, TraceText(memo.Dir.GetText()));
        return memo.Resolved;
    }
    bool bResolved = ResolveInstallDir(this, pItem->Target, pItem->SourceName.GetText(), lpszDir);
    // Kept only when every part could be copied; otherwise it is simply
    // resolved again next time.
    memo.Pass = 0;
    if (memo.DefaultDir.Assign(DefaultInstallDir) && memo.Target.Assign(pItem->Target) && memo.Dir.Assign(lpszDir)) {
        memo.Pass = DirPass;
        memo.UserDirRoot = bUserDirRoot;
        memo.Resolved = bResolved;
    }
    return bResolved;
}

void CVRGpcInstallationMgr::ForgetInstallDirs()
{
    // 0 marks an item with nothing kept, so the count skips it.
    if (++DirPass == 0)
        DirPass = 1;
}

void CVRGpcInstallationMgr::GetInstallDir(GpcInstallItem* pItem, char* lpszDir)
{
    if (!lpszDir)
        return;
    if (!pItem) {
        lpszDir[0] = '\0';
        return;
    }
    ResolveItemInstallDir(pItem, lpszDir);
}

void CVRGpcInstallationMgr::GetInstallPath(GpcInstallItem* pItem, char* lpszPath)
{
    if (!lpszPath)
        return;
    if (!pItem) {
        lpszPath[0] = '\0';
        return;
    }
    bool bDirOk = ResolveItemInstallDir(pItem, lpszPath);
    JoinItemPath(bDirOk, lpszPath, pItem);
}

void CVRGpcInstallationMgr::GetRedirectDir(GpcInstallItem* pItem, char* lpszDir)
{
    if (!lpszDir)
        return;
    if (!pItem) {
        lpszDir[0] = '\0';
        return;
    }
    // Resolve as if the item had no target; the item itself is not touched.
    ResolveInstallDir(this, CGpcString(), pItem->SourceName.GetText(), lpszDir);
}

void CVRGpcInstallationMgr::GetRedirectPath(GpcInstallItem* pItem, char* lpszPath)
{
    if (!lpszPath)
        return;
    if (!pItem) {
        lpszPath[0] = '\0';
        return;
    }
    bool bDirOk = ResolveInstallDir(this, CGpcString(), pItem->SourceName.GetText(), lpszPath);
    JoinItemPath(bDirOk, lpszPath, pItem);
}

int CVRGpcInstallationMgr::IsSystemTarget(GpcInstallItem* pItem)
{
    if (!pItem || pItem->Target.IsEmpty())
        return 0;
    return FieldIs(pItem->Target, "%system%") || FieldIs(pItem->Target, "%windows%") ||
                   FieldIs(pItem->Target, "%pdriver%") || FieldIs(pItem->Target, GPC_PDRIVER64_TOKEN) ||
                   FieldIs(pItem->Target, "%kdriver%")
               ? 1
               : 0;
}

int StartSpoolerService()
{
    CGpcScHandle hManager(OpenSCManagerA(nullptr, "ServicesActive", SC_MANAGER_ALL_ACCESS));
    if (!hManager)
        return 0;
    CGpcScHandle hService(OpenServiceA(hManager.Get(), "Spooler", SERVICE_ALL_ACCESS));
    if (!hService)
        return 0;

    SERVICE_STATUS status;
    memset(&status, 0, sizeof(status));
    if (!QueryServiceStatus(hService.Get(), &status))
        return 0;
    if (status.dwCurrentState == SERVICE_RUNNING)
        return 1;

    if (!StartServiceA(hService.Get(), 0, nullptr))
        return 0;
    if (!QueryServiceStatus(hService.Get(), &status))
        return 0;

    // Wait as the service control manager expects: poll at a tenth of the
    // announced wait hint (1 to 10 seconds), and give up once the service
    // stops advancing its checkpoint for longer than the hint.
    DWORD dwStartTick = GetTickCount();
    DWORD dwOldCheckPoint = status.dwCheckPoint;
    while (status.dwCurrentState == SERVICE_START_PENDING) {
        DWORD dwWait = status.dwWaitHint / 10;
        if (dwWait < 1000)
            dwWait = 1000;
        else if (dwWait > 10000)
            dwWait = 10000;
        Sleep(dwWait);

        if (!QueryServiceStatus(hService.Get(), &status))
            break;
        if (status.dwCheckPoint > dwOldCheckPoint) {
            dwStartTick = GetTickCount();
            dwOldCheckPoint = status.dwCheckPoint;
        } else if (TickDelta(dwStartTick, GetTickCount()) > status.dwWaitHint) {
            break;
        }
    }
    return status.dwCurrentState == SERVICE_RUNNING ? 1 : 0;
}

void GetVersionedPrinterDriverDir(char* lpszDir, const char* lpszEnvironment)
{
    if (!lpszDir)
        return;
    char achDir[GPC_MAX_PATH];
    GetPrinterDriverDir(achDir, lpszEnvironment);
    // Windows 2000 and later keep kernel-mode-3 drivers under "3", older
    // systems under "2".
    const char* lpszVersion = IsWindowsNT() && IsWindows2000OrLater() ? "3\\" : "2\\";
    if (!achDir[0] || !AppendPathComponent(achDir, sizeof(achDir), lpszVersion))
        achDir[0] = '\0';
    GpcCopyString(lpszDir, GPC_MAX_PATH, achDir);
}
