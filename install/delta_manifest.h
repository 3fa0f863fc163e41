// The deltas a manifest offers: for an item's Url, the differences that
// lead from an earlier release's file to the new one (docs/deltas.md shows
// the format for publishers):
//
//   [GpcManifestDeltas]
//   bin/viewer.dll=<base SHA-256>,<delta SHA-256>,<delta size>,<delta URL>
//
// one line per delta, as many lines per Url as there are earlier releases
// (at most GPC_MAX_DELTAS_PER_URL). The base is the SHA-256 of the
// installed file the delta applies to; the delta's own SHA-256 and size are
// those of the download. The section has no "Count" and no "File" entries,
// so a library that does not know it never reads it; it sits before the
// signature section, so under a configured key its bytes are signed like
// every other.
//
// The parser is pure (no operating-system calls) and strict, as the trust
// sections are: a line that cannot be read makes the whole section
// malformed, and the caller then uses no delta at all.
#pragma once

#include <cstddef>

#include "install/manifest_trust.h"
#include "npvrgpc/npbase.h"

enum GpcDeltasResult {
    GPC_DELTAS_OK = 0,
    GPC_DELTAS_NONE = 1,         // no delta section, or one without entries
    GPC_DELTAS_MALFORMED = 2,    // a line unreadable, a limit passed, a delta listed twice
    GPC_DELTAS_NO_MEMORY = 3,
};

enum {
    // A release offers deltas from a handful of earlier releases; a
    // manifest lists a few hundred files.
    GPC_MAX_DELTAS_PER_URL = 16,
    GPC_MAX_DELTAS = 4096,
    // A delta larger than this is never worth it: the full file's cap.
    GPC_MAX_DELTA_SIZE = 64 * 1024 * 1024,
};

// A short English name of a result, for trace lines.
const char* GpcDeltasResultName(int nResult);

struct GpcDeltaEntry {
    CGpcString Url;       // the item's Url, as the item lists it
    unsigned char abBaseHash[GPC_SHA256_SIZE];
    unsigned char abDeltaHash[GPC_SHA256_SIZE];
    unsigned long dwDeltaSize;
    CGpcString DeltaUrl;  // where the delta is, relative like an item's Url
};

class CVRGpcManifestDeltas {
public:
    CVRGpcManifestDeltas();
    ~CVRGpcManifestDeltas();
    CVRGpcManifestDeltas(const CVRGpcManifestDeltas&) = delete;
    CVRGpcManifestDeltas& operator=(const CVRGpcManifestDeltas&) = delete;

    // Reads the delta section of a manifest's bytes: under a key, the
    // signed bytes only (CVRGpcSignedManifest::GetSignedLength()). Sections
    // are found with the INI reader's rules: a line holding both brackets is
    // a section line, names compare without case. On anything but
    // GPC_DELTAS_OK nothing is kept.
    int Parse(const unsigned char* pData, size_t nLength);

    int GetCount() const { return m_Entries.GetCount(); }
    const GpcDeltaEntry* GetAt(int i) const;
    // How many deltas lead to the Url's new file (Urls compare without case).
    int CountFor(const char* lpszUrl) const;
    // 1 and a copy of the delta for the Url that applies to the installed
    // bytes with hash pBaseHash, else 0.
    int FindDelta(const char* lpszUrl, const unsigned char* pBaseHash, GpcDeltaEntry* pFound) const;

private:
    void Clear();
    int ParseLine(const char* pLine, size_t nLine);

    CGpcPtrArray m_Entries;  // owned GpcDeltaEntry
};
