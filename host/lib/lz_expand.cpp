#include "lz_expand.h"

#include <windows.h>
#include <lzexpand.h>

namespace {

// The folder of a path (with its separator when it is a drive's root), or
// "." for a bare name.
bool FolderOf(const char* lpszPath, char* lpszFolder, size_t nSize)
{
    if (lstrlenA(lpszPath) >= static_cast<int>(nSize)) return false;
    lstrcpynA(lpszFolder, lpszPath, static_cast<int>(nSize));
    char* pLast = nullptr;
    for (char* p = lpszFolder; *p; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/') pLast = p;
    }
    if (!pLast) {
        lstrcpynA(lpszFolder, ".", static_cast<int>(nSize));
        return true;
    }
    if (pLast > lpszFolder && pLast[-1] == ':')
        pLast[1] = '\0';
    else
        pLast[0] = '\0';
    return true;
}

}  // namespace

// Expands (SZDD) or copies lpszSource to lpszDest. The destination is never
// opened for writing: the expansion goes to a new file beside it, which
// replaces it in one rename only once it is complete, so a failed expansion
// leaves whatever was at lpszDest as it was.
int GpcExpandFile(const char* lpszSource, const char* lpszDest)
{
    if (!lpszSource || !lpszDest) return -1;
    char achFolder[MAX_PATH];
    char achTemp[MAX_PATH];
    if (!FolderOf(lpszDest, achFolder, sizeof(achFolder)) || !GetTempFileNameA(achFolder, "GPX", 0, achTemp))
        return -1;
    OFSTRUCT ofSource;
    INT hSource = LZOpenFileA(const_cast<char*>(lpszSource), &ofSource, OF_READ);
    if (hSource < 0) {
        DeleteFileA(achTemp);
        return -1;
    }
    // LZCopy writes to a plain file handle; CreateFile takes longer paths
    // than the classic OpenFile would.
    HANDLE hTemp = CreateFileA(achTemp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hTemp == INVALID_HANDLE_VALUE) {
        LZClose(hSource);
        DeleteFileA(achTemp);
        return -1;
    }
    LONG lCopied = LZCopy(hSource, static_cast<HFILE>(reinterpret_cast<INT_PTR>(hTemp)));
    LZClose(hSource);
    BOOL bClosed = CloseHandle(hTemp);
    if (lCopied < 0 || !bClosed || !MoveFileExA(achTemp, lpszDest, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(achTemp);
        return -1;
    }
    return 0;
}
