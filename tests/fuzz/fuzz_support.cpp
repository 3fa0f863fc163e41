#include "fuzz_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "npvrgpc/text_seam.h"

namespace {
int g_nCodePage = 0;
int g_nTraceLines = 0;
}  // namespace

void FuzzCheckFailed(const char* lpszCondition, const char* lpszFile, int nLine)
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s at %s:%d\n", lpszCondition, lpszFile, nLine);
    std::abort();
}

void FuzzSetCodePage(int nCodePage)
{
    g_nCodePage = nCodePage;
}

int FuzzCodePageFrom(uint8_t b)
{
    return (b & 1) ? 932 : 0;
}

// The fuzz build's side of the seam (npvrgpc/text_seam.cpp is not linked).
int GpcIsLeadByte(unsigned char c)
{
    if (g_nCodePage != 932) return 0;
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

void GpcDebugOutput(const char* lpszText)
{
    // Assertion reports: the text must be a terminated string; it is dropped.
    FUZZ_CHECK(lpszText != nullptr);
    (void)std::strlen(lpszText);
}

void FuzzTrace(const char* lpszFormat, ...)
{
    FUZZ_CHECK(lpszFormat != nullptr);
    char achMessage[1024];
    std::memset(achMessage, 0x5A, sizeof(achMessage));
    va_list args;
    va_start(args, lpszFormat);
    std::vsnprintf(achMessage, sizeof(achMessage), lpszFormat, args);
    va_end(args);
    FUZZ_CHECK(TerminatedWithin(achMessage, sizeof(achMessage)));
    ++g_nTraceLines;
}

int FuzzTraceCount()
{
    return g_nTraceLines;
}

void FuzzTraceReset()
{
    g_nTraceLines = 0;
}

std::string FuzzText(const uint8_t* pData, size_t nSize)
{
    size_t n = 0;
    while (n < nSize && pData[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(pData), n);
}

bool TerminatedWithin(const char* p, size_t nSize)
{
    return p != nullptr && std::memchr(p, '\0', nSize) != nullptr;
}
