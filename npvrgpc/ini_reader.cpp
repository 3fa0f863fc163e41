// The manifest reader. Manifests are small and are read once per key, so the
// reader keeps no cache and no state between calls: every lookup opens the
// file and scans it from the top. Only the C library's streams are used, so
// this file also builds natively.
#include "npvrgpc/npbase.h"

#include <climits>
#include <cstring>


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
        if (strchr(achLine, '[') != nullptr && strchr(achLine, ']') != nullptr) {
            // Only the first section of the wanted name is searched.
            if (bInSection) return 0;
            const char* lpszName = SectionName(achLine);
            if (lpszName != nullptr && CompareNoCase(lpszName, lpszSection) == 0) bInSection = true;
            continue;
        }
        if (!bInSection) continue;
        char* pEquals = strchr(achLine, '=');
        if (pEquals == nullptr) continue;
        *pEquals = '\0';
        if (CompareNoCase(TrimWhitespace(achLine), lpszKey) != 0) continue;

        const char* lpszValue = Unquote(TrimWhitespace(pEquals + 1));
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
    if (!IniFindValue(stream.m_pFile, lpszSection, lpszKey, achValue, sizeof(achValue))) return nDefault;
    // A value that does not begin with a number reads as the default: callers
    // treat any count below 1 as an empty list, so that is the safe answer.
    int nValue = nDefault;
    return ParseDecimal(achValue, &nValue) ? nValue : nDefault;
}

int IniGetString(const char* lpszSection, const char* lpszKey, const char* lpszDefault,
                 char* lpszOut, int nSize, const char* lpszPath)
{
    if (lpszOut == nullptr || nSize <= 0) return 0;
    CIniStream stream(lpszPath);
    if (stream.m_pFile == nullptr ||
        !IniFindValue(stream.m_pFile, lpszSection, lpszKey, lpszOut, nSize)) {
        GpcCopyString(lpszOut, nSize, lpszDefault ? lpszDefault : "");
    }
    return static_cast<int>(strlen(lpszOut));
}
