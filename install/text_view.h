// Small helpers for reading manifest text as (pointer, length) views, shared
// by the readers of the trust and delta sections. No operating-system calls,
// so they build natively too.
#pragma once

#include <cstddef>
#include <cstring>

inline char GpcLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal without ASCII case; other bytes compare as they are.
inline bool GpcViewEqualNoCase(const char* a, size_t nA, const char* b, size_t nB)
{
    if (nA != nB) return false;
    for (size_t i = 0; i < nA; ++i) {
        if (GpcLowerAscii(a[i]) != GpcLowerAscii(b[i])) return false;
    }
    return true;
}

// The blanks the INI reader trims.
inline bool GpcIsIniBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Trims the blanks the INI reader trims, on a (pointer, length) view.
inline void GpcTrimView(const char** ppText, size_t* pnLength)
{
    const char* p = *ppText;
    size_t n = *pnLength;
    while (n > 0 && GpcIsIniBlank(p[n - 1])) --n;
    while (n > 0 && GpcIsIniBlank(*p)) {
        ++p;
        --n;
    }
    *ppText = p;
    *pnLength = n;
}

// The first c in the view, or null.
inline const char* GpcFindByte(const char* p, size_t n, char c)
{
    return n ? static_cast<const char*>(memchr(p, c, n)) : nullptr;
}

// The next line of p[0..n) from *pnPos (without its "\n"); false at the end.
inline bool GpcNextLine(const char* p, size_t n, size_t* pnPos, const char** ppLine, size_t* pnLine)
{
    size_t i = *pnPos;
    if (i >= n) return false;
    size_t nEnd = i;
    while (nEnd < n && p[nEnd] != '\n') ++nEnd;
    *ppLine = p + i;
    *pnLine = nEnd - i;
    *pnPos = nEnd + 1;
    return true;
}

// How the INI reader sees a line: a line holding both "[" and "]" starts a
// section (and ends the one before), named by the trimmed text between the
// first "[" and the "]" after it; without such a "]" it has no name.
enum GpcLineKind { GPC_LINE_ENTRY, GPC_LINE_SECTION, GPC_LINE_NAMELESS_SECTION };
inline GpcLineKind GpcSectionOfLine(const char* pLine, size_t nLine, const char** ppName, size_t* pnName)
{
    const char* pOpen = GpcFindByte(pLine, nLine, '[');
    if (pOpen == nullptr || GpcFindByte(pLine, nLine, ']') == nullptr) return GPC_LINE_ENTRY;
    const char* pClose = GpcFindByte(pOpen + 1, nLine - static_cast<size_t>(pOpen + 1 - pLine), ']');
    if (pClose == nullptr) return GPC_LINE_NAMELESS_SECTION;
    *ppName = pOpen + 1;
    *pnName = static_cast<size_t>(pClose - *ppName);
    GpcTrimView(ppName, pnName);
    return GPC_LINE_SECTION;
}
