#include "lz_expand.h"

#include <windows.h>
#include <lzexpand.h>

int GpcExpandFile(const char* lpszSource, const char* lpszDest)
{
    if (!lpszSource || !lpszDest) return -1;
    OFSTRUCT ofSource, ofDest;
    INT hSource = LZOpenFileA(const_cast<char*>(lpszSource), &ofSource, OF_READ);
    if (hSource < 0) return -1;
    INT hDest = LZOpenFileA(const_cast<char*>(lpszDest), &ofDest, OF_CREATE | OF_WRITE);
    if (hDest < 0) {
        LZClose(hSource);
        return -1;
    }
    LONG lCopied = LZCopy(hSource, hDest);
    LZClose(hSource);
    LZClose(hDest);
    return lCopied < 0 ? -1 : 0;
}
