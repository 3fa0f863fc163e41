#include "npvrgpc/text_seam.h"

#ifdef _WIN32
#include <windows.h>

int GpcIsLeadByte(unsigned char c)
{
    return IsDBCSLeadByte(c) ? 1 : 0;
}

void GpcDebugOutput(const char* lpszText)
{
    OutputDebugStringA(lpszText ? lpszText : "");
}
#else
#include <cstdio>

int GpcIsLeadByte(unsigned char)
{
    return 0;
}

void GpcDebugOutput(const char* lpszText)
{
    std::fputs(lpszText ? lpszText : "", stderr);
}
#endif
