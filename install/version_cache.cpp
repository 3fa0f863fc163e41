#include "install/version_cache.h"

#include <cstring>
#include <new>

#include "install/installation_mgr.h"

namespace {

const char GPC_STORE_KEY[] = "VersionCache";
// Files of sections and versions no longer used leave their entries; past
// this many the key is emptied and filled again by the reads that follow.
const DWORD GPC_STORE_LIMIT = 4096;

// A kept entry, one REG_SZ value named by the full path:
//   <kind>|<size>|<last write>|<creation>|<found>|<text>
// with each 64-bit number as 16 upper-case hex digits, <found> 1 or 0 and
// the text empty when nothing was found. The stamp part must equal the
// file's, byte for byte; anything else is not an entry.
enum { GPC_STAMP_SIZE = 64, GPC_RECORD_SIZE = GPC_STAMP_SIZE + GPC_CURRENT_VALUE + 8 };

// The stamp part of a record (with its closing "|") for a file as it is now.
void FormatStamp(GpcVersionKind nKind, const WIN32_FILE_ATTRIBUTE_DATA& data, char* lpszStamp)
{
    GpcFormat(lpszStamp, GPC_STAMP_SIZE, "%d|%08lX%08lX|%08lX%08lX|%08lX%08lX|", static_cast<int>(nKind),
              static_cast<unsigned long>(data.nFileSizeHigh), static_cast<unsigned long>(data.nFileSizeLow),
              static_cast<unsigned long>(data.ftLastWriteTime.dwHighDateTime),
              static_cast<unsigned long>(data.ftLastWriteTime.dwLowDateTime),
              static_cast<unsigned long>(data.ftCreationTime.dwHighDateTime),
              static_cast<unsigned long>(data.ftCreationTime.dwLowDateTime));
}

// The kept answer for a file with this stamp: false when there is none, or
// when the value is of another type, size or form than a record.
bool LoadRecord(HKEY hStore, const char* lpszPath, const char* lpszStamp, int* pbFound, char* lpszValue)
{
    char achRecord[GPC_RECORD_SIZE];
    DWORD dwType = REG_NONE;
    DWORD dwSize = sizeof(achRecord) - 1;
    if (RegQueryValueExA(hStore, lpszPath, nullptr, &dwType, reinterpret_cast<BYTE*>(achRecord), &dwSize) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ || dwSize == 0 || dwSize >= sizeof(achRecord))
        return false;
    achRecord[dwSize] = '\0';
    // One terminator, at the end: a value with text after a zero byte, or
    // without any zero byte, was not written here.
    size_t nLength = strlen(achRecord);
    if (nLength + 1 != dwSize)
        return false;
    size_t nStamp = strlen(lpszStamp);
    if (nLength < nStamp + 2 || strncmp(achRecord, lpszStamp, nStamp) != 0 || achRecord[nStamp + 1] != '|')
        return false;
    const char* lpszText = achRecord + nStamp + 2;
    size_t nText = strlen(lpszText);
    char chFound = achRecord[nStamp];
    if (nText >= GPC_CURRENT_VALUE || (chFound != '1' && chFound != '0') || (chFound == '0' && nText != 0))
        return false;
    *pbFound = chFound == '1';
    memcpy(lpszValue, lpszText, nText + 1);
    return true;
}

void StoreRecord(HKEY hStore, const char* lpszPath, const char* lpszStamp, int bFound, const char* lpszValue)
{
    char achRecord[GPC_RECORD_SIZE];
    if (GpcFormat(achRecord, sizeof(achRecord), "%s%d|%s", lpszStamp, bFound ? 1 : 0, bFound ? lpszValue : "") < 0)
        return;
    RegSetValueExA(hStore, lpszPath, 0, REG_SZ, reinterpret_cast<const BYTE*>(achRecord),
                   static_cast<DWORD>(strlen(achRecord) + 1));
}

// The key of a path: ASCII letters in one case, the two bytes of a
// double-byte character as they are (a trail byte may look like a letter
// and must not be folded, or two different names would meet). Paths that do
// not fit are not cached at all.
bool MakeKey(const char* lpszPath, char* lpszKey, unsigned int* pnHash)
{
    unsigned int nHash = 2166136261u;
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(lpszPath); *p; ++p) {
        if (n + 2 >= GPC_MAX_PATH)
            return false;
        unsigned char ch = *p;
        if (IsDBCSLeadByte(ch) && p[1]) {
            lpszKey[n++] = static_cast<char>(ch);
            nHash = (nHash ^ ch) * 16777619u;
            ch = *++p;
        } else if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<unsigned char>(ch - 'A' + 'a');
        }
        lpszKey[n++] = static_cast<char>(ch);
        nHash = (nHash ^ ch) * 16777619u;
    }
    lpszKey[n] = '\0';
    *pnHash = nHash;
    return n > 0;
}

PFN_GpcGetFileAttributesEx s_pfnReadStamp = &GetFileAttributesExA;

int ReadFromFile(GpcVersionKind nKind, const char* lpszPath, char* lpszOut, int nSize)
{
    if (nKind == GPC_VERSION_RESOURCE)
        return GetFileVersionString(lpszPath, lpszOut, nSize);
    return GetTaggedVersion(lpszPath, lpszOut, nSize);
}

}  // namespace

PFN_GpcGetFileAttributesEx SetFileStampReaderForTesting(PFN_GpcGetFileAttributesEx pfnRead)
{
    PFN_GpcGetFileAttributesEx pfnBefore = s_pfnReadStamp;
    s_pfnReadStamp = pfnRead ? pfnRead : &GetFileAttributesExA;
    return pfnBefore;
}

struct CVRGpcVersionCache::GpcEntry {
    GpcEntry* pNext = nullptr;
    unsigned int nHash = 0;
    GpcVersionKind nKind = GPC_VERSION_RESOURCE;
    int bFound = 0;
    char achKey[GPC_MAX_PATH] = "";
    char achValue[GPC_CURRENT_VALUE] = "";
};

const char* CVRGpcVersionCache::StoreKeyName()
{
    return GPC_STORE_KEY;
}

void CVRGpcVersionCache::BeginPass(HKEY hStoreParent)
{
    Release();
    if (!hStoreParent)
        return;
    if (m_keyStore.Create(hStoreParent, GPC_STORE_KEY) != ERROR_SUCCESS) {
        m_keyStore.Close();
        return;
    }
    DWORD dwValues = 0;
    if (RegQueryInfoKeyA(m_keyStore, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &dwValues, nullptr,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        dwValues > GPC_STORE_LIMIT) {
        m_keyStore.Close();
        RegDeleteKeyA(hStoreParent, GPC_STORE_KEY);
        if (m_keyStore.Create(hStoreParent, GPC_STORE_KEY) != ERROR_SUCCESS)
            m_keyStore.Close();
        dwValues = 0;
    }
    m_bStoreEmpty = dwValues == 0;
    m_bStoreEmptyAtStart = m_bStoreEmpty;
}

void CVRGpcVersionCache::Release()
{
    for (GpcEntry*& pHead : m_apBuckets) {
        while (pHead) {
            GpcEntry* pNext = pHead->pNext;
            delete pHead;
            pHead = pNext;
        }
    }
    m_nEntries = 0;
    m_keyStore.Close();
    m_bStoreEmpty = false;
    m_bStoreEmptyAtStart = false;
}

CVRGpcVersionCache::GpcEntry* CVRGpcVersionCache::Find(const char* lpszKey, unsigned int nHash,
                                                       GpcVersionKind nKind) const
{
    for (GpcEntry* p = m_apBuckets[nHash % GPC_BUCKETS]; p; p = p->pNext) {
        if (p->nHash == nHash && p->nKind == nKind && strcmp(p->achKey, lpszKey) == 0)
            return p;
    }
    return nullptr;
}

void CVRGpcVersionCache::Remember(const char* lpszKey, unsigned int nHash, GpcVersionKind nKind, int bFound,
                                  const char* lpszValue)
{
    // A full cache only stops remembering; every answer is still right.
    if (m_nEntries >= GPC_ENTRY_LIMIT)
        return;
    GpcEntry* pEntry = new (std::nothrow) GpcEntry();
    if (!pEntry)
        return;
    pEntry->nHash = nHash;
    pEntry->nKind = nKind;
    pEntry->bFound = bFound;
    GpcCopyString(pEntry->achKey, sizeof(pEntry->achKey), lpszKey);
    GpcCopyString(pEntry->achValue, sizeof(pEntry->achValue), bFound ? lpszValue : "");
    GpcEntry*& pHead = m_apBuckets[nHash % GPC_BUCKETS];
    pEntry->pNext = pHead;
    pHead = pEntry;
    ++m_nEntries;
}

int CVRGpcVersionCache::Read(GpcVersionKind nKind, const char* lpszPath, char* lpszOut, int nSize)
{
    if (!lpszOut || nSize <= 0)
        return 0;
    char achKey[GPC_MAX_PATH];
    unsigned int nHash = 0;
    if (!lpszPath || !MakeKey(lpszPath, achKey, &nHash))
        return ReadFromFile(nKind, lpszPath, lpszOut, nSize);

    if (const GpcEntry* pEntry = Find(achKey, nHash, nKind)) {
        if (!pEntry->bFound) {
            lpszOut[0] = '\0';
            return 0;
        }
        GpcCopyString(lpszOut, nSize, pEntry->achValue);
        return 1;
    }

    // A file that is not there is asked again each time: it may come. The
    // stamp is taken before the read: a file changed while it is read then
    // no longer matches its entry.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!s_pfnReadStamp(lpszPath, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ReadFromFile(nKind, lpszPath, lpszOut, nSize);

    char achStamp[GPC_STAMP_SIZE];
    FormatStamp(nKind, data, achStamp);
    char achValue[GPC_CURRENT_VALUE] = "";
    int bFound = 0;
    // A file whose times the library sets itself has the same stamp in every
    // version: nothing kept could tell another version from it, so it is
    // read once in each pass and never kept.
    bool bKeep = m_keyStore.GetHandle() && !HasTimesSetByLibrary(lpszPath);
    // A store that was empty when the pass began holds only what this pass
    // wrote, and that is answered from memory: a first start looks nothing
    // up in it.
    if (!bKeep || m_bStoreEmptyAtStart || !LoadRecord(m_keyStore, lpszPath, achStamp, &bFound, achValue)) {
        bFound = ReadFromFile(nKind, lpszPath, achValue, sizeof(achValue));
        if (!bFound)
            achValue[0] = '\0';
        if (bKeep) {
            StoreRecord(m_keyStore, lpszPath, achStamp, bFound, achValue);
            m_bStoreEmpty = false;
        }
    }
    Remember(achKey, nHash, nKind, bFound, achValue);
    if (!bFound) {
        lpszOut[0] = '\0';
        return 0;
    }
    GpcCopyString(lpszOut, nSize, achValue);
    return 1;
}

void CVRGpcVersionCache::Forget(const char* lpszPath)
{
    char achKey[GPC_MAX_PATH];
    unsigned int nHash = 0;
    if (!lpszPath || !lpszPath[0])
        return;
    bool bKeyed = MakeKey(lpszPath, achKey, &nHash);
    // A name of ASCII characters only has one key for all its spellings, so
    // its entries lie in one bucket. Any other name is compared with every
    // entry the way the system compares names, letters beyond ASCII too:
    // dropping an entry too many costs one read, keeping one too many would
    // answer wrongly.
    bool bAscii = bKeyed;
    for (const char* p = lpszPath; bAscii && *p; ++p)
        bAscii = static_cast<unsigned char>(*p) < 0x80;
    for (int i = 0; i < GPC_BUCKETS; ++i) {
        if (bAscii && i != static_cast<int>(nHash % GPC_BUCKETS))
            continue;
        GpcEntry** ppLink = &m_apBuckets[i];
        while (*ppLink) {
            GpcEntry* pEntry = *ppLink;
            bool bSame = bAscii ? pEntry->nHash == nHash && strcmp(pEntry->achKey, achKey) == 0
                                : lstrcmpiA(pEntry->achKey, lpszPath) == 0 ||
                                      (bKeyed && strcmp(pEntry->achKey, achKey) == 0);
            if (bSame) {
                *ppLink = pEntry->pNext;
                delete pEntry;
                --m_nEntries;
            } else {
                ppLink = &pEntry->pNext;
            }
        }
    }
    // The registry matches value names without regard to case. A store that
    // held nothing when the pass began and has been given nothing since (a
    // first installation) has nothing to delete: no call per file then.
    if (m_keyStore.GetHandle() && !m_bStoreEmpty)
        RegDeleteValueA(m_keyStore, lpszPath);
}
