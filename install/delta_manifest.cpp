// The manifest's delta section. No operating-system calls, so it builds
// natively too.
#include "install/delta_manifest.h"

#include "install/text_view.h"

#include <cstring>
#include <new>

namespace {

const char GPC_DELTAS_SECTION[] = "GpcManifestDeltas";

// A size: 1 to 10 decimal digits, nothing else, 1..GPC_MAX_DELTA_SIZE.
bool ParseSize(const char* p, size_t n, unsigned long* pdwSize)
{
    if (n == 0 || n > 10) return false;
    unsigned long long ull = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return false;
        ull = ull * 10 + static_cast<unsigned>(p[i] - '0');
    }
    if (ull == 0 || ull > GPC_MAX_DELTA_SIZE) return false;
    *pdwSize = static_cast<unsigned long>(ull);
    return true;
}

bool AssignView(CGpcString& s, const char* p, size_t n)
{
    char* psz = new (std::nothrow) char[n + 1];
    if (psz == nullptr) return false;
    memcpy(psz, p, n);
    psz[n] = '\0';
    int bOk = s.Assign(psz);
    delete[] psz;
    return bOk != 0;
}

// The value after the Url's "=": base hash "," delta hash "," size "," URL.
// The first three have fixed forms; the URL is the rest of the line.
// Returns 1 when the whole value reads; fills pEntry's numbers and hashes
// and points at the URL.
int ParseValue(const char* p, size_t n, GpcDeltaEntry* pEntry, const char** ppUrl, size_t* pnUrl)
{
    const size_t nHex = 2 * GPC_SHA256_SIZE;
    if (n < 2 * (nHex + 1) || p[nHex] != ',' || p[2 * nHex + 1] != ',') return 0;
    if (!GpcDecodeSha256Hex(p, nHex, pEntry->abBaseHash)) return 0;
    if (!GpcDecodeSha256Hex(p + nHex + 1, nHex, pEntry->abDeltaHash)) return 0;
    const char* pSize = p + 2 * (nHex + 1);
    size_t nAfter = n - 2 * (nHex + 1);
    const char* pComma = GpcFindByte(pSize, nAfter, ',');
    if (pComma == nullptr) return 0;
    if (!ParseSize(pSize, static_cast<size_t>(pComma - pSize), &pEntry->dwDeltaSize)) return 0;
    const char* pUrl = pComma + 1;
    size_t nUrl = static_cast<size_t>(p + n - pUrl);
    if (nUrl == 0 || nUrl >= GPC_INI_LINE) return 0;
    for (size_t i = 0; i < nUrl; ++i) {
        if (static_cast<unsigned char>(pUrl[i]) < 0x20) return 0;
    }
    *ppUrl = pUrl;
    *pnUrl = nUrl;
    return 1;
}

}  // namespace

const char* GpcDeltasResultName(int nResult)
{
    switch (nResult) {
    case GPC_DELTAS_OK: return "ok";
    case GPC_DELTAS_NONE: return "no deltas listed";
    case GPC_DELTAS_MALFORMED: return "malformed delta section";
    case GPC_DELTAS_NO_MEMORY: return "out of memory";
    default: return "unknown";
    }
}

CVRGpcManifestDeltas::CVRGpcManifestDeltas() {}

CVRGpcManifestDeltas::~CVRGpcManifestDeltas()
{
    Clear();
}

void CVRGpcManifestDeltas::Clear()
{
    for (int i = 0; i < m_Entries.GetCount(); ++i) delete static_cast<GpcDeltaEntry*>(m_Entries.GetAt(i));
    m_Entries.Free();
}

const GpcDeltaEntry* CVRGpcManifestDeltas::GetAt(int i) const
{
    return static_cast<const GpcDeltaEntry*>(m_Entries.GetAt(i));
}

int CVRGpcManifestDeltas::Parse(const unsigned char* pData, size_t nLength)
{
    Clear();
    if (pData == nullptr) return GPC_DELTAS_NONE;
    const char* p = reinterpret_cast<const char*>(pData);
    bool bIn = false, bSeen = false;
    size_t i = 0;
    const char* pLine = nullptr;
    size_t nLine = 0;
    while (GpcNextLine(p, nLength, &i, &pLine, &nLine)) {
        const char* pName = nullptr;
        size_t nName = 0;
        GpcLineKind eKind = GpcSectionOfLine(pLine, nLine, &pName, &nName);
        if (eKind != GPC_LINE_ENTRY) {
            bIn = false;
            if (eKind == GPC_LINE_NAMELESS_SECTION) continue;
            if (GpcViewEqualNoCase(pName, nName, GPC_DELTAS_SECTION, sizeof(GPC_DELTAS_SECTION) - 1)) {
                // The INI reader would read only the first; a publisher's
                // tool never writes two.
                if (bSeen) {
                    Clear();
                    return GPC_DELTAS_MALFORMED;
                }
                bIn = bSeen = true;
            }
            continue;
        }
        if (!bIn) continue;
        GpcTrimView(&pLine, &nLine);
        if (nLine == 0) continue;
        int nResult = ParseLine(pLine, nLine);
        if (nResult != GPC_DELTAS_OK) {
            Clear();
            return nResult;
        }
    }
    return m_Entries.GetCount() > 0 ? GPC_DELTAS_OK : GPC_DELTAS_NONE;
}

// Url "=" value. A Url may itself hold "=" (a query), so the line splits at
// the first "=" after which a whole value reads; the delta URL at the end
// may hold anything but line ends and control characters.
int CVRGpcManifestDeltas::ParseLine(const char* pLine, size_t nLine)
{
    if (memchr(pLine, '\0', nLine) != nullptr) return GPC_DELTAS_MALFORMED;
    if (m_Entries.GetCount() >= GPC_MAX_DELTAS) return GPC_DELTAS_MALFORMED;
    GpcDeltaEntry* pEntry = new (std::nothrow) GpcDeltaEntry();
    if (pEntry == nullptr) return GPC_DELTAS_NO_MEMORY;
    const char* pUrl = nullptr;
    size_t nUrl = 0;
    const char* pDeltaUrl = nullptr;
    size_t nDeltaUrl = 0;
    for (size_t k = 0; k < nLine; ++k) {
        if (pLine[k] != '=') continue;
        if (ParseValue(pLine + k + 1, nLine - k - 1, pEntry, &pDeltaUrl, &nDeltaUrl)) {
            pUrl = pLine;
            nUrl = k;
            break;
        }
    }
    if (pUrl != nullptr) GpcTrimView(&pUrl, &nUrl);
    if (pUrl == nullptr || nUrl == 0 || nUrl >= GPC_INI_LINE) {
        delete pEntry;
        return GPC_DELTAS_MALFORMED;
    }
    // Two deltas for one Url from one base would leave the choice to chance.
    int nForUrl = 0;
    for (int i = 0; i < m_Entries.GetCount(); ++i) {
        const GpcDeltaEntry* pOther = GetAt(i);
        if (!GpcViewEqualNoCase(pUrl, nUrl, pOther->Url.GetText(), static_cast<size_t>(pOther->Url.GetLength()))) continue;
        ++nForUrl;
        if (nForUrl >= GPC_MAX_DELTAS_PER_URL ||
            memcmp(pOther->abBaseHash, pEntry->abBaseHash, GPC_SHA256_SIZE) == 0) {
            delete pEntry;
            return GPC_DELTAS_MALFORMED;
        }
    }
    if (!AssignView(pEntry->Url, pUrl, nUrl) || !AssignView(pEntry->DeltaUrl, pDeltaUrl, nDeltaUrl) ||
        !m_Entries.Add(pEntry)) {
        delete pEntry;
        return GPC_DELTAS_NO_MEMORY;
    }
    return GPC_DELTAS_OK;
}

int CVRGpcManifestDeltas::CountFor(const char* lpszUrl) const
{
    if (lpszUrl == nullptr) return 0;
    size_t nUrl = strlen(lpszUrl);
    int n = 0;
    for (int i = 0; i < m_Entries.GetCount(); ++i) {
        const GpcDeltaEntry* pEntry = GetAt(i);
        if (GpcViewEqualNoCase(lpszUrl, nUrl, pEntry->Url.GetText(), static_cast<size_t>(pEntry->Url.GetLength()))) ++n;
    }
    return n;
}

int CVRGpcManifestDeltas::FindDelta(const char* lpszUrl, const unsigned char* pBaseHash, GpcDeltaEntry* pFound) const
{
    if (lpszUrl == nullptr || pBaseHash == nullptr) return 0;
    size_t nUrl = strlen(lpszUrl);
    for (int i = 0; i < m_Entries.GetCount(); ++i) {
        const GpcDeltaEntry* pEntry = GetAt(i);
        if (!GpcViewEqualNoCase(lpszUrl, nUrl, pEntry->Url.GetText(), static_cast<size_t>(pEntry->Url.GetLength()))) continue;
        if (memcmp(pEntry->abBaseHash, pBaseHash, GPC_SHA256_SIZE) != 0) continue;
        if (pFound != nullptr) {
            if (!pFound->Url.Assign(pEntry->Url) || !pFound->DeltaUrl.Assign(pEntry->DeltaUrl)) return 0;
            memcpy(pFound->abBaseHash, pEntry->abBaseHash, GPC_SHA256_SIZE);
            memcpy(pFound->abDeltaHash, pEntry->abDeltaHash, GPC_SHA256_SIZE);
            pFound->dwDeltaSize = pEntry->dwDeltaSize;
        }
        return 1;
    }
    return 0;
}
