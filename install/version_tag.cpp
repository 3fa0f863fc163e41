#include "install/version_tag.h"

#include <cstring>

namespace {

const char kVersionTagMarker[] = "#~@CorvoVersionTag@~#";
const size_t kVersionTagMarkerLength = sizeof(kVersionTagMarker) - 1;  // 21 bytes

// What a test read from a file is at most 255 characters.
const size_t kTagLimit = 255;

}  // namespace

int FindTaggedVersion(const char* pData, size_t nData, char* lpszOut, int nSize)
{
    if (!pData || !lpszOut || nSize <= 0 || nData < kVersionTagMarkerLength)
        return 0;
    for (size_t i = 0; i + kVersionTagMarkerLength <= nData; ++i) {
        if (memcmp(pData + i, kVersionTagMarker, kVersionTagMarkerLength) != 0)
            continue;
        const char* pTag = pData + i + kVersionTagMarkerLength;
        size_t nAvailable = nData - (i + kVersionTagMarkerLength);
        size_t nLimit = static_cast<size_t>(nSize - 1);
        if (nLimit > kTagLimit)
            nLimit = kTagLimit;
        size_t nTag = 0;
        while (nTag < nAvailable && nTag < nLimit && pTag[nTag] != '\0')
            ++nTag;
        memcpy(lpszOut, pTag, nTag);
        lpszOut[nTag] = '\0';
        return 1;  // only the first marker counts
    }
    return 0;
}
