// The version-tag scan. Input: one byte for the output size (0..300), then
// the file's bytes (zero bytes included).
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "install/version_tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    int nOut = (pData[0] * 300) / 255;
    const char* pFile = reinterpret_cast<const char*>(pData + 1);
    size_t nFile = nSize - 1;

    char achOut[300 + 16];
    memset(achOut, 0x5A, sizeof(achOut));
    int bFound = FindTaggedVersion(pFile, nFile, achOut, nOut);

    for (size_t i = static_cast<size_t>(nOut); i < sizeof(achOut); ++i) FUZZ_CHECK(achOut[i] == 0x5A);

    static const char GPC_MARKER[] = "#~@CorvoVersionTag@~#";
    const char* pEnd = pFile + nFile;
    const char* pHit = std::search(pFile, pEnd, GPC_MARKER, GPC_MARKER + sizeof(GPC_MARKER) - 1);
    if (nOut <= 0 || pHit == pEnd) {
        FUZZ_CHECK(bFound == 0);
        for (int i = 0; i < nOut; ++i) FUZZ_CHECK(achOut[i] == 0x5A);
        return 0;
    }
    FUZZ_CHECK(bFound == 1);
    FUZZ_CHECK(TerminatedWithin(achOut, static_cast<size_t>(nOut)));
    // The tag is the text right after the first marker, up to a zero byte or
    // the end, cut at 255 characters and at the buffer.
    const char* pTag = pHit + sizeof(GPC_MARKER) - 1;
    size_t nExpected = 0;
    while (pTag + nExpected < pEnd && pTag[nExpected] != '\0') ++nExpected;
    nExpected = std::min(nExpected, std::min<size_t>(255, static_cast<size_t>(nOut - 1)));
    FUZZ_CHECK(strlen(achOut) == nExpected);
    FUZZ_CHECK(memcmp(achOut, pTag, nExpected) == 0);
    return 0;
}
