// Signed manifests and verified files.
//
// A signed manifest is an ordinary manifest with three sections that the
// item reader never asks for (the README shows the format for publishers):
//
//   ...the publisher's sections, unchanged...
//   [GpcManifestInfo]
//   Serial=42                          1..4294967295, counted per Product
//   Product=Corvo 2k
//   Name=gpc2k.ini                     optional: the file name it is published under
//   [GpcManifestHashes]
//   bin/viewer.dll=<64 hex digits>     SHA-256 of the download, keyed by Url
//   [GpcManifestSignature]             must be the last section
//   Signature=<base64>                 then nothing but line ends
//
// The signed bytes are every byte before the "[GpcManifestSignature]" line;
// the signature section has a fixed form, so nothing the INI reader could
// read can be added outside them.
//
// The text part (CVRGpcSignedManifest, the decoders) is pure and builds
// natively; the checks that need the system's cryptography, registry and
// files are below it, for Windows only. The cryptography is loaded at run
// time, so the library still loads where the system has none.
#pragma once

#include <cstddef>

#include "npvrgpc/npbase.h"

enum GpcTrustResult {
    GPC_TRUST_OK = 0,
    GPC_TRUST_NO_KEY = 1,          // no key configured: nothing is checked
    GPC_TRUST_UNSIGNED = 2,        // the manifest ends in no signature section
    GPC_TRUST_MALFORMED = 3,       // signature, serial, product or a hash line unreadable
    GPC_TRUST_BAD_SIGNATURE = 4,   // no configured key verifies the signature
    GPC_TRUST_OLD_SERIAL = 5,      // lower than the highest serial accepted for the product
    GPC_TRUST_NO_PROVIDER = 6,     // a key is configured but the system cannot verify
    GPC_TRUST_BAD_KEY = 7,         // a configured key cannot be read or used
    GPC_TRUST_NO_HASH = 8,         // the signed manifest lists no hash for the Url
    GPC_TRUST_HASH_MISMATCH = 9,   // the file differs from the hash listed for it
    GPC_TRUST_READ_ERROR = 10,     // the manifest or file cannot be read (or memory ran out)
    GPC_TRUST_NO_MANIFEST = 11,    // what would be installed comes from no manifest at all
    GPC_TRUST_WRONG_NAME = 12,     // the manifest names another file than the one asked for
};

// A short English name of a result, for trace lines ("bad signature", ...).
const char* GpcTrustResultName(int nResult);

enum {
    GPC_SHA256_SIZE = 32,
    // Big enough for an RSA key of 8,192 bits; publishers use 3,072.
    GPC_MAX_SIGNATURE = 1024,
    GPC_MAX_PUBLIC_KEY = 4096,
    // A manifest is read whole into memory to be verified.
    GPC_MAX_MANIFEST = 4 * 1024 * 1024,
    // Product names are registry value names; the store keeps them short.
    GPC_MAX_PRODUCT = 256,
};

// The trust sections of one manifest. Parse finds the signature and the
// signed byte range and reads the serial, the product and the hash table
// from the signed bytes; none of it may be trusted before the signature has
// been verified over the first GetSignedLength() bytes.
class CVRGpcSignedManifest {
public:
    CVRGpcSignedManifest();
    ~CVRGpcSignedManifest();
    CVRGpcSignedManifest(const CVRGpcSignedManifest&) = delete;
    CVRGpcSignedManifest& operator=(const CVRGpcSignedManifest&) = delete;

    // GPC_TRUST_OK, GPC_TRUST_UNSIGNED, GPC_TRUST_MALFORMED or
    // GPC_TRUST_READ_ERROR (out of memory). Copies what it keeps.
    int Parse(const unsigned char* pData, size_t nLength);

    size_t GetSignedLength() const { return m_nSignedLength; }
    // The signature as the publisher's tool writes it (big-endian).
    const unsigned char* GetSignature() const { return m_abSignature; }
    size_t GetSignatureLength() const { return m_nSignatureLength; }
    unsigned long GetSerial() const { return m_dwSerial; }
    const char* GetProduct() const { return m_achProduct; }
    // The file name the manifest was signed for ("Name="), empty when none.
    const char* GetName() const { return m_achName; }
    // GPC_TRUST_OK when the manifest was signed for no name, or for the last
    // part of lpszAsked (the name in the url, or the path, it was asked for;
    // compared without case); else GPC_TRUST_WRONG_NAME. A manifest signed
    // for the Windows 2000 name is no manifest for the NT 4 one.
    int CheckAskedName(const char* lpszAsked) const;
    int GetHashCount() const { return m_Hashes.GetCount(); }
    // 1 and the 32 bytes of the hash listed for the Url (compared without
    // case, as item fields are; the first line of a Url counts), else 0.
    int FindHash(const char* lpszUrl, unsigned char* pHash) const;

private:
    void Clear();
    int ParseSignedPart(const char* pText, size_t nLength);

    size_t m_nSignedLength;
    unsigned char m_abSignature[GPC_MAX_SIGNATURE];
    size_t m_nSignatureLength;
    unsigned long m_dwSerial;
    char m_achProduct[GPC_MAX_PRODUCT];
    char m_achName[GPC_MAX_PATH];
    CGpcPtrArray m_Hashes;  // owned entries
};

// Strict base64 (standard alphabet, padding, no blanks). Returns 1 and the
// length in *pnOut, or 0 when the text is not base64 or does not fit.
int GpcDecodeBase64(const char* pText, size_t nText, unsigned char* pOut, size_t nOutSize, size_t* pnOut);
// Exactly 64 hexadecimal digits, either case, into 32 bytes.
int GpcDecodeSha256Hex(const char* pText, size_t nText, unsigned char* pOut);
// A serial: 1 to 10 decimal digits, nothing else, 1..4294967295.
int GpcParseSerial(const char* lpszText, unsigned long* pdwSerial);
// A public key as given: DER (SubjectPublicKeyInfo, starting with a
// SEQUENCE byte) is taken as it is; otherwise the text is PEM or bare
// base64 (lines starting with "-----" and blanks are skipped). Returns 1 and
// the DER, or 0.
int GpcDecodePublicKey(const unsigned char* pData, size_t nLength, unsigned char* pOut, size_t nOutSize,
                       size_t* pnOut);

#ifdef _WIN32
#include "npvrgpc/handles.h"

// Where keys come from. Never from the page or the server.
constexpr char GPC_MANIFEST_KEY_RESOURCE[] = "GPCMANIFESTKEY";                // RCDATA in the library
constexpr char GPC_MANIFEST_POLICY_KEY[] = "Software\\Policies\\VRGpcExt";  // under HKLM
constexpr char GPC_MANIFEST_POLICY_VALUE[] = "ManifestPublicKey";  // REG_BINARY DER, or REG_SZ PEM/base64
// The highest serial accepted per product: REG_DWORD values named by the
// product, under HKCU and (when it may be written) HKLM.
constexpr char GPC_MANIFEST_SERIALS_KEY[] = "Software\\VRGpcExt\\ManifestSerials";

// The public keys a manifest may be signed with: the library's own and the
// administrator's. A signature is good when one of them verifies it; a key
// that is configured but unreadable refuses every manifest.
class CVRGpcTrustKeys {
public:
    CVRGpcTrustKeys();
    CVRGpcTrustKeys(const CVRGpcTrustKeys&) = delete;
    CVRGpcTrustKeys& operator=(const CVRGpcTrustKeys&) = delete;

    // Both sources: the resource of hModule (the library) and the policy.
    void Load(HMODULE hModule);
    // Each returns GPC_TRUST_OK (key added), GPC_TRUST_NO_KEY (none there)
    // or GPC_TRUST_BAD_KEY (there but unreadable; remembered).
    int LoadBuiltIn(HMODULE hModule);
    int LoadPolicy();
    int AddKey(const unsigned char* pData, size_t nLength);

    // True when any key is configured, readable or not: then every check
    // applies. False means the library behaves as it always has.
    bool IsConfigured() const { return m_nKeys > 0 || m_bBroken; }
    bool IsBroken() const { return m_bBroken; }
    int GetKeyCount() const { return m_nKeys; }
    const unsigned char* GetKey(int i, size_t* pnLength) const;

private:
    enum { MAX_KEYS = 2 };
    unsigned char m_abKeys[MAX_KEYS][GPC_MAX_PUBLIC_KEY];
    size_t m_anKeyLength[MAX_KEYS];
    int m_nKeys;
    bool m_bBroken;
};

// The signature of a parsed manifest over its signed bytes (pData is the
// whole manifest Parse saw): GPC_TRUST_OK, GPC_TRUST_NO_KEY,
// GPC_TRUST_BAD_SIGNATURE, GPC_TRUST_BAD_KEY or GPC_TRUST_NO_PROVIDER.
int GpcVerifyManifestSignature(const CVRGpcTrustKeys& keys, const unsigned char* pData,
                               const CVRGpcSignedManifest& manifest);

// The whole manifest check: read the file, parse, verify, and compare the
// serial with the highest accepted for its product (equal is accepted). The
// serial is not recorded here: the caller records it once it acts on the
// manifest. With no key configured: GPC_TRUST_NO_KEY and nothing is read.
// The file is read through a handle that shuts out writers and deletion;
// given phHold, an accepted manifest's handle is handed over, and the file
// cannot change while the caller holds it: reading it by its path then
// reads the verified bytes.
int GpcCheckManifestFile(const char* lpszPath, const CVRGpcTrustKeys& keys, CVRGpcSignedManifest* pManifest,
                         CGpcHandle* phHold = nullptr);
// The same over bytes in memory.
int GpcCheckManifest(const unsigned char* pData, size_t nLength, const CVRGpcTrustKeys& keys,
                     CVRGpcSignedManifest* pManifest);

// SHA-256 of a file, read in blocks: GPC_TRUST_OK, GPC_TRUST_READ_ERROR or
// GPC_TRUST_NO_PROVIDER. Given phHold, the handle it was read through is
// handed over on success: it shares the file with readers only, so while
// the caller holds it the file keeps the bytes that were hashed.
int GpcHashFile(const char* lpszPath, unsigned char* pHash, CGpcHandle* phHold = nullptr);
// The handle GpcHashFile reads through (INVALID_HANDLE_VALUE on failure).
HANDLE OpenForHashing(const char* lpszPath);
// A downloaded file against the hash the verified manifest lists for its
// Url: GPC_TRUST_OK, GPC_TRUST_NO_HASH, GPC_TRUST_HASH_MISMATCH,
// GPC_TRUST_READ_ERROR or GPC_TRUST_NO_PROVIDER. Given phHold, a file that
// matches stays held as GpcHashFile holds it.
int GpcCheckFileHash(const CVRGpcSignedManifest& manifest, const char* lpszUrl, const char* lpszPath,
                     CGpcHandle* phHold = nullptr);

// The downgrade store. 0 when the product has no accepted serial yet.
unsigned long GpcGetAcceptedSerial(const char* lpszProduct);
// Raises the stored serial (never lowers it). 1 when the per-user value
// holds at least dwSerial afterwards, else 0.
int GpcRecordAcceptedSerial(const char* lpszProduct, unsigned long dwSerial);
#endif
