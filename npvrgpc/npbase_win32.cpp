// Support library: files, file versions, registry keys and operating-system
// tests. These are the only support routines that call Win32 directly.
#ifdef _WIN32

#include "npvrgpc/npbase.h"

#include <cstring>
#include <new>

#include "npvrgpc/gpc_assert.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/text_seam.h"

// ------------------------------------------------------------------- files

int FileExists(const char* lpszPath)
{
    if (lpszPath == nullptr || lpszPath[0] == '\0') return 0;
    // Attributes rather than an open: a file that another process holds
    // exclusively (a loaded component being replaced) still exists, and
    // paths are not limited to the 128 characters of the old open call.
    DWORD dwAttributes = GetFileAttributesA(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveFile(const char* lpszPath)
{
    if (lpszPath == nullptr || lpszPath[0] == '\0') return;
    // Whether it worked is of no interest to the callers: a file that stays
    // behind is found (and replaced) by the next update.
    DeleteFileA(lpszPath);
}

void CreateDirectoryPath(const char* lpszPath)
{
    if (lpszPath == nullptr) return;
    char achCopy[GPC_MAX_PATH];
    GpcCopyString(achCopy, sizeof(achCopy), lpszPath);

    char achBuild[GPC_MAX_PATH];
    achBuild[0] = '\0';
    bool bFirst = true;
    char* p = achCopy;
    while (*p != '\0') {
        while (*p == '\\' || *p == '/') ++p;
        if (*p == '\0') break;
        // A component runs to the next separator; the trail byte of a
        // double-byte character is never one.
        char* pStart = p;
        while (*p != '\0' && *p != '\\' && *p != '/') {
            if (GpcIsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') ++p;
            ++p;
        }
        char chSaved = *p;
        *p = '\0';
        if (bFirst) {
            // The drive (as in "C:") is taken as it is and not created.
            GpcCopyString(achBuild, sizeof(achBuild), pStart);
            bFirst = false;
        } else {
            GpcAppendString(achBuild, sizeof(achBuild), "\\");
            GpcAppendString(achBuild, sizeof(achBuild), pStart);
            // Existing directories and failures are fine: the caller finds
            // out when it writes into the directory.
            CreateDirectoryA(achBuild, nullptr);
        }
        *p = chSaved;
    }
}

DWORD GetFileSizeByName(const char* lpszPath)
{
    if (lpszPath == nullptr) return 0;
    CGpcHandle hFile(CreateFileA(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) return 0;
    DWORD dwSize = GetFileSize(hFile.Get(), nullptr);
    return dwSize == INVALID_FILE_SIZE ? 0 : dwSize;
}

namespace {

// RT_VERSION in the form the ANSI resource calls take.
const LPCSTR GPC_RT_VERSION = MAKEINTRESOURCEA(16);

BOOL CALLBACK CountLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR lParam)
{
    int* pnCount = reinterpret_cast<int*>(lParam);
    return ++*pnCount < 2;  // two are enough to know
}

// The fixed part of the file's version resource, read from one mapping of
// the file. The system's pair (size, then the data) maps the file twice and
// costs several times as much. It answers only when there is no doubt about
// what the pair would say: a 32-bit module with exactly one version
// resource, whose fixed part is where its length says. Anything else (no
// module, no resource, several languages to choose from, a damaged block)
// is left to the pair. Returns 1 with *pInfo filled, 0 when undecided.
int ReadFixedVersionOnce(const char* lpszPath, VS_FIXEDFILEINFO* pInfo)
{
    CGpcModule hData(LoadLibraryExA(lpszPath, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!hData) return 0;
    int nLanguages = 0;
    EnumResourceLanguagesA(hData.Get(), GPC_RT_VERSION, MAKEINTRESOURCEA(VS_VERSION_INFO), &CountLanguage,
                           reinterpret_cast<LONG_PTR>(&nLanguages));
    if (nLanguages != 1) return 0;
    HRSRC hResource = FindResourceA(hData.Get(), MAKEINTRESOURCEA(VS_VERSION_INFO), GPC_RT_VERSION);
    if (hResource == nullptr) return 0;
    DWORD dwSize = SizeofResource(hData.Get(), hResource);
    HGLOBAL hBlock = LoadResource(hData.Get(), hResource);
    const BYTE* pBlock = hBlock ? static_cast<const BYTE*>(LockResource(hBlock)) : nullptr;
    // A 32-bit block: its length, the value's length and type, the key
    // "VS_VERSION_INFO" in UTF-16 with its terminator, padding to a 4-byte
    // boundary, then the fixed part.
    static const WCHAR s_wszKey[] = L"VS_VERSION_INFO";
    const DWORD dwValueOffset = (6 + sizeof(s_wszKey) + 3) & ~3u;
    if (pBlock == nullptr || dwSize < dwValueOffset + sizeof(VS_FIXEDFILEINFO)) return 0;
    WORD wLength, wValueLength;
    std::memcpy(&wLength, pBlock, sizeof(wLength));
    std::memcpy(&wValueLength, pBlock + 2, sizeof(wValueLength));
    if (wLength > dwSize || wLength < dwValueOffset + sizeof(VS_FIXEDFILEINFO) ||
        wValueLength < sizeof(VS_FIXEDFILEINFO) || std::memcmp(pBlock + 6, s_wszKey, sizeof(s_wszKey)) != 0)
        return 0;
    std::memcpy(pInfo, pBlock + dwValueOffset, sizeof(*pInfo));
    return pInfo->dwSignature == VS_FFI_SIGNATURE ? 1 : 0;
}

// The same through the system's pair.
int ReadFixedVersionByPair(const char* lpszPath, VS_FIXEDFILEINFO* pInfo)
{
    DWORD dwHandle = 0;
    DWORD dwInfoSize = GetFileVersionInfoSizeA(lpszPath, &dwHandle);
    if (dwInfoSize == 0) return 0;
    char* pData = new (std::nothrow) char[dwInfoSize];
    if (pData == nullptr) return 0;
    int bFound = 0;
    if (GetFileVersionInfoA(lpszPath, 0, dwInfoSize, pData)) {
        VS_FIXEDFILEINFO* pFileInfo = nullptr;
        UINT uLen = 0;
        if (!VerQueryValueA(pData, "\\", reinterpret_cast<void**>(&pFileInfo), &uLen)) pFileInfo = nullptr;
        GPC_ASSERT(pFileInfo);
        if (pFileInfo != nullptr && uLen >= sizeof(VS_FIXEDFILEINFO) && pFileInfo->dwSignature == VS_FFI_SIGNATURE) {
            std::memcpy(pInfo, pFileInfo, sizeof(*pInfo));
            bFound = 1;
        }
    }
    delete[] pData;
    return bFound;
}

}  // namespace

int GetFileVersionString(const char* lpszPath, char* lpszVersion, int nSize)
{
    GPC_ASSERT(lpszPath);
    GPC_ASSERT(lpszVersion);
    if (lpszVersion == nullptr || nSize <= 0) return 0;
    lpszVersion[0] = '\0';
    if (lpszPath == nullptr) return 0;

    VS_FIXEDFILEINFO info;
    if (!ReadFixedVersionOnce(lpszPath, &info) && !ReadFixedVersionByPair(lpszPath, &info)) return 0;
    // A cut version would compare as a different version: an output that
    // does not fit leaves the text empty instead.
    if (GpcFormat(lpszVersion, nSize, "%u,%u,%u,%u", static_cast<unsigned>(HIWORD(info.dwFileVersionMS)),
                  static_cast<unsigned>(LOWORD(info.dwFileVersionMS)),
                  static_cast<unsigned>(HIWORD(info.dwFileVersionLS)),
                  static_cast<unsigned>(LOWORD(info.dwFileVersionLS))) < 0) {
        lpszVersion[0] = '\0';
    }
    return lpszVersion[0] != '\0';
}

// ---------------------------------------------------------------- registry

LONG CGpcRegKey::Close()
{
    if (m_hKey == nullptr) return ERROR_SUCCESS;
    LONG lResult = RegCloseKey(m_hKey);
    m_hKey = nullptr;
    return lResult;
}

LONG CGpcRegKey::Create(HKEY hParent, const char* lpszSubKey, char* lpszClass, DWORD dwOptions,
                        REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecAttr, DWORD* lpdwDisposition)
{
    if (hParent == nullptr || lpszSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY hKey = nullptr;
    DWORD dwDisposition = 0;
    LONG lResult = RegCreateKeyExA(hParent, lpszSubKey, 0, lpszClass, dwOptions, samDesired, lpSecAttr,
                                   &hKey, &dwDisposition);
    if (lResult != ERROR_SUCCESS) return lResult;
    // The old key is let go only once the new one is open (the parent may be
    // the key this holder has).
    Close();
    m_hKey = hKey;
    if (lpdwDisposition != nullptr) *lpdwDisposition = dwDisposition;
    return ERROR_SUCCESS;
}

LONG CGpcRegKey::Open(HKEY hParent, const char* lpszSubKey, REGSAM samDesired)
{
    if (hParent == nullptr || lpszSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY hKey = nullptr;
    LONG lResult = RegOpenKeyExA(hParent, lpszSubKey, 0, samDesired, &hKey);
    if (lResult != ERROR_SUCCESS) return lResult;
    Close();
    m_hKey = hKey;
    return ERROR_SUCCESS;
}

LONG CGpcRegKey::QueryValue(void* pBuffer, const char* lpszName, DWORD* pdwSize, DWORD* pdwType)
{
    if (m_hKey == nullptr) return ERROR_INVALID_HANDLE;
    if (pdwSize == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD dwCapacity = *pdwSize;
    DWORD dwType = REG_NONE;
    LONG lResult = RegQueryValueExA(m_hKey, lpszName, nullptr, &dwType, static_cast<BYTE*>(pBuffer), pdwSize);
    if (pdwType != nullptr) *pdwType = dwType;
    if (pBuffer == nullptr || dwCapacity == 0 || (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) return lResult;

    // The registry keeps string data as written, terminator or not. Callers
    // use what they read as C text, so it must end inside their buffer, even
    // when it did not fit.
    char* pText = static_cast<char*>(pBuffer);
    if (lResult == ERROR_MORE_DATA) pText[dwCapacity - 1] = '\0';
    if (lResult == ERROR_SUCCESS) {
        DWORD dwData = *pdwSize;
        if (dwData == 0 || pText[dwData - 1] != '\0') {
            if (dwData >= dwCapacity) {
                pText[dwCapacity - 1] = '\0';
                *pdwSize = dwData + 1;
                return ERROR_MORE_DATA;
            }
            pText[dwData] = '\0';
            *pdwSize = dwData + 1;
        }
    }
    return lResult;
}

LONG CGpcRegKey::SetStringValue(const char* lpszValue, const char* lpszName)
{
    if (m_hKey == nullptr) return ERROR_INVALID_HANDLE;
    if (lpszValue == nullptr) return ERROR_INVALID_PARAMETER;
    size_t nBytes = strlen(lpszValue) + 1;  // the terminator is part of the value
    if (nBytes > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
    return RegSetValueExA(m_hKey, lpszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(lpszValue),
                          static_cast<DWORD>(nBytes));
}

// --------------------------------------------------------------- OS tests

namespace {

bool GetOsVersion(OSVERSIONINFOA* pInfo)
{
    memset(pInfo, 0, sizeof(*pInfo));
    pInfo->dwOSVersionInfoSize = sizeof(*pInfo);
    return GetVersionExA(pInfo) != FALSE;
}

}  // namespace

int IsWindowsNT()
{
    OSVERSIONINFOA info;
    return GetOsVersion(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

int IsWindows2000OrLater()
{
    OSVERSIONINFOA info;
    return GetOsVersion(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 5;
}

namespace {

int s_nWow64ForTesting = -1;

}  // namespace

int SetWow64ForTesting(int nAnswer)
{
    int nBefore = s_nWow64ForTesting;
    s_nWow64ForTesting = nAnswer < 0 ? -1 : (nAnswer ? 1 : 0);
    return nBefore;
}

int IsWow64()
{
    if (s_nWow64ForTesting >= 0)
        return s_nWow64ForTesting;
    // Looked up, not imported: systems before XP SP2 lack the call, and a
    // library that imports it would not load there at all.
    typedef BOOL(WINAPI * PFN_IsWow64Process)(HANDLE, BOOL*);
    HMODULE hKernel = GetModuleHandleA("kernel32.dll");
    PFN_IsWow64Process pfnIsWow64 =
        hKernel ? reinterpret_cast<PFN_IsWow64Process>(reinterpret_cast<void*>(GetProcAddress(hKernel, "IsWow64Process")))
                : nullptr;
    BOOL bWow64 = FALSE;
    if (!pfnIsWow64 || !pfnIsWow64(GetCurrentProcess(), &bWow64))
        return 0;
    return bWow64 ? 1 : 0;
}

#endif  // _WIN32
