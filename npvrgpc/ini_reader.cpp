// The manifest reader. Every lookup goes by the same rules, whether it
// reads the file afresh (IniGetInt, IniGetString) or answers from a copy
// read once into memory (CGpcIniText, what a pass over a manifest uses):
// both cut the text into the same pieces and judge each piece by the same
// function. Only the C library's streams are used, so this file also
// builds natively.
#include "npvrgpc/npbase.h"

#include <climits>
#include <cstring>
#include <new>


namespace {

int CompareNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == '\0') return 0;
    }
}

// A section line is any line holding both brackets. Its name is the text
// between the first "[" and the first "]" after it; a line whose only "]"
// stands before its "[" names no section but still ends the wanted one.
const char* SectionName(char* lpszLine)
{
    char* pOpen = strchr(lpszLine, '[');
    char* pClose = pOpen ? strchr(pOpen + 1, ']') : nullptr;
    if (pClose == nullptr) return nullptr;
    *pClose = '\0';
    return TrimWhitespace(pOpen + 1);
}

// Drops one pair of matching single or double quotes around a value; a lone
// quote character counts as its own pair and leaves an empty value.
char* Unquote(char* lpszValue)
{
    size_t nLen = strlen(lpszValue);
    if (nLen == 0) return lpszValue;
    char chQuote = lpszValue[0];
    if ((chQuote == '"' || chQuote == '\'') && lpszValue[nLen - 1] == chQuote) {
        if (nLen == 1) {
            lpszValue[0] = '\0';
            return lpszValue;
        }
        lpszValue[nLen - 1] = '\0';
        return TrimWhitespace(lpszValue + 1);
    }
    return lpszValue;
}

// Reads a signed decimal number the way "%d" does (leading blanks, optional
// sign, digits up to the first non-digit). Values out of range saturate.
int ParseDecimal(const char* p, int* pnValue)
{
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\v' || *p == '\f') ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-') bNegative = (*p++ == '-');
    if (*p < '0' || *p > '9') return 0;
    long long llValue = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (llValue <= static_cast<long long>(INT_MAX) + 1) llValue = llValue * 10 + (*p - '0');
    }
    if (bNegative) llValue = -llValue;
    if (llValue > INT_MAX) llValue = INT_MAX;
    if (llValue < INT_MIN) llValue = INT_MIN;
    *pnValue = static_cast<int>(llValue);
    return 1;
}

struct CIniStream {
    explicit CIniStream(const char* lpszPath) : m_pFile(lpszPath ? fopen(lpszPath, "r") : nullptr) {}
    ~CIniStream() { if (m_pFile) fclose(m_pFile); }
    CIniStream(const CIniStream&) = delete;
    CIniStream& operator=(const CIniStream&) = delete;
    FILE* m_pFile;
};

// What one line (or piece of a long line) is to a search for a key of one
// section. *pbInSection tells whether the wanted section has begun.
enum GpcIniLine {
    INI_LINE_OTHER,        // not a key line of the wanted section
    INI_LINE_KEY,          // a key line of it: *ppKey and *ppValue are set
    INI_LINE_SECTION_END,  // the wanted section has ended
};

// Judges one line, cutting it in place.
GpcIniLine ReadIniLine(char* lpszLine, const char* lpszSection, bool* pbInSection, char** ppKey,
                       const char** ppValue)
{
    if (strchr(lpszLine, '[') != nullptr && strchr(lpszLine, ']') != nullptr) {
        // Only the first section of the wanted name is searched.
        if (*pbInSection) return INI_LINE_SECTION_END;
        const char* lpszName = SectionName(lpszLine);
        if (lpszName != nullptr && CompareNoCase(lpszName, lpszSection) == 0) *pbInSection = true;
        return INI_LINE_OTHER;
    }
    if (!*pbInSection) return INI_LINE_OTHER;
    char* pEquals = strchr(lpszLine, '=');
    if (pEquals == nullptr) return INI_LINE_OTHER;
    *pEquals = '\0';
    *ppKey = TrimWhitespace(lpszLine);
    *ppValue = Unquote(TrimWhitespace(pEquals + 1));
    return INI_LINE_KEY;
}

// The next piece of an in-memory text, cut as fgets cuts a stream into a
// buffer of GPC_INI_LINE bytes: up to and including a line feed, at most
// 2,047 characters. False at the end of the text.
bool NextPiece(const char* pText, size_t nSize, size_t* pnPos, char* lpszLine)
{
    if (*pnPos >= nSize) return false;
    size_t nMax = nSize - *pnPos;
    if (nMax > GPC_INI_LINE - 1) nMax = GPC_INI_LINE - 1;
    const char* pStart = pText + *pnPos;
    const void* pFeed = memchr(pStart, '\n', nMax);
    size_t nLen = pFeed ? static_cast<size_t>(static_cast<const char*>(pFeed) - pStart) + 1 : nMax;
    memcpy(lpszLine, pStart, nLen);
    lpszLine[nLen] = '\0';
    *pnPos += nLen;
    return true;
}

// A found value as a number, else the default (see IniGetInt).
int ValueAsInt(int bFound, const char* lpszValue, int nDefault)
{
    // A value that does not begin with a number reads as the default: callers
    // treat any count below 1 as an empty list, so that is the safe answer.
    int nValue = nDefault;
    return bFound && ParseDecimal(lpszValue, &nValue) ? nValue : nDefault;
}

// A found value, else the default, in the caller's buffer; its length.
int ValueOrDefault(int bFound, const char* lpszDefault, char* lpszOut, int nSize)
{
    if (!bFound) GpcCopyString(lpszOut, nSize, lpszDefault ? lpszDefault : "");
    return static_cast<int>(strlen(lpszOut));
}

}  // namespace

int IniFindValue(FILE* pStream, const char* lpszSection, const char* lpszKey, char* lpszOut, int nSize)
{
    if (pStream == nullptr || lpszSection == nullptr || lpszKey == nullptr) return 0;
    if (feof(pStream)) return 0;

    char achLine[GPC_INI_LINE];
    bool bInSection = false;
    // fgets reads at most 2,047 characters; the rest of a longer line comes
    // back as the next piece and is treated as a line of its own.
    while (fgets(achLine, sizeof(achLine), pStream) != nullptr) {
        char* lpszLineKey = nullptr;
        const char* lpszValue = nullptr;
        GpcIniLine line = ReadIniLine(achLine, lpszSection, &bInSection, &lpszLineKey, &lpszValue);
        if (line == INI_LINE_SECTION_END) return 0;
        if (line != INI_LINE_KEY || CompareNoCase(lpszLineKey, lpszKey) != 0) continue;
        GpcCopyString(lpszOut, nSize, lpszValue);
        return 1;
    }
    return 0;
}

int IniGetInt(const char* lpszSection, const char* lpszKey, int nDefault, const char* lpszPath)
{
    CIniStream stream(lpszPath);
    if (stream.m_pFile == nullptr) return nDefault;
    char achValue[256];
    int bFound = IniFindValue(stream.m_pFile, lpszSection, lpszKey, achValue, sizeof(achValue));
    return ValueAsInt(bFound, achValue, nDefault);
}

int IniGetString(const char* lpszSection, const char* lpszKey, const char* lpszDefault,
                 char* lpszOut, int nSize, const char* lpszPath)
{
    if (lpszOut == nullptr || nSize <= 0) return 0;
    CIniStream stream(lpszPath);
    int bFound = stream.m_pFile != nullptr && IniFindValue(stream.m_pFile, lpszSection, lpszKey, lpszOut, nSize);
    return ValueOrDefault(bFound, lpszDefault, lpszOut, nSize);
}

CGpcIniText::CGpcIniText(const char* lpszPath)
{
    if (lpszPath == nullptr || !m_Path.Assign(lpszPath)) return;
    CIniStream stream(lpszPath);
    if (stream.m_pFile == nullptr) return;
    // Read in text mode, as the stream reader reads: the same line ends and
    // the same end of the text. Room for one byte more than the limit tells
    // a text that is too large.
    size_t nCapacity = 0;
    for (;;) {
        if (m_nSize == nCapacity) {
            if (nCapacity > GPC_INI_MAX_TEXT) {
                // Too large to hold: every key is read from the file instead.
                m_pText.reset();
                m_nSize = 0;
                return;
            }
            size_t nGrown = nCapacity ? nCapacity * 2 : 64 * 1024;
            if (nGrown > GPC_INI_MAX_TEXT + 1) nGrown = GPC_INI_MAX_TEXT + 1;
            std::unique_ptr<char[]> pGrown(new (std::nothrow) char[nGrown]);
            if (!pGrown) return;
            if (m_nSize) memcpy(pGrown.get(), m_pText.get(), m_nSize);
            m_pText = std::move(pGrown);
            nCapacity = nGrown;
        }
        size_t nRead = fread(m_pText.get() + m_nSize, 1, nCapacity - m_nSize, stream.m_pFile);
        if (nRead == 0) break;  // the end, or an error
        m_nSize += nRead;
    }
    if (ferror(stream.m_pFile)) {
        m_pText.reset();
        m_nSize = 0;
        return;
    }
    m_bLoaded = true;
}

CGpcIniText::CGpcIniText(const char* pText, size_t nSize)
{
    if (pText == nullptr || nSize > GPC_INI_MAX_TEXT) return;
    m_pText.reset(new (std::nothrow) char[nSize ? nSize : 1]);
    if (!m_pText) return;
    memcpy(m_pText.get(), pText, nSize);
    m_nSize = nSize;
    m_bLoaded = true;
}

bool CGpcIniText::IndexSection(const char* lpszSection)
{
    if (m_Section.GetText() != nullptr && strcmp(m_Section.GetText(), lpszSection) == 0) return true;
    m_Section.Assign(nullptr);
    m_nEntries = 0;
    // Each key line gives its key and its value, each terminated: never more
    // than the line's own characters and one byte.
    size_t nNeeded = m_nSize * 2 + 1;
    if (m_nEntryCapacity < nNeeded) {
        m_pEntries.reset(new (std::nothrow) char[nNeeded]);
        m_nEntryCapacity = m_pEntries ? nNeeded : 0;
        if (!m_pEntries) return false;
    }
    char achLine[GPC_INI_LINE];
    bool bInSection = false;
    size_t nPos = 0;
    while (NextPiece(m_pText.get(), m_nSize, &nPos, achLine)) {
        char* lpszLineKey = nullptr;
        const char* lpszValue = nullptr;
        GpcIniLine line = ReadIniLine(achLine, lpszSection, &bInSection, &lpszLineKey, &lpszValue);
        if (line == INI_LINE_SECTION_END) break;
        if (line != INI_LINE_KEY) continue;
        size_t nKey = strlen(lpszLineKey) + 1;
        size_t nValue = strlen(lpszValue) + 1;
        memcpy(m_pEntries.get() + m_nEntries, lpszLineKey, nKey);
        memcpy(m_pEntries.get() + m_nEntries + nKey, lpszValue, nValue);
        m_nEntries += nKey + nValue;
    }
    if (!m_Section.Assign(lpszSection)) {
        m_nEntries = 0;
        return false;
    }
    return true;
}

int CGpcIniText::FindValue(const char* lpszSection, const char* lpszKey, char* lpszOut, int nSize)
{
    if (lpszSection == nullptr || lpszKey == nullptr) return 0;
    if (!m_bLoaded || !IndexSection(lpszSection)) {
        CIniStream stream(m_Path.GetText());
        return IniFindValue(stream.m_pFile, lpszSection, lpszKey, lpszOut, nSize);
    }
    // The section's key lines in their order: the first of a name wins.
    const char* p = m_pEntries.get();
    const char* pEnd = p + m_nEntries;
    while (p < pEnd) {
        const char* lpszLineKey = p;
        p += strlen(p) + 1;
        const char* lpszValue = p;
        p += strlen(p) + 1;
        if (CompareNoCase(lpszLineKey, lpszKey) == 0) {
            GpcCopyString(lpszOut, nSize, lpszValue);
            return 1;
        }
    }
    return 0;
}

int CGpcIniText::GetInt(const char* lpszSection, const char* lpszKey, int nDefault)
{
    char achValue[256];
    return ValueAsInt(FindValue(lpszSection, lpszKey, achValue, sizeof(achValue)), achValue, nDefault);
}

int CGpcIniText::GetString(const char* lpszSection, const char* lpszKey, const char* lpszDefault, char* lpszOut,
                           int nSize)
{
    if (lpszOut == nullptr || nSize <= 0) return 0;
    int bFound = FindValue(lpszSection, lpszKey, lpszOut, nSize);
    return ValueOrDefault(bFound, lpszDefault, lpszOut, nSize);
}
