// The text part of signed manifests: where the signature is, what the
// signed bytes say (serial, product, file hashes), and the decoders. No
// operating-system calls, so it builds natively too.
#include "install/manifest_trust.h"

#include "install/text_view.h"

#include <cstring>
#include <new>

namespace {

const char GPC_INFO_SECTION[] = "GpcManifestInfo";
const char GPC_HASH_SECTION[] = "GpcManifestHashes";
const char GPC_SIGNATURE_HEADER[] = "[GpcManifestSignature]";
const char GPC_SIGNATURE_KEY[] = "Signature=";

struct GpcHashEntry {
    CGpcString Url;
    unsigned char abHash[GPC_SHA256_SIZE];
};

bool EqualNoCase(const char* a, size_t nA, const char* b)
{
    return GpcViewEqualNoCase(a, nA, b, strlen(b));
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c = GpcLowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Where the signature section starts, by the rules docs/manifest.md gives: after
// the last line ends only line ends follow; the last line is "Signature="
// and base64; the line before it is exactly the section header, and it
// starts a line. Sets the signed length and the base64 text.
int LocateSignature(const char* p, size_t n, size_t* pnSigned, const char** ppBase64, size_t* pnBase64)
{
    size_t nEnd = n;
    while (nEnd > 0 && (p[nEnd - 1] == '\r' || p[nEnd - 1] == '\n')) --nEnd;
    size_t nLastStart = nEnd;
    while (nLastStart > 0 && p[nLastStart - 1] != '\n') --nLastStart;
    if (nLastStart == 0) return 0;
    const size_t nKey = sizeof(GPC_SIGNATURE_KEY) - 1;
    if (nEnd - nLastStart < nKey || memcmp(p + nLastStart, GPC_SIGNATURE_KEY, nKey) != 0) return 0;

    size_t nHeaderEnd = nLastStart - 1;  // the "\n" that ends the header line
    size_t nHeaderStart = nHeaderEnd;
    while (nHeaderStart > 0 && p[nHeaderStart - 1] != '\n') --nHeaderStart;
    size_t nHeaderLength = nHeaderEnd - nHeaderStart;
    if (nHeaderLength > 0 && p[nHeaderStart + nHeaderLength - 1] == '\r') --nHeaderLength;
    const size_t nHeader = sizeof(GPC_SIGNATURE_HEADER) - 1;
    if (nHeaderLength != nHeader || memcmp(p + nHeaderStart, GPC_SIGNATURE_HEADER, nHeader) != 0) return 0;

    *pnSigned = nHeaderStart;
    *ppBase64 = p + nLastStart + nKey;
    *pnBase64 = nEnd - nLastStart - nKey;
    return 1;
}

bool Contains(const char* p, size_t n, const char* lpszWhat)
{
    size_t nWhat = strlen(lpszWhat);
    for (size_t i = 0; i + nWhat <= n; ++i) {
        if (memcmp(p + i, lpszWhat, nWhat) == 0) return true;
    }
    return false;
}

}  // namespace

const char* GpcTrustResultName(int nResult)
{
    switch (nResult) {
    case GPC_TRUST_OK: return "ok";
    case GPC_TRUST_NO_KEY: return "no key configured";
    case GPC_TRUST_UNSIGNED: return "no signature";
    case GPC_TRUST_MALFORMED: return "malformed signature section";
    case GPC_TRUST_BAD_SIGNATURE: return "bad signature";
    case GPC_TRUST_OLD_SERIAL: return "older serial";
    case GPC_TRUST_NO_PROVIDER: return "no cryptographic provider";
    case GPC_TRUST_BAD_KEY: return "unusable key";
    case GPC_TRUST_NO_HASH: return "no hash listed";
    case GPC_TRUST_HASH_MISMATCH: return "hash mismatch";
    case GPC_TRUST_READ_ERROR: return "read error";
    case GPC_TRUST_NO_MANIFEST: return "no signed manifest";
    case GPC_TRUST_WRONG_NAME: return "signed for another name";
    default: return "unknown";
    }
}

int GpcDecodeBase64(const char* pText, size_t nText, unsigned char* pOut, size_t nOutSize, size_t* pnOut)
{
    if (pText == nullptr || pOut == nullptr || pnOut == nullptr) return 0;
    if (nText == 0 || nText % 4 != 0) return 0;
    size_t nOut = 0;
    for (size_t i = 0; i < nText; i += 4) {
        bool bLast = (i + 4 == nText);
        int v[4];
        int nPad = 0;
        for (int k = 0; k < 4; ++k) {
            char c = pText[i + k];
            if (c == '=' && bLast && k >= 2) {
                v[k] = 0;
                ++nPad;
                continue;
            }
            // Padding only at the very end, and nothing after it.
            if (nPad > 0) return 0;
            v[k] = Base64Value(c);
            if (v[k] < 0) return 0;
        }
        unsigned long dw = (static_cast<unsigned long>(v[0]) << 18) | (static_cast<unsigned long>(v[1]) << 12) |
                           (static_cast<unsigned long>(v[2]) << 6) | static_cast<unsigned long>(v[3]);
        size_t nBytes = 3 - static_cast<size_t>(nPad);
        if (nOut + nBytes > nOutSize) return 0;
        pOut[nOut++] = static_cast<unsigned char>(dw >> 16);
        if (nBytes > 1) pOut[nOut++] = static_cast<unsigned char>(dw >> 8);
        if (nBytes > 2) pOut[nOut++] = static_cast<unsigned char>(dw);
    }
    *pnOut = nOut;
    return 1;
}

int GpcDecodeSha256Hex(const char* pText, size_t nText, unsigned char* pOut)
{
    if (pText == nullptr || pOut == nullptr || nText != 2 * GPC_SHA256_SIZE) return 0;
    unsigned char ab[GPC_SHA256_SIZE];
    for (size_t i = 0; i < GPC_SHA256_SIZE; ++i) {
        int hi = HexValue(pText[2 * i]);
        int lo = HexValue(pText[2 * i + 1]);
        if (hi < 0 || lo < 0) return 0;
        ab[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    memcpy(pOut, ab, sizeof(ab));
    return 1;
}

int GpcParseSerial(const char* lpszText, unsigned long* pdwSerial)
{
    if (lpszText == nullptr || pdwSerial == nullptr) return 0;
    size_t n = strlen(lpszText);
    if (n == 0 || n > 10) return 0;
    unsigned long long ull = 0;
    for (size_t i = 0; i < n; ++i) {
        if (lpszText[i] < '0' || lpszText[i] > '9') return 0;
        ull = ull * 10 + static_cast<unsigned>(lpszText[i] - '0');
    }
    if (ull == 0 || ull > 0xFFFFFFFFull) return 0;
    *pdwSerial = static_cast<unsigned long>(ull);
    return 1;
}

int GpcDecodePublicKey(const unsigned char* pData, size_t nLength, unsigned char* pOut, size_t nOutSize,
                       size_t* pnOut)
{
    if (pData == nullptr || pOut == nullptr || pnOut == nullptr || nLength == 0) return 0;
    if (pData[0] == 0x30) {
        if (nLength > nOutSize) return 0;
        memcpy(pOut, pData, nLength);
        *pnOut = nLength;
        return 1;
    }
    // Gather the base64 characters of every line that is not an armour line.
    char* pText = new (std::nothrow) char[nLength + 1];
    if (pText == nullptr) return 0;
    size_t nText = 0;
    const char* p = reinterpret_cast<const char*>(pData);
    size_t i = 0;
    while (i < nLength) {
        size_t nLineEnd = i;
        while (nLineEnd < nLength && p[nLineEnd] != '\n') ++nLineEnd;
        const char* pLine = p + i;
        size_t nLine = nLineEnd - i;
        GpcTrimView(&pLine, &nLine);
        if (!(nLine >= 5 && memcmp(pLine, "-----", 5) == 0)) {
            for (size_t k = 0; k < nLine; ++k) {
                if (!GpcIsIniBlank(pLine[k]) && pLine[k] != '\0') pText[nText++] = pLine[k];
            }
        }
        i = nLineEnd + 1;
    }
    int bOk = GpcDecodeBase64(pText, nText, pOut, nOutSize, pnOut) && *pnOut > 0 && pOut[0] == 0x30;
    delete[] pText;
    return bOk;
}

CVRGpcSignedManifest::CVRGpcSignedManifest()
    : m_nSignedLength(0), m_nSignatureLength(0), m_dwSerial(0)
{
    m_achProduct[0] = '\0';
    m_achName[0] = '\0';
}

CVRGpcSignedManifest::~CVRGpcSignedManifest()
{
    Clear();
}

void CVRGpcSignedManifest::Clear()
{
    for (int i = 0; i < m_Hashes.GetCount(); ++i) delete static_cast<GpcHashEntry*>(m_Hashes.GetAt(i));
    m_Hashes.Free();
    m_nSignedLength = 0;
    m_nSignatureLength = 0;
    m_dwSerial = 0;
    m_achProduct[0] = '\0';
    m_achName[0] = '\0';
}

int CVRGpcSignedManifest::CheckAskedName(const char* lpszAsked) const
{
    if (m_achName[0] == '\0') return GPC_TRUST_OK;
    if (lpszAsked == nullptr) return GPC_TRUST_WRONG_NAME;
    const char* pSeparator = GpcFindLastSeparator(lpszAsked, "\\/:");
    const char* lpszLast = pSeparator ? pSeparator + 1 : lpszAsked;
    size_t nLast = strlen(lpszLast);
    return EqualNoCase(lpszLast, nLast, m_achName) ? GPC_TRUST_OK : GPC_TRUST_WRONG_NAME;
}

int CVRGpcSignedManifest::Parse(const unsigned char* pData, size_t nLength)
{
    Clear();
    if (pData == nullptr) return GPC_TRUST_UNSIGNED;
    const char* p = reinterpret_cast<const char*>(pData);
    size_t nSigned = 0;
    const char* pBase64 = nullptr;
    size_t nBase64 = 0;
    if (!LocateSignature(p, nLength, &nSigned, &pBase64, &nBase64)) {
        // A signature section somewhere else (text added after it, a header
        // out of place) is a damaged signed manifest, not an unsigned one.
        return Contains(p, nLength, "GpcManifestSignature") ? GPC_TRUST_MALFORMED : GPC_TRUST_UNSIGNED;
    }
    size_t nSignature = 0;
    if (!GpcDecodeBase64(pBase64, nBase64, m_abSignature, sizeof(m_abSignature), &nSignature)) {
        return GPC_TRUST_MALFORMED;
    }
    int nResult = ParseSignedPart(p, nSigned);
    if (nResult != GPC_TRUST_OK) {
        Clear();
        return nResult;
    }
    m_nSignedLength = nSigned;
    m_nSignatureLength = nSignature;
    return GPC_TRUST_OK;
}

// Reads the two trust sections of the signed bytes with the INI reader's
// rules: a line holding both brackets is a section line, the first section
// of a name is the one read, names compare without case. Unlike the item
// sections, these are strict: a hash line that cannot be read is an error.
int CVRGpcSignedManifest::ParseSignedPart(const char* p, size_t n)
{
    enum { NONE, INFO, HASHES } eIn = NONE;
    bool bInfoSeen = false, bHashesSeen = false;
    bool bSerial = false, bProduct = false, bName = false;
    size_t i = 0;
    const char* pLine = nullptr;
    size_t nLine = 0;
    while (GpcNextLine(p, n, &i, &pLine, &nLine)) {
        const char* pName = nullptr;
        size_t nName = 0;
        GpcLineKind eKind = GpcSectionOfLine(pLine, nLine, &pName, &nName);
        if (eKind != GPC_LINE_ENTRY) {
            eIn = NONE;
            if (eKind == GPC_LINE_NAMELESS_SECTION) continue;
            if (EqualNoCase(pName, nName, GPC_INFO_SECTION) && !bInfoSeen) {
                eIn = INFO;
                bInfoSeen = true;
            } else if (EqualNoCase(pName, nName, GPC_HASH_SECTION) && !bHashesSeen) {
                eIn = HASHES;
                bHashesSeen = true;
            } else if (EqualNoCase(pName, nName, GPC_INFO_SECTION) || EqualNoCase(pName, nName, GPC_HASH_SECTION)) {
                // A second section of a trust name would be ignored by the
                // reader; a publisher's tool never writes one.
                return GPC_TRUST_MALFORMED;
            }
            continue;
        }
        if (eIn == NONE) continue;
        GpcTrimView(&pLine, &nLine);
        if (nLine == 0) continue;
        if (memchr(pLine, '\0', nLine) != nullptr) return GPC_TRUST_MALFORMED;

        if (eIn == INFO) {
            const char* pEquals = GpcFindByte(pLine, nLine, '=');
            if (pEquals == nullptr) continue;
            const char* pKey = pLine;
            size_t nKey = static_cast<size_t>(pEquals - pLine);
            GpcTrimView(&pKey, &nKey);
            const char* pValue = pEquals + 1;
            size_t nValue = static_cast<size_t>(pLine + nLine - pValue);
            GpcTrimView(&pValue, &nValue);
            if (EqualNoCase(pKey, nKey, "Serial") && !bSerial) {
                char achSerial[16];
                if (nValue >= sizeof(achSerial)) return GPC_TRUST_MALFORMED;
                memcpy(achSerial, pValue, nValue);
                achSerial[nValue] = '\0';
                if (!GpcParseSerial(achSerial, &m_dwSerial)) return GPC_TRUST_MALFORMED;
                bSerial = true;
            } else if (EqualNoCase(pKey, nKey, "Product") && !bProduct) {
                if (nValue == 0 || nValue >= sizeof(m_achProduct)) return GPC_TRUST_MALFORMED;
                for (size_t k = 0; k < nValue; ++k) {
                    if (static_cast<unsigned char>(pValue[k]) < 0x20) return GPC_TRUST_MALFORMED;
                }
                memcpy(m_achProduct, pValue, nValue);
                m_achProduct[nValue] = '\0';
                bProduct = true;
            } else if (EqualNoCase(pKey, nKey, "Name") && !bName) {
                // A file name, nothing else: no path part, no control byte.
                if (nValue == 0 || nValue >= sizeof(m_achName)) return GPC_TRUST_MALFORMED;
                for (size_t k = 0; k < nValue; ++k) {
                    unsigned char c = static_cast<unsigned char>(pValue[k]);
                    if (c < 0x20 || c == '\\' || c == '/' || c == ':') return GPC_TRUST_MALFORMED;
                }
                memcpy(m_achName, pValue, nValue);
                m_achName[nValue] = '\0';
                bName = true;
            }
            continue;
        }

        // A hash line: Url "=" 64 hex digits. The Url may itself hold "=",
        // so the line splits at its last "=".
        const char* pEquals = nullptr;
        for (size_t k = nLine; k > 0; --k) {
            if (pLine[k - 1] == '=') { pEquals = pLine + k - 1; break; }
        }
        if (pEquals == nullptr) return GPC_TRUST_MALFORMED;
        const char* pUrl = pLine;
        size_t nUrl = static_cast<size_t>(pEquals - pLine);
        GpcTrimView(&pUrl, &nUrl);
        const char* pHex = pEquals + 1;
        size_t nHex = static_cast<size_t>(pLine + nLine - pHex);
        GpcTrimView(&pHex, &nHex);
        GpcHashEntry* pEntry = new (std::nothrow) GpcHashEntry();
        if (pEntry == nullptr) return GPC_TRUST_READ_ERROR;
        if (nUrl == 0 || nUrl >= GPC_INI_LINE || !GpcDecodeSha256Hex(pHex, nHex, pEntry->abHash)) {
            delete pEntry;
            return GPC_TRUST_MALFORMED;
        }
        char* pszUrl = new (std::nothrow) char[nUrl + 1];
        if (pszUrl != nullptr) {
            memcpy(pszUrl, pUrl, nUrl);
            pszUrl[nUrl] = '\0';
        }
        if (pszUrl == nullptr || !pEntry->Url.Assign(pszUrl) || !m_Hashes.Add(pEntry)) {
            delete[] pszUrl;
            delete pEntry;
            return GPC_TRUST_READ_ERROR;
        }
        delete[] pszUrl;
    }
    return (bSerial && bProduct) ? GPC_TRUST_OK : GPC_TRUST_MALFORMED;
}

int CVRGpcSignedManifest::FindHash(const char* lpszUrl, unsigned char* pHash) const
{
    if (lpszUrl == nullptr) return 0;
    size_t nUrl = strlen(lpszUrl);
    for (int i = 0; i < m_Hashes.GetCount(); ++i) {
        const GpcHashEntry* pEntry = static_cast<const GpcHashEntry*>(m_Hashes.GetAt(i));
        if (EqualNoCase(lpszUrl, nUrl, pEntry->Url.GetText())) {
            if (pHash != nullptr) memcpy(pHash, pEntry->abHash, GPC_SHA256_SIZE);
            return 1;
        }
    }
    return 0;
}
