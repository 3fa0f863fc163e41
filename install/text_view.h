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
