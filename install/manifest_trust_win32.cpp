// Signed manifests and verified files: the parts that need the system. The
// cryptography is the system's own CryptoAPI, bound at run time: systems
// without it (or without the RSA/AES provider) still load the library, and
// a configured key then refuses instead of passing.
#include "install/manifest_trust.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <new>
#include <utility>

#include "npvrgpc/handles.h"

// The headers show these only to builds aimed at newer systems; the values
// are the system's, and the provider answers for them where it has them.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif
#ifndef PROV_RSA_AES
#define PROV_RSA_AES 24
#endif

namespace {

typedef BOOL(WINAPI* PFN_ACQUIRE)(HCRYPTPROV*, LPCSTR, LPCSTR, DWORD, DWORD);
typedef BOOL(WINAPI* PFN_RELEASE)(HCRYPTPROV, DWORD);
typedef BOOL(WINAPI* PFN_CREATEHASH)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*);
typedef BOOL(WINAPI* PFN_HASHDATA)(HCRYPTHASH, const BYTE*, DWORD, DWORD);
typedef BOOL(WINAPI* PFN_GETHASHPARAM)(HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD);
typedef BOOL(WINAPI* PFN_DESTROYHASH)(HCRYPTHASH);
typedef BOOL(WINAPI* PFN_VERIFY)(HCRYPTHASH, const BYTE*, DWORD, HCRYPTKEY, LPCSTR, DWORD);
typedef BOOL(WINAPI* PFN_DESTROYKEY)(HCRYPTKEY);
typedef BOOL(WINAPI* PFN_DECODE)(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, PCRYPT_DECODE_PARA, void*, DWORD*);
typedef BOOL(WINAPI* PFN_IMPORTKEY)(HCRYPTPROV, DWORD, PCERT_PUBLIC_KEY_INFO, HCRYPTKEY*);

// One verification context of the RSA/AES provider, with the functions it
// needs looked up by name.
class CGpcCrypto {
public:
    CGpcCrypto() : m_hProv(0)
    {
        m_hAdvapi.Reset(LoadLibraryA("advapi32.dll"));
        m_hCrypt32.Reset(LoadLibraryA("crypt32.dll"));
        if (!m_hAdvapi || !m_hCrypt32) return;
        HMODULE a = m_hAdvapi.Get();
        HMODULE c = m_hCrypt32.Get();
        m_pfnAcquire = reinterpret_cast<PFN_ACQUIRE>(GetProcAddress(a, "CryptAcquireContextA"));
        m_pfnRelease = reinterpret_cast<PFN_RELEASE>(GetProcAddress(a, "CryptReleaseContext"));
        m_pfnCreateHash = reinterpret_cast<PFN_CREATEHASH>(GetProcAddress(a, "CryptCreateHash"));
        m_pfnHashData = reinterpret_cast<PFN_HASHDATA>(GetProcAddress(a, "CryptHashData"));
        m_pfnGetHashParam = reinterpret_cast<PFN_GETHASHPARAM>(GetProcAddress(a, "CryptGetHashParam"));
        m_pfnDestroyHash = reinterpret_cast<PFN_DESTROYHASH>(GetProcAddress(a, "CryptDestroyHash"));
        m_pfnVerify = reinterpret_cast<PFN_VERIFY>(GetProcAddress(a, "CryptVerifySignatureA"));
        m_pfnDestroyKey = reinterpret_cast<PFN_DESTROYKEY>(GetProcAddress(a, "CryptDestroyKey"));
        m_pfnDecode = reinterpret_cast<PFN_DECODE>(GetProcAddress(c, "CryptDecodeObjectEx"));
        m_pfnImportKey = reinterpret_cast<PFN_IMPORTKEY>(GetProcAddress(c, "CryptImportPublicKeyInfo"));
        if (!m_pfnAcquire || !m_pfnRelease || !m_pfnCreateHash || !m_pfnHashData || !m_pfnGetHashParam ||
            !m_pfnDestroyHash || !m_pfnVerify || !m_pfnDestroyKey || !m_pfnDecode || !m_pfnImportKey) {
            return;
        }
        HCRYPTPROV hProv = 0;
        if (m_pfnAcquire(&hProv, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) m_hProv = hProv;
    }
    ~CGpcCrypto()
    {
        if (m_hProv) m_pfnRelease(m_hProv, 0);
    }
    CGpcCrypto(const CGpcCrypto&) = delete;
    CGpcCrypto& operator=(const CGpcCrypto&) = delete;

    bool IsReady() const { return m_hProv != 0; }

    // A SHA-256 hash object, destroyed with the holder.
    class CHash {
    public:
        explicit CHash(const CGpcCrypto& crypto) : m_Crypto(crypto), m_hHash(0)
        {
            HCRYPTHASH h = 0;
            if (crypto.IsReady() && crypto.m_pfnCreateHash(crypto.m_hProv, CALG_SHA_256, 0, 0, &h)) m_hHash = h;
        }
        ~CHash()
        {
            if (m_hHash) m_Crypto.m_pfnDestroyHash(m_hHash);
        }
        CHash(const CHash&) = delete;
        CHash& operator=(const CHash&) = delete;
        bool IsReady() const { return m_hHash != 0; }
        bool Add(const unsigned char* p, size_t n)
        {
            // CryptHashData takes a 32-bit length; manifests and file blocks
            // stay far below it, but the loop keeps that true for any input.
            while (n > 0) {
                DWORD dwPart = n > 0x10000000u ? 0x10000000u : static_cast<DWORD>(n);
                if (!m_Crypto.m_pfnHashData(m_hHash, p, dwPart, 0)) return false;
                p += dwPart;
                n -= dwPart;
            }
            return true;
        }
        bool Value(unsigned char* pOut)
        {
            DWORD cb = GPC_SHA256_SIZE;
            return m_Crypto.m_pfnGetHashParam(m_hHash, HP_HASHVAL, pOut, &cb, 0) && cb == GPC_SHA256_SIZE;
        }
        HCRYPTHASH Get() const { return m_hHash; }

    private:
        const CGpcCrypto& m_Crypto;
        HCRYPTHASH m_hHash;
    };

    // Imports a DER SubjectPublicKeyInfo holding an RSA key.
    bool ImportKey(const unsigned char* pDer, size_t nDer, HCRYPTKEY* phKey) const
    {
        CERT_PUBLIC_KEY_INFO* pInfo = nullptr;
        DWORD cbInfo = 0;
        if (!m_pfnDecode(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, pDer, static_cast<DWORD>(nDer),
                         CRYPT_DECODE_ALLOC_FLAG, nullptr, &pInfo, &cbInfo) || pInfo == nullptr) {
            return false;
        }
        bool bRsa = pInfo->Algorithm.pszObjId != nullptr && strcmp(pInfo->Algorithm.pszObjId, szOID_RSA_RSA) == 0;
        HCRYPTKEY hKey = 0;
        bool bOk = bRsa && m_pfnImportKey(m_hProv, X509_ASN_ENCODING, pInfo, &hKey);
        LocalFree(pInfo);
        if (bOk) *phKey = hKey;
        return bOk;
    }
    void DestroyKey(HCRYPTKEY hKey) const { m_pfnDestroyKey(hKey); }
    bool VerifyHash(const CHash& hash, const unsigned char* pSignature, DWORD cbSignature, HCRYPTKEY hKey) const
    {
        return m_pfnVerify(hash.Get(), pSignature, cbSignature, hKey, nullptr, 0) != FALSE;
    }

private:
    CGpcModule m_hAdvapi;
    CGpcModule m_hCrypt32;
    HCRYPTPROV m_hProv;
    PFN_ACQUIRE m_pfnAcquire = nullptr;
    PFN_RELEASE m_pfnRelease = nullptr;
    PFN_CREATEHASH m_pfnCreateHash = nullptr;
    PFN_HASHDATA m_pfnHashData = nullptr;
    PFN_GETHASHPARAM m_pfnGetHashParam = nullptr;
    PFN_DESTROYHASH m_pfnDestroyHash = nullptr;
    PFN_VERIFY m_pfnVerify = nullptr;
    PFN_DESTROYKEY m_pfnDestroyKey = nullptr;
    PFN_DECODE m_pfnDecode = nullptr;
    PFN_IMPORTKEY m_pfnImportKey = nullptr;
};

// Verifies with one key: GPC_TRUST_OK, BAD_SIGNATURE, BAD_KEY or NO_PROVIDER.
int VerifyWithKey(const CGpcCrypto& crypto, const unsigned char* pDer, size_t nDer, const unsigned char* pData,
                  size_t nData, const unsigned char* pSignature, size_t nSignature)
{
    HCRYPTKEY hKey = 0;
    if (!crypto.ImportKey(pDer, nDer, &hKey)) return GPC_TRUST_BAD_KEY;
    int nResult = GPC_TRUST_NO_PROVIDER;
    CGpcCrypto::CHash hash(crypto);
    if (hash.IsReady() && hash.Add(pData, nData)) {
        // CryptoAPI reads signatures least significant byte first; the
        // publisher's tool writes them the other way round.
        unsigned char abReversed[GPC_MAX_SIGNATURE];
        for (size_t i = 0; i < nSignature; ++i) abReversed[i] = pSignature[nSignature - 1 - i];
        nResult = crypto.VerifyHash(hash, abReversed, static_cast<DWORD>(nSignature), hKey)
                      ? GPC_TRUST_OK
                      : GPC_TRUST_BAD_SIGNATURE;
    }
    crypto.DestroyKey(hKey);
    return nResult;
}

struct GpcRegKeyHolder {
    HKEY h = nullptr;
    ~GpcRegKeyHolder()
    {
        if (h) RegCloseKey(h);
    }
};

DWORD ReadSerial(HKEY hRoot, const char* lpszProduct)
{
    GpcRegKeyHolder key;
    if (RegOpenKeyExA(hRoot, GPC_MANIFEST_SERIALS_KEY, 0, KEY_QUERY_VALUE, &key.h) != ERROR_SUCCESS) return 0;
    DWORD dwValue = 0, dwType = 0, cb = sizeof(dwValue);
    if (RegQueryValueExA(key.h, lpszProduct, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cb) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD || cb != sizeof(dwValue)) {
        return 0;
    }
    return dwValue;
}

bool RaiseSerial(HKEY hRoot, const char* lpszProduct, DWORD dwSerial)
{
    if (ReadSerial(hRoot, lpszProduct) >= dwSerial) return true;
    GpcRegKeyHolder key;
    if (RegCreateKeyExA(hRoot, GPC_MANIFEST_SERIALS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key.h, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(key.h, lpszProduct, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwSerial),
                          sizeof(dwSerial)) == ERROR_SUCCESS;
}

bool ValidProduct(const char* lpszProduct)
{
    return lpszProduct != nullptr && lpszProduct[0] != '\0' && strlen(lpszProduct) < GPC_MAX_PRODUCT;
}

}  // namespace

CVRGpcTrustKeys::CVRGpcTrustKeys() : m_anKeyLength(), m_nKeys(0), m_bBroken(false) {}

const unsigned char* CVRGpcTrustKeys::GetKey(int i, size_t* pnLength) const
{
    if (i < 0 || i >= m_nKeys) return nullptr;
    if (pnLength) *pnLength = m_anKeyLength[i];
    return m_abKeys[i];
}

int CVRGpcTrustKeys::AddKey(const unsigned char* pData, size_t nLength)
{
    size_t nDer = 0;
    if (m_nKeys >= MAX_KEYS ||
        !GpcDecodePublicKey(pData, nLength, m_abKeys[m_nKeys], sizeof(m_abKeys[m_nKeys]), &nDer)) {
        m_bBroken = true;
        return GPC_TRUST_BAD_KEY;
    }
    m_anKeyLength[m_nKeys++] = nDer;
    return GPC_TRUST_OK;
}

int CVRGpcTrustKeys::LoadBuiltIn(HMODULE hModule)
{
    HRSRC hRes = FindResourceA(hModule, GPC_MANIFEST_KEY_RESOURCE, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    if (hRes == nullptr) return GPC_TRUST_NO_KEY;
    DWORD cb = SizeofResource(hModule, hRes);
    HGLOBAL hData = LoadResource(hModule, hRes);
    const void* p = hData ? LockResource(hData) : nullptr;
    if (p == nullptr || cb == 0) {
        m_bBroken = true;
        return GPC_TRUST_BAD_KEY;
    }
    return AddKey(static_cast<const unsigned char*>(p), cb);
}

int CVRGpcTrustKeys::LoadPolicy()
{
    GpcRegKeyHolder key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, GPC_MANIFEST_POLICY_KEY, 0, KEY_QUERY_VALUE, &key.h) != ERROR_SUCCESS) {
        return GPC_TRUST_NO_KEY;
    }
    DWORD dwType = 0, cb = 0;
    LONG lResult = RegQueryValueExA(key.h, GPC_MANIFEST_POLICY_VALUE, nullptr, &dwType, nullptr, &cb);
    if (lResult == ERROR_FILE_NOT_FOUND) return GPC_TRUST_NO_KEY;
    // From here on the administrator meant to configure a key: anything
    // unreadable refuses rather than falling back to no checks.
    unsigned char abValue[3 * GPC_MAX_PUBLIC_KEY];
    cb = sizeof(abValue);
    lResult = RegQueryValueExA(key.h, GPC_MANIFEST_POLICY_VALUE, nullptr, &dwType, abValue, &cb);
    bool bTypeOk = dwType == REG_BINARY || dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
    if (lResult != ERROR_SUCCESS || !bTypeOk || cb == 0) {
        m_bBroken = true;
        return GPC_TRUST_BAD_KEY;
    }
    // Texts come with their terminators; the decoder skips them.
    return AddKey(abValue, cb);
}

void CVRGpcTrustKeys::Load(HMODULE hModule)
{
    LoadBuiltIn(hModule);
    LoadPolicy();
}

int GpcVerifyManifestSignature(const CVRGpcTrustKeys& keys, const unsigned char* pData,
                               const CVRGpcSignedManifest& manifest)
{
    if (!keys.IsConfigured()) return GPC_TRUST_NO_KEY;
    if (keys.IsBroken()) return GPC_TRUST_BAD_KEY;
    if (pData == nullptr || manifest.GetSignatureLength() == 0) return GPC_TRUST_BAD_SIGNATURE;
    CGpcCrypto crypto;
    if (!crypto.IsReady()) return GPC_TRUST_NO_PROVIDER;
    int nResult = GPC_TRUST_BAD_SIGNATURE;
    for (int i = 0; i < keys.GetKeyCount(); ++i) {
        size_t nDer = 0;
        const unsigned char* pDer = keys.GetKey(i, &nDer);
        int n = VerifyWithKey(crypto, pDer, nDer, pData, manifest.GetSignedLength(), manifest.GetSignature(),
                              manifest.GetSignatureLength());
        if (n == GPC_TRUST_OK) return GPC_TRUST_OK;
        // A key that cannot be used is a configuration fault worth naming.
        if (n != GPC_TRUST_BAD_SIGNATURE) nResult = n;
    }
    return nResult;
}

int GpcCheckManifest(const unsigned char* pData, size_t nLength, const CVRGpcTrustKeys& keys,
                     CVRGpcSignedManifest* pManifest)
{
    if (!keys.IsConfigured()) return GPC_TRUST_NO_KEY;
    if (pManifest == nullptr) return GPC_TRUST_READ_ERROR;
    int nResult = pManifest->Parse(pData, nLength);
    if (nResult != GPC_TRUST_OK) return nResult;
    nResult = GpcVerifyManifestSignature(keys, pData, *pManifest);
    if (nResult != GPC_TRUST_OK) return nResult;
    if (pManifest->GetSerial() < GpcGetAcceptedSerial(pManifest->GetProduct())) return GPC_TRUST_OLD_SERIAL;
    return GPC_TRUST_OK;
}

int GpcCheckManifestFile(const char* lpszPath, const CVRGpcTrustKeys& keys, CVRGpcSignedManifest* pManifest,
                         CGpcHandle* phHold)
{
    if (!keys.IsConfigured()) return GPC_TRUST_NO_KEY;
    if (lpszPath == nullptr) return GPC_TRUST_READ_ERROR;
    CGpcHandle hFile(CreateFileA(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile) return GPC_TRUST_READ_ERROR;
    DWORD dwHigh = 0;
    DWORD dwSize = GetFileSize(hFile.Get(), &dwHigh);
    if (dwSize == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return GPC_TRUST_READ_ERROR;
    if (dwHigh != 0 || dwSize > GPC_MAX_MANIFEST) return GPC_TRUST_READ_ERROR;
    unsigned char* pData = new (std::nothrow) unsigned char[dwSize + 1];
    if (pData == nullptr) return GPC_TRUST_READ_ERROR;
    DWORD dwRead = 0;
    int nResult = GPC_TRUST_READ_ERROR;
    if (ReadFile(hFile.Get(), pData, dwSize, &dwRead, nullptr) && dwRead == dwSize) {
        nResult = GpcCheckManifest(pData, dwSize, keys, pManifest);
    }
    delete[] pData;
    if (nResult == GPC_TRUST_OK && phHold) *phHold = std::move(hFile);
    return nResult;
}

int GpcHashFile(const char* lpszPath, unsigned char* pHash, CGpcHandle* phHold)
{
    if (lpszPath == nullptr || pHash == nullptr) return GPC_TRUST_READ_ERROR;
    CGpcCrypto crypto;
    if (!crypto.IsReady()) return GPC_TRUST_NO_PROVIDER;
    CGpcCrypto::CHash hash(crypto);
    if (!hash.IsReady()) return GPC_TRUST_NO_PROVIDER;
    CGpcHandle hFile(OpenForHashing(lpszPath));
    if (!hFile) return GPC_TRUST_READ_ERROR;
    enum { BLOCK = 64 * 1024 };
    unsigned char* pBlock = new (std::nothrow) unsigned char[BLOCK];
    if (pBlock == nullptr) return GPC_TRUST_READ_ERROR;
    int nResult = GPC_TRUST_READ_ERROR;
    for (;;) {
        DWORD dwRead = 0;
        if (!ReadFile(hFile.Get(), pBlock, BLOCK, &dwRead, nullptr)) break;
        if (dwRead == 0) {
            nResult = hash.Value(pHash) ? GPC_TRUST_OK : GPC_TRUST_NO_PROVIDER;
            break;
        }
        if (!hash.Add(pBlock, dwRead)) {
            nResult = GPC_TRUST_NO_PROVIDER;
            break;
        }
    }
    delete[] pBlock;
    if (nResult == GPC_TRUST_OK && phHold) phHold->Reset(hFile.Release());
    return nResult;
}

HANDLE OpenForHashing(const char* lpszPath)
{
    // Only readers may share the file while it is hashed, and for as long
    // as the caller keeps the handle: no one can change or replace what was
    // checked before the unpack has read it.
    return CreateFileA(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                       nullptr);
}

int GpcCheckFileHash(const CVRGpcSignedManifest& manifest, const char* lpszUrl, const char* lpszPath,
                     CGpcHandle* phHold)
{
    unsigned char abListed[GPC_SHA256_SIZE];
    if (!manifest.FindHash(lpszUrl, abListed)) return GPC_TRUST_NO_HASH;
    unsigned char abActual[GPC_SHA256_SIZE];
    CGpcHandle hFile;
    int nResult = GpcHashFile(lpszPath, abActual, &hFile);
    if (nResult != GPC_TRUST_OK) return nResult;
    if (memcmp(abListed, abActual, GPC_SHA256_SIZE) != 0) return GPC_TRUST_HASH_MISMATCH;
    if (phHold) phHold->Reset(hFile.Release());
    return GPC_TRUST_OK;
}

unsigned long GpcGetAcceptedSerial(const char* lpszProduct)
{
    if (!ValidProduct(lpszProduct)) return 0;
    DWORD dwMachine = ReadSerial(HKEY_LOCAL_MACHINE, lpszProduct);
    DWORD dwUser = ReadSerial(HKEY_CURRENT_USER, lpszProduct);
    return dwMachine > dwUser ? dwMachine : dwUser;
}

int GpcRecordAcceptedSerial(const char* lpszProduct, unsigned long dwSerial)
{
    if (!ValidProduct(lpszProduct)) return 0;
    // The machine-wide value keeps other users of the machine from being
    // served an older manifest; without the right to write it, the user's
    // own value still guards this user.
    RaiseSerial(HKEY_LOCAL_MACHINE, lpszProduct, static_cast<DWORD>(dwSerial));
    return RaiseSerial(HKEY_CURRENT_USER, lpszProduct, static_cast<DWORD>(dwSerial)) ? 1 : 0;
}
