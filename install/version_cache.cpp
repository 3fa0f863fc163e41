#include "install/version_cache.h"

#include <cstring>
#include <new>

#include "install/installation_mgr.h"

namespace {

// What a test read from a file is at most 255 characters.
enum { GPC_VALUE_SIZE = 256 };

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

int ReadFromFile(GpcVersionKind nKind, const char* lpszPath, char* lpszOut, int nSize)
{
    if (nKind == GPC_VERSION_RESOURCE)
        return GetFileVersionString(lpszPath, lpszOut, nSize);
    return GetTaggedVersion(lpszPath, lpszOut, nSize);
}

}  // namespace

struct CVRGpcVersionCache::GpcEntry {
    GpcEntry* pNext = nullptr;
    unsigned int nHash = 0;
    GpcVersionKind nKind = GPC_VERSION_RESOURCE;
    int bFound = 0;
    char achKey[GPC_MAX_PATH] = "";
    char achValue[GPC_VALUE_SIZE] = "";
};

void CVRGpcVersionCache::BeginPass()
{
    Release();
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

    // A file that is not there is asked again each time: it may come.
    DWORD dwAttributes = GetFileAttributesA(lpszPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ReadFromFile(nKind, lpszPath, lpszOut, nSize);

    char achValue[GPC_VALUE_SIZE] = "";
    int bFound = ReadFromFile(nKind, lpszPath, achValue, sizeof(achValue));
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
    // Every entry is looked at: one that names the file in another spelling
    // of its case (letters beyond ASCII too) goes as well. Dropping an entry
    // too many costs one read; keeping one too many would answer wrongly.
    for (GpcEntry*& pHead : m_apBuckets) {
        GpcEntry** ppLink = &pHead;
        while (*ppLink) {
            GpcEntry* pEntry = *ppLink;
            bool bSame = (bKeyed && pEntry->nHash == nHash && strcmp(pEntry->achKey, achKey) == 0) ||
                         lstrcmpiA(pEntry->achKey, lpszPath) == 0;
            if (bSame) {
                *ppLink = pEntry->pNext;
                delete pEntry;
                --m_nEntries;
            } else {
                ppLink = &pEntry->pNext;
            }
        }
    }
}
