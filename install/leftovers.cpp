// Temporary files that an earlier run left behind: a process killed while it
// installs (a browser closed or crashing in a meeting join) never removes
// what it was writing. The next start removes them, and only them: names
// that GetTempFileName made with one of the library's prefixes, in the
// folders where the library makes them.
#include <windows.h>

#include <cstring>

#include "feedback/trace.h"
#include "install/installation_mgr.h"
#include "npvrgpc/handles.h"

namespace {

// Up to this many distinct folders of a manifest's items are swept; the
// files of a section lie in a few folders, and a list longer than this is
// swept in part rather than without end.
enum { GPC_SWEEP_FOLDERS = 32 };

struct GpcFindTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
// A directory search, closed when it goes out of scope.
typedef CGpcScoped<HANDLE, GpcFindTraits> CGpcFindHandle;

// The folder without a closing separator, unless it is a drive's root.
void TrimFolder(char* lpszDir)
{
    size_t n = strlen(lpszDir);
    while (n > 1 && (lpszDir[n - 1] == '\\' || lpszDir[n - 1] == '/') && lpszDir[n - 2] != ':')
        lpszDir[--n] = '\0';
}

bool GetTempFolder(char* lpszDir)
{
    DWORD dwLength = GetTempPathA(GPC_MAX_PATH, lpszDir);
    if (dwLength == 0 || dwLength >= GPC_MAX_PATH) {
        lpszDir[0] = '\0';
        return false;
    }
    TrimFolder(lpszDir);
    return true;
}

// The folders to sweep, each once.
class CGpcFolderList {
public:
    void Add(const char* lpszDir)
    {
        if (!lpszDir || !lpszDir[0] || m_nCount >= GPC_SWEEP_FOLDERS)
            return;
        char achDir[GPC_MAX_PATH];
        if (GpcCopyString(achDir, sizeof(achDir), lpszDir) != static_cast<int>(strlen(lpszDir)))
            return;
        TrimFolder(achDir);
        for (int i = 0; i < m_nCount; ++i) {
            if (lstrcmpiA(m_aachDirs[i], achDir) == 0)
                return;
        }
        GpcCopyString(m_aachDirs[m_nCount++], GPC_MAX_PATH, achDir);
    }
    int GetCount() const { return m_nCount; }
    const char* GetAt(int i) const { return m_aachDirs[i]; }

private:
    char m_aachDirs[GPC_SWEEP_FOLDERS][GPC_MAX_PATH];
    int m_nCount = 0;
};

// Removes the library's temporary files of one prefix in one folder; a file
// that its maker still holds open fails to go and is left alone.
int SweepFolder(const char* lpszDir, const char* lpszPrefix, const char* lpszKeep)
{
    char achPattern[GPC_MAX_PATH];
    if (GpcFormat(achPattern, sizeof(achPattern), "%s\\%s*.tmp", lpszDir, lpszPrefix) < 0)
        return 0;
    WIN32_FIND_DATAA fd;
    CGpcFindHandle hFind(FindFirstFileA(achPattern, &fd));
    if (!hFind.IsValid())
        return 0;
    int nRemoved = 0;
    do {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsLibraryTempName(fd.cFileName, lpszPrefix))
            continue;
        char achPath[GPC_MAX_PATH];
        if (GpcFormat(achPath, sizeof(achPath), "%s\\%s", lpszDir, fd.cFileName) < 0)
            continue;
        if (lpszKeep && lstrcmpiA(achPath, lpszKeep) == 0)
            continue;
        if (DeleteFileA(achPath))
            ++nRemoved;
    } while (FindNextFileA(hFind.Get(), &fd));
    return nRemoved;
}

}  // namespace

bool IsLibraryTempName(const char* lpszName, const char* lpszPrefix)
{
    if (!lpszName || !lpszPrefix)
        return false;
    size_t nPrefix = strlen(lpszPrefix);
    if (_strnicmp(lpszName, lpszPrefix, nPrefix) != 0)
        return false;
    // GetTempFileName writes the prefix, the unique number in at most four
    // hex digits, then ".tmp".
    const char* p = lpszName + nPrefix;
    int nDigits = 0;
    while ((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f') || (*p >= 'A' && *p <= 'F')) {
        ++p;
        ++nDigits;
    }
    return nDigits >= 1 && nDigits <= 4 && _stricmp(p, ".tmp") == 0;
}

int CVRGpcInstallationMgr::RemoveLeftoverTempFiles(const CGpcPtrArray& items, int nFirst, const char* lpszKeep)
{
    char achTemp[GPC_MAX_PATH];
    GetTempFolder(achTemp);

    // Beside the destinations: the unpacked files and the write tests of
    // new files. The temporary folder's "VR" files are left alone there: a
    // replacement waiting for the restart is one of them.
    CGpcFolderList folders;
    for (int i = nFirst < 0 ? 0 : nFirst; i < items.GetCount(); ++i) {
        GpcInstallItem* pItem = static_cast<GpcInstallItem*>(items.GetAt(i));
        if (!pItem)
            continue;
        char achDir[GPC_MAX_PATH];
        GetInstallDir(pItem, achDir);
        folders.Add(achDir);
        // Redirected copies lie in the product folder.
        if (pItem->Failure == GPC_FAILURE_REDIRECT)
            folders.Add(DefaultInstallDir.GetText());
        // The spooler's copies of printer-driver files lie in its own folder.
        bool bX64 = FieldIs(pItem->Target, GPC_PDRIVER64_TOKEN);
        if (IsWindowsNT() && (bX64 || FieldIs(pItem->Target, "%pdriver%"))) {
            GetVersionedPrinterDriverDir(achDir, bX64 ? GPC_X64_PRINT_ENVIRONMENT : nullptr);
            folders.Add(achDir);
        }
    }
    int nRemoved = 0;
    for (int i = 0; i < folders.GetCount(); ++i) {
        if (achTemp[0] && lstrcmpiA(folders.GetAt(i), achTemp) == 0)
            continue;
        nRemoved += SweepFolder(folders.GetAt(i), "VR", lpszKeep);
    }

    // The copies of the manifest, and the product folder's write test.
    if (achTemp[0])
        nRemoved += SweepFolder(achTemp, "VRK", lpszKeep);
    if (!DefaultInstallDir.IsEmpty()) {
        char achProduct[GPC_MAX_PATH];
        GpcCopyString(achProduct, sizeof(achProduct), DefaultInstallDir.GetText());
        TrimFolder(achProduct);
        nRemoved += SweepFolder(achProduct, "WT", lpszKeep);
    }
    TraceMessage("Removed %d temporary files left by an earlier run", nRemoved);
    return nRemoved;
}
