// Applying a downloaded delta to an installed file. The result goes to a
// new temporary file beside the destination (the library's "VR" prefix),
// on the destination's volume, so that the caller can replace the
// destination with it in one step, exactly as with a downloaded full file;
// the installed file is only read. The result counts only when its SHA-256
// is the full file's: on any failure no temporary file is left and the
// caller falls back to the full file.
#pragma once

#include <cstddef>

enum GpcDeltaApplyResult {
    GPC_DELTA_APPLIED = 0,
    GPC_DELTA_READ_ERROR = 1,    // the installed file or the delta missing, unreadable or beyond its cap
    GPC_DELTA_NO_MEMORY = 2,
    GPC_DELTA_UNDECODABLE = 3,   // the decoder refused the delta (its reason in *pnDecodeResult)
    GPC_DELTA_WRONG_RESULT = 4,  // the rebuilt file differs from the full file's hash
    GPC_DELTA_WRITE_ERROR = 5,   // no temporary file could be written beside the destination
    GPC_DELTA_NO_PROVIDER = 6,   // the system cannot compute SHA-256
};

// A short English name of a result, for trace lines.
const char* GpcDeltaApplyResultName(int nResult);

#ifdef _WIN32
// Rebuilds the new file from lpszInstalled and the delta file lpszDelta.
// nMaxSize is the most the new file may hold (the item's size; at most the
// decoder's fixed cap); pFullHash is the full file's SHA-256 from the
// verified manifest. On GPC_DELTA_APPLIED lpszTemp (nTempSize bytes, at
// least GPC_MAX_PATH) holds the path of the checked result beside
// lpszDestination, which the caller now owns. pnDecodeResult, when given,
// receives the decoder's result (GPC_VCDIFF_*).
int GpcApplyDeltaFile(const char* lpszInstalled, const char* lpszDelta, const char* lpszDestination,
                      size_t nMaxSize, const unsigned char* pFullHash, char* lpszTemp, size_t nTempSize,
                      int* pnDecodeResult = nullptr);
#endif
