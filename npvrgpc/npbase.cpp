// Support library: owned strings, pointer arrays, name/value lists and the
// text and path routines. Nothing here calls the operating system except
// through npvrgpc/text_seam.h (via the assertion report and the lead-byte
// test), so this file also builds natively.
#include "npvrgpc/npbase.h"

#include "npvrgpc/gpc_assert.h"
#include "npvrgpc/text_seam.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

inline char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool IsListSeparator(char c)
{
    return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n';
}

inline bool StartsWithEncodedSpace(const char* p)
{
    return p[0] == '%' && p[1] == '2' && p[2] == '0';
}

// Takes the next character of a text in which "%20" stands for a space and
// advances past it. Decoding left to right in one pass gives the same text
// as DecodeSpaces: a replaced space can never be part of a new "%20".
inline char NextDecoded(const char*& p)
{
    if (StartsWithEncodedSpace(p)) {
        p += 3;
        return ' ';
    }
    return *p++;
}

}  // namespace

// ---------------------------------------------------------------- CGpcString

CGpcString::CGpcString() : m_pszText(nullptr), m_nLength(0) {}

CGpcString::CGpcString(const CGpcString& other) : m_pszText(nullptr), m_nLength(0)
{
    Assign(other.m_pszText);
}

CGpcString& CGpcString::operator=(const CGpcString& other)
{
    if (this != &other) Assign(other.m_pszText);
    return *this;
}

CGpcString::~CGpcString()
{
    delete[] m_pszText;
}

int CGpcString::Assign(const char* lpszText)
{
    if (lpszText == nullptr) {
        delete[] m_pszText;
        m_pszText = nullptr;
        m_nLength = 0;
        return 1;
    }
    size_t nLen = strlen(lpszText);
    if (nLen >= static_cast<size_t>(INT_MAX)) return 0;
    char* pszNew = new (std::nothrow) char[nLen + 1];
    if (pszNew == nullptr) return 0;  // the old text stays
    memcpy(pszNew, lpszText, nLen + 1);
    // lpszText may point into the old text (self-assignment), so free last.
    delete[] m_pszText;
    m_pszText = pszNew;
    m_nLength = static_cast<int>(nLen);
    return 1;
}

int CGpcString::CompareNoCaseDecoded(const char* lpszText) const
{
    if (m_pszText == nullptr || lpszText == nullptr) return 0;
    const char* p = m_pszText;
    const char* q = lpszText;
    for (;;) {
        char a = LowerAscii(NextDecoded(p));
        char b = LowerAscii(NextDecoded(q));
        if (a != b) return 0;
        if (a == '\0') return 1;
    }
}

int CGpcString::ComparePrefixNoCase(const char* lpszText, int n) const
{
    if (m_pszText == nullptr || lpszText == nullptr || n < 0) return 0;
    if (m_nLength != n) return 0;
    for (int i = 0; i < n; ++i) {
        // A text shorter than n meets its terminator here and differs.
        if (LowerAscii(m_pszText[i]) != LowerAscii(lpszText[i])) return 0;
    }
    return 1;
}

// -------------------------------------------------------------- CGpcPtrArray

CGpcPtrArray::CGpcPtrArray() : m_ppHead(nullptr), m_nCapacity(0), m_nCount(0) {}

CGpcPtrArray::~CGpcPtrArray()
{
    Free();
}

int CGpcPtrArray::Add(void* lpv, int bUnique)
{
    if (m_nCount >= m_nCapacity) {
        if (m_nCapacity > INT_MAX - 16) return 0;
        size_t nNew = static_cast<size_t>(m_nCapacity) + 16;
        // Larger requests are not even handed to the allocator (the array
        // form of new would throw for them instead of failing).
        if (nNew > static_cast<size_t>(PTRDIFF_MAX) / sizeof(void*)) return 0;
        void** ppNew = new (std::nothrow) void*[nNew];
        if (ppNew == nullptr) return 0;  // the array stays as it was
        if (m_nCount > 0) memcpy(ppNew, m_ppHead, static_cast<size_t>(m_nCount) * sizeof(void*));
        delete[] m_ppHead;
        m_ppHead = ppNew;
        m_nCapacity += 16;
    }
    if (bUnique && Find(lpv) >= 0) return 0;
    m_ppHead[m_nCount++] = lpv;
    return 1;
}

int CGpcPtrArray::Remove(void* lpv)
{
    GPC_ASSERT(lpv);
    int nIndex = Find(lpv);
    if (nIndex < 0) return 0;
    for (int i = nIndex; i + 1 < m_nCount; ++i) m_ppHead[i] = m_ppHead[i + 1];
    --m_nCount;
    return 1;
}

int CGpcPtrArray::Find(void* lpv) const
{
    if (m_ppHead == nullptr) return -1;
    for (int i = 0; i < m_nCount; ++i) {
        if (m_ppHead[i] == lpv) return i;
    }
    return -1;
}

void* CGpcPtrArray::GetAt(int nIndex) const
{
    GPC_ASSERT(m_ppHead != NULL);
    if (m_ppHead == nullptr || nIndex < 0 || nIndex >= m_nCount) return nullptr;
    return m_ppHead[nIndex];
}

void CGpcPtrArray::Free()
{
    delete[] m_ppHead;
    m_ppHead = nullptr;
    m_nCapacity = 0;
    m_nCount = 0;
}

// ------------------------------------------------------ CVRGpcNameValuePairs

CVRGpcNameValuePairs::CVRGpcNameValuePairs() {}

CVRGpcNameValuePairs::~CVRGpcNameValuePairs()
{
    RemoveAll();
}

int CVRGpcNameValuePairs::SetValue(const char* lpszName, const char* lpszValue)
{
    GPC_ASSERT(lpszName);
    GPC_ASSERT(lpszValue);
    if (lpszName == nullptr || lpszValue == nullptr) return 0;

    CVRGpcNameValuePair* pPair = FindPair(lpszName);
    if (pPair != nullptr) {
        // The entry keeps the spelling of its name; only the value changes.
        return pPair->m_strValue.Assign(lpszValue);
    }
    pPair = new (std::nothrow) CVRGpcNameValuePair;
    if (pPair == nullptr) return 0;
    if (!pPair->m_strName.Assign(lpszName) || !pPair->m_strValue.Assign(lpszValue) ||
        !m_Pairs.Add(pPair)) {
        delete pPair;
        return 0;
    }
    return 1;
}

int CVRGpcNameValuePairs::GetValue(const char* lpszName, const char** ppValue)
{
    GPC_ASSERT(lpszName);
    GPC_ASSERT(ppValue);
    if (lpszName == nullptr || ppValue == nullptr) return 0;
    CVRGpcNameValuePair* pPair = FindPair(lpszName);
    *ppValue = pPair ? pPair->m_strValue.GetText() : nullptr;
    return pPair ? 1 : 0;
}

int CVRGpcNameValuePairs::GetValue(const char* lpszName, int n, const char** ppValue)
{
    GPC_ASSERT(lpszName);
    GPC_ASSERT(ppValue);
    if (lpszName == nullptr || ppValue == nullptr) return 0;
    for (int i = 0; i < m_Pairs.GetCount(); ++i) {
        CVRGpcNameValuePair* pItem = GetAt(i);
        GPC_ASSERT(pItem);
        if (pItem != nullptr && pItem->m_strName.ComparePrefixNoCase(lpszName, n)) {
            *ppValue = pItem->m_strValue.GetText();
            return 1;
        }
    }
    *ppValue = nullptr;
    return 0;
}

CVRGpcNameValuePair* CVRGpcNameValuePairs::FindPair(const char* lpszName)
{
    GPC_ASSERT(lpszName);
    if (lpszName == nullptr) return nullptr;
    for (int i = 0; i < m_Pairs.GetCount(); ++i) {
        CVRGpcNameValuePair* pItem = GetAt(i);
        GPC_ASSERT(pItem);
        if (pItem != nullptr && pItem->m_strName.CompareNoCaseDecoded(lpszName)) return pItem;
    }
    return nullptr;
}

void CVRGpcNameValuePairs::RemoveAll()
{
    for (int i = 0; i < m_Pairs.GetCount(); ++i) {
        CVRGpcNameValuePair* pItem = GetAt(i);
        GPC_ASSERT(pItem);
        delete pItem;
    }
    m_Pairs.Free();
}

// ------------------------------------------------------------- text routines

char* TrimWhitespace(char* lpszString)
{
    GPC_ASSERT(lpszString);
    if (lpszString == nullptr) return nullptr;
    size_t nLen = strlen(lpszString);
    while (nLen > 0 && IsBlank(lpszString[nLen - 1])) lpszString[--nLen] = '\0';
    while (IsBlank(*lpszString)) ++lpszString;
    return lpszString;
}

void DecodeSpaces(char* lpszText)
{
    if (lpszText == nullptr) return;
    const char* pRead = lpszText;
    char* pWrite = lpszText;
    while (*pRead != '\0') *pWrite++ = NextDecoded(pRead);
    *pWrite = '\0';
}

void NormalizeList(char* lpszDest, const char* lpszSrc)
{
    GPC_ASSERT(lpszSrc);
    GPC_ASSERT(lpszDest);
    if (lpszDest == nullptr) return;
    lpszDest[0] = '\0';
    if (lpszSrc == nullptr) return;

    char achCopy[256];
    GpcCopyString(achCopy, sizeof(achCopy), lpszSrc);

    // Tokens joined by single commas are never longer than the copy, so the
    // 256 bytes the caller provides always hold them.
    char* pOut = lpszDest;
    const char* p = achCopy;
    for (;;) {
        while (*p != '\0' && IsListSeparator(*p)) ++p;
        if (*p == '\0') break;
        if (pOut != lpszDest) *pOut++ = ',';
        while (*p != '\0' && !IsListSeparator(*p)) *pOut++ = *p++;
    }
    *pOut = '\0';
}

bool GpcIsTrueParam(const char* lpszValue)
{
    // Byte by byte with ASCII letters folded: the answer never depends on
    // the user's locale or code page.
    static const char achTrue[] = "true";
    if (lpszValue == nullptr) return false;
    for (int i = 0; achTrue[i]; ++i) {
        char ch = lpszValue[i];
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        if (ch != achTrue[i]) return false;
    }
    return lpszValue[sizeof(achTrue) - 1] == '\0';
}

// ----------------------------------------------------------- bounded copies

int GpcCopyString(char* lpszDest, int nSize, const char* lpszSrc)
{
    if (lpszDest == nullptr || nSize <= 0) return 0;
    if (lpszSrc == nullptr) {
        lpszDest[0] = '\0';
        return 0;
    }
    int n = 0;
    while (n < nSize - 1 && lpszSrc[n] != '\0') {
        lpszDest[n] = lpszSrc[n];
        ++n;
    }
    lpszDest[n] = '\0';
    return n;
}

int GpcAppendString(char* lpszDest, int nSize, const char* lpszSrc)
{
    if (lpszDest == nullptr || nSize <= 0) return 0;
    int nLen = 0;
    while (nLen < nSize && lpszDest[nLen] != '\0') ++nLen;
    if (nLen == nSize) {
        // No terminator inside the buffer: end it at its last byte.
        lpszDest[nSize - 1] = '\0';
        return 0;
    }
    if (lpszSrc == nullptr) return 1;
    int nCopied = GpcCopyString(lpszDest + nLen, nSize - nLen, lpszSrc);
    return lpszSrc[nCopied] == '\0' ? 1 : 0;
}

int GpcFormat(char* lpszDest, int nSize, const char* lpszFormat, ...)
{
    if (lpszDest == nullptr || nSize <= 0) return -1;
    if (lpszFormat == nullptr) {
        lpszDest[0] = '\0';
        return -1;
    }
    va_list args;
    va_start(args, lpszFormat);
#ifdef _WIN32
    // The system C library's formatter: the same format rules the trace
    // lines use. It returns -1 on overflow and may leave the text unterminated.
    int n = _vsnprintf(lpszDest, static_cast<size_t>(nSize), lpszFormat, args);
#else
    int n = vsnprintf(lpszDest, static_cast<size_t>(nSize), lpszFormat, args);
#endif
    va_end(args);
    lpszDest[nSize - 1] = '\0';
    if (n < 0 || n >= nSize) return -1;
    lpszDest[n] = '\0';
    return n;
}

// ------------------------------------------------------------ path routines

const char* GpcFindLastSeparator(const char* lpszPath, const char* lpszSeparators)
{
    if (lpszPath == nullptr || lpszSeparators == nullptr) return nullptr;
    // As in EndsWithSeparator, only a walk from the start tells a trail byte
    // from a character of its own.
    const char* pLast = nullptr;
    for (const char* p = lpszPath; *p != '\0'; ++p) {
        if (GpcIsLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
            ++p;
            continue;
        }
        if (std::strchr(lpszSeparators, *p) != nullptr) pLast = p;
    }
    return pLast;
}

int EndsWithSeparator(const char* lpszPath)
{
    if (lpszPath == nullptr) return 0;
    // Only a walk from the start tells lead bytes from trail bytes: the byte
    // before a trailing "\" may itself be the trail byte of an earlier
    // character.
    int bSeparator = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(lpszPath);
    while (*p != '\0') {
        if (GpcIsLeadByte(*p) && p[1] != '\0') {
            bSeparator = 0;
            p += 2;
        } else {
            bSeparator = (*p == '\\');
            ++p;
        }
    }
    return bSeparator;
}

int AppendPathComponent(char* lpszPath, int nSize, const char* lpszComponent)
{
    GPC_ASSERT(lpszPath);
    if (lpszPath == nullptr || lpszComponent == nullptr || nSize <= 0) return 0;
    size_t nLen = 0;
    while (nLen < static_cast<size_t>(nSize) && lpszPath[nLen] != '\0') ++nLen;
    if (nLen >= static_cast<size_t>(nSize)) return 0;  // not even terminated
    int bSeparator = !EndsWithSeparator(lpszPath);
    size_t nNeeded = nLen + (bSeparator ? 1 : 0) + strlen(lpszComponent);
    if (nNeeded >= static_cast<size_t>(nSize)) return 0;  // path left unchanged
    char* p = lpszPath + nLen;
    if (bSeparator) *p++ = '\\';
    strcpy(p, lpszComponent);
    return 1;
}
