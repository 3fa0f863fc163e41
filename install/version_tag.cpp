#include "install/version_tag.h"

#include <cstring>

namespace {

const char GPC_VERSION_TAG_MARKER[] = "#~@CorvoVersionTag@~#";
const size_t GPC_VERSION_TAG_MARKER_LENGTH = sizeof(GPC_VERSION_TAG_MARKER) - 1;  // 21 bytes

// What a test read from a file is at most 255 characters.
const size_t GPC_TAG_LIMIT = 255;

}  // namespace

int FindTaggedVersion(const char* pData, size_t nData, char* lpszOut, int nSize)
{
    if (!pData || !lpszOut || nSize <= 0 || nData < GPC_VERSION_TAG_MARKER_LENGTH)
        return 0;
    for (size_t i = 0; i + GPC_VERSION_TAG_MARKER_LENGTH <= nData; ++i) {
        if (memcmp(pData + i, GPC_VERSION_TAG_MARKER, GPC_VERSION_TAG_MARKER_LENGTH) != 0)
            continue;
        const char* pTag = pData + i + GPC_VERSION_TAG_MARKER_LENGTH;
        size_t nAvailable = nData - (i + GPC_VERSION_TAG_MARKER_LENGTH);
        size_t nLimit = static_cast<size_t>(nSize - 1);
        if (nLimit > GPC_TAG_LIMIT)
            nLimit = GPC_TAG_LIMIT;
        size_t nTag = 0;
        while (nTag < nAvailable && nTag < nLimit && pTag[nTag] != '\0')
            ++nTag;
        memcpy(lpszOut, pTag, nTag);
        lpszOut[nTag] = '\0';
        return 1;  // only the first marker counts
    }
    return 0;
}
