// The delta decoder, and the manifest's delta section.
//
// Input packing ("tests/delta/make_deltas.py seeds" writes seeds this way):
//   byte 0        what to read: 'M' for a manifest text, anything else for
//                 a decode;
//   for a decode:
//   bytes 1..4    the source's length, little-endian (taken modulo the
//                 bytes that follow, plus one);
//   bytes 5..8    the output buffer's size, little-endian (taken modulo
//                 64 KB plus one: the seeds' results fit);
//   then          the source's bytes, then the delta's bytes;
//   for a manifest, the rest is the manifest text.
//
// The output buffer is allocated at exactly its size, so any write past it
// is the sanitizer's finding. A decode that succeeds must give the same
// bytes again into a buffer of exactly the result's size, and must refuse
// (too large) a buffer one byte smaller: the bound is the buffer, no more,
// no less.
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "install/delta_manifest.h"
#include "install/vcdiff.h"

namespace {

uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void CheckResultName(int nResult)
{
    const char* lpszName = GpcVcdiffResultName(nResult);
    FUZZ_CHECK(lpszName != nullptr && strcmp(lpszName, "unknown") != 0);
}

void FuzzDecode(const uint8_t* pData, size_t nSize)
{
    if (nSize < 8) return;
    size_t nRest = nSize - 8;
    size_t nSource = ReadLe32(pData) % (nRest + 1);
    size_t nOutSize = ReadLe32(pData + 4) % (64 * 1024 + 1);
    const uint8_t* pSource = pData + 8;
    const uint8_t* pDelta = pSource + nSource;
    size_t nDelta = nRest - nSource;

    // Fresh copies of exactly their sizes, so reads past them are found too.
    std::unique_ptr<uint8_t[]> source(new uint8_t[nSource ? nSource : 1]);
    std::unique_ptr<uint8_t[]> delta(new uint8_t[nDelta ? nDelta : 1]);
    if (nSource) memcpy(source.get(), pSource, nSource);
    if (nDelta) memcpy(delta.get(), pDelta, nDelta);
    std::unique_ptr<uint8_t[]> out(new uint8_t[nOutSize ? nOutSize : 1]);

    size_t nOut = 12345;
    int nResult = GpcVcdiffDecode(source.get(), nSource, delta.get(), nDelta, out.get(), nOutSize, &nOut);
    CheckResultName(nResult);
    if (nResult != GPC_VCDIFF_OK) {
        FUZZ_CHECK(nOut == 0);
        return;
    }
    FUZZ_CHECK(nOut <= nOutSize);

    std::unique_ptr<uint8_t[]> exact(new uint8_t[nOut ? nOut : 1]);
    size_t nAgain = 12345;
    FUZZ_CHECK(GpcVcdiffDecode(source.get(), nSource, delta.get(), nDelta, exact.get(), nOut, &nAgain) ==
               GPC_VCDIFF_OK);
    FUZZ_CHECK(nAgain == nOut);
    FUZZ_CHECK(nOut == 0 || memcmp(exact.get(), out.get(), nOut) == 0);
    if (nOut > 0) {
        size_t nShort = 12345;
        FUZZ_CHECK(GpcVcdiffDecode(source.get(), nSource, delta.get(), nDelta, exact.get(), nOut - 1, &nShort) ==
                   GPC_VCDIFF_TOO_LARGE);
        FUZZ_CHECK(nShort == 0);
    }
}

void FuzzManifest(const uint8_t* pData, size_t nSize)
{
    CVRGpcManifestDeltas deltas;
    int nResult = deltas.Parse(pData, nSize);
    FUZZ_CHECK(nResult == GPC_DELTAS_OK || nResult == GPC_DELTAS_MALFORMED || nResult == GPC_DELTAS_NONE);
    if (nResult != GPC_DELTAS_OK) {
        FUZZ_CHECK(deltas.GetCount() == 0);
        return;
    }
    FUZZ_CHECK(deltas.GetCount() > 0 && deltas.GetCount() <= GPC_MAX_DELTAS);
    for (int i = 0; i < deltas.GetCount(); ++i) {
        const GpcDeltaEntry* pEntry = deltas.GetAt(i);
        FUZZ_CHECK(pEntry != nullptr);
        FUZZ_CHECK(pEntry->Url.GetLength() > 0 && pEntry->Url.GetLength() < GPC_INI_LINE);
        FUZZ_CHECK(pEntry->DeltaUrl.GetLength() > 0 && pEntry->DeltaUrl.GetLength() < GPC_INI_LINE);
        FUZZ_CHECK(pEntry->dwDeltaSize > 0 && pEntry->dwDeltaSize <= GPC_MAX_DELTA_SIZE);
        // Every entry is found again by its own Url and base.
        GpcDeltaEntry found;
        FUZZ_CHECK(deltas.FindDelta(pEntry->Url.GetText(), pEntry->abBaseHash, &found) == 1);
        FUZZ_CHECK(memcmp(found.abDeltaHash, pEntry->abDeltaHash, sizeof(found.abDeltaHash)) == 0);
        FUZZ_CHECK(strcmp(found.DeltaUrl.GetText(), pEntry->DeltaUrl.GetText()) == 0);
        FUZZ_CHECK(deltas.CountFor(pEntry->Url.GetText()) >= 1);
        FUZZ_CHECK(deltas.CountFor(pEntry->Url.GetText()) <= GPC_MAX_DELTAS_PER_URL);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    if (pData[0] == 'M') {
        FuzzManifest(pData + 1, nSize - 1);
    } else {
        FuzzDecode(pData + 1, nSize - 1);
    }
    return 0;
}
