// Applying a delta: read the installed file and the delta whole (both are
// bounded), decode in memory, write the result beside the destination and
// check it with the same SHA-256 the downloads are checked with.
#include "install/delta_apply.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "install/delta_manifest.h"
#include "install/manifest_trust.h"
#include "install/vcdiff.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/npbase.h"

namespace {

typedef std::unique_ptr<unsigned char[]> CGpcBytes;

// The whole file, when it holds at most nMax bytes. Readers may share it:
// an installed module may be loaded (and so read) by a running program.
int ReadWhole(const char* lpszPath, size_t nMax, CGpcBytes* pData, size_t* pnSize)
{
    CGpcHandle hFile(CreateFileA(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!hFile) return GPC_DELTA_READ_ERROR;
    DWORD dwHigh = 0;
    DWORD dwSize = GetFileSize(hFile.Get(), &dwHigh);
    if (dwSize == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return GPC_DELTA_READ_ERROR;
    if (dwHigh != 0 || dwSize > nMax) return GPC_DELTA_READ_ERROR;
    // One byte more than asked for, so that an empty file has a buffer too.
    pData->reset(new (std::nothrow) unsigned char[static_cast<size_t>(dwSize) + 1]);
    if (!*pData) return GPC_DELTA_NO_MEMORY;
    DWORD dwRead = 0;
    if (dwSize > 0 && (!ReadFile(hFile.Get(), pData->get(), dwSize, &dwRead, nullptr) || dwRead != dwSize)) {
        return GPC_DELTA_READ_ERROR;
    }
    *pnSize = dwSize;
    return GPC_DELTA_APPLIED;
}

// A new, empty file with the library's temporary prefix in the folder of
// lpszDestination: there, the replacement is one rename on one volume.
// lpszTemp holds GPC_MAX_PATH bytes.
bool CreateTempBeside(const char* lpszDestination, char* lpszTemp)
{
    char achDir[GPC_MAX_PATH];
    if (GpcCopyString(achDir, sizeof(achDir), lpszDestination) != static_cast<int>(strlen(lpszDestination)))
        return false;
    char* pSeparator = GpcFindLastSeparator(achDir, "\\/");
    if (pSeparator == nullptr) return false;
    // "C:\x.dll" keeps its separator: "C:" alone names the current directory.
    if (pSeparator > achDir && pSeparator[-1] == ':')
        pSeparator[1] = '\0';
    else
        pSeparator[0] = '\0';
    return GetTempFileNameA(achDir, "VR", 0, lpszTemp) != 0;
}

bool WriteWhole(const char* lpszPath, const unsigned char* pData, size_t nSize)
{
    CGpcHandle hFile(CreateFileA(lpszPath, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (!hFile) return false;
    DWORD dwWritten = 0;
    if (nSize > 0 && (!WriteFile(hFile.Get(), pData, static_cast<DWORD>(nSize), &dwWritten, nullptr) ||
                      dwWritten != nSize)) {
        return false;
    }
    return FlushFileBuffers(hFile.Get()) != 0;
}

}  // namespace

const char* GpcDeltaApplyResultName(int nResult)
{
    switch (nResult) {
    case GPC_DELTA_APPLIED: return "applied";
    case GPC_DELTA_READ_ERROR: return "read error";
    case GPC_DELTA_NO_MEMORY: return "out of memory";
    case GPC_DELTA_UNDECODABLE: return "cannot be decoded";
    case GPC_DELTA_WRONG_RESULT: return "result does not match the file's hash";
    case GPC_DELTA_WRITE_ERROR: return "write error";
    case GPC_DELTA_NO_PROVIDER: return "no cryptographic provider";
    default: return "unknown";
    }
}

int GpcApplyDeltaFile(const char* lpszInstalled, const char* lpszDelta, const char* lpszDestination,
                      size_t nMaxSize, const unsigned char* pFullHash, char* lpszTemp, size_t nTempSize,
                      int* pnDecodeResult)
{
    if (pnDecodeResult != nullptr) *pnDecodeResult = GPC_VCDIFF_OK;
    if (lpszTemp != nullptr && nTempSize > 0) lpszTemp[0] = '\0';
    if (lpszInstalled == nullptr || lpszDelta == nullptr || lpszDestination == nullptr || pFullHash == nullptr ||
        lpszTemp == nullptr) {
        return GPC_DELTA_READ_ERROR;
    }
    if (nTempSize < GPC_MAX_PATH) return GPC_DELTA_WRITE_ERROR;
    if (nMaxSize > GPC_VCDIFF_MAX_TARGET) nMaxSize = GPC_VCDIFF_MAX_TARGET;

    CGpcBytes source, delta;
    size_t nSource = 0, nDelta = 0;
    int nResult = ReadWhole(lpszInstalled, GPC_VCDIFF_MAX_TARGET, &source, &nSource);
    if (nResult != GPC_DELTA_APPLIED) return nResult;
    nResult = ReadWhole(lpszDelta, GPC_MAX_DELTA_SIZE, &delta, &nDelta);
    if (nResult != GPC_DELTA_APPLIED) return nResult;

    CGpcBytes result(new (std::nothrow) unsigned char[nMaxSize + 1]);
    if (!result) return GPC_DELTA_NO_MEMORY;
    size_t nResultSize = 0;
    int nDecode = GpcVcdiffDecode(source.get(), nSource, delta.get(), nDelta, result.get(), nMaxSize, &nResultSize);
    if (pnDecodeResult != nullptr) *pnDecodeResult = nDecode;
    if (nDecode != GPC_VCDIFF_OK) return GPC_DELTA_UNDECODABLE;
    source.reset();
    delta.reset();

    char achTemp[GPC_MAX_PATH];
    if (!CreateTempBeside(lpszDestination, achTemp)) return GPC_DELTA_WRITE_ERROR;
    // The file is checked as written, through the same hash as a download.
    nResult = GPC_DELTA_WRITE_ERROR;
    if (WriteWhole(achTemp, result.get(), nResultSize)) {
        unsigned char abHash[GPC_SHA256_SIZE];
        int nHash = GpcHashFile(achTemp, abHash);
        if (nHash == GPC_TRUST_NO_PROVIDER)
            nResult = GPC_DELTA_NO_PROVIDER;
        else if (nHash != GPC_TRUST_OK)
            nResult = GPC_DELTA_WRITE_ERROR;
        else if (memcmp(abHash, pFullHash, GPC_SHA256_SIZE) != 0)
            nResult = GPC_DELTA_WRONG_RESULT;
        else
            nResult = GPC_DELTA_APPLIED;
    }
    if (nResult != GPC_DELTA_APPLIED) {
        DeleteFileA(achTemp);
        return nResult;
    }
    memcpy(lpszTemp, achTemp, strlen(achTemp) + 1);
    return GPC_DELTA_APPLIED;
}
