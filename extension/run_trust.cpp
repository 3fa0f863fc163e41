// What runs is what was signed: with a key configured, the main component
// and every file run for an item's action are checked before they are
// loaded, registered or run, also when the update decision found them
// current (a file already in place was never downloaded, so its download's
// hash said nothing about it).
//
// A file installed in this pass from a download whose hash matched needs no
// second look. Any other file is hashed and compared with the hash the
// accepted manifest lists for its Url. Either way the file's SHA-256 is kept
// beside the installation log (subkey "VerifiedFiles", one value per full
// path) with the file's size, last-write and creation time, as the version
// cache keeps versions: while the file keeps that stamp, the next start
// takes it as verified without reading it. This is also what lets a
// compressed download's file run at later starts: its installed bytes are
// not the bytes the manifest lists.
#include <cstring>

#include "extension/extension.h"
#include "feedback/messages.h"
#include "feedback/trace.h"

namespace {

const char GPC_VERIFIED_KEY[] = "VerifiedFiles";
// "<size>|<last write>|<creation>|<sha-256>": 16 + 16 + 16 hex digits, 64
// for the hash, the separators and the terminator.
enum { GPC_VERIFIED_RECORD = 16 * 3 + GPC_SHA256_SIZE * 2 + 8 };

// The record for a file as it is now, with its hash; false when the file
// cannot be looked at.
bool FormatRecord(const char* lpszPath, const unsigned char* pHash, char* lpszRecord)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(lpszPath, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    int n = GpcFormat(lpszRecord, GPC_VERIFIED_RECORD, "%08lX%08lX|%08lX%08lX|%08lX%08lX|",
                      static_cast<unsigned long>(data.nFileSizeHigh), static_cast<unsigned long>(data.nFileSizeLow),
                      static_cast<unsigned long>(data.ftLastWriteTime.dwHighDateTime),
                      static_cast<unsigned long>(data.ftLastWriteTime.dwLowDateTime),
                      static_cast<unsigned long>(data.ftCreationTime.dwHighDateTime),
                      static_cast<unsigned long>(data.ftCreationTime.dwLowDateTime));
    if (n < 0) return false;
    static const char s_achHex[] = "0123456789ABCDEF";
    char* p = lpszRecord + n;
    for (int i = 0; i < GPC_SHA256_SIZE; ++i) {
        *p++ = s_achHex[pHash[i] >> 4];
        *p++ = s_achHex[pHash[i] & 0x0F];
    }
    *p = '\0';
    return true;
}

// True when the stamp part of the kept record equals the file's now: the
// hash in it is the file's.
bool RecordStillHolds(HKEY hStore, const char* lpszPath)
{
    char achKept[GPC_VERIFIED_RECORD];
    DWORD dwType = REG_NONE;
    DWORD dwSize = sizeof(achKept) - 1;
    if (RegQueryValueExA(hStore, lpszPath, nullptr, &dwType, reinterpret_cast<BYTE*>(achKept), &dwSize) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ || dwSize == 0) {
        return false;
    }
    achKept[dwSize] = '\0';
    // The stamp is all the record needs to match: the hash was verified
    // when it was written, and no one but the administrator writes here.
    unsigned char abNone[GPC_SHA256_SIZE] = {};
    char achNow[GPC_VERIFIED_RECORD];
    if (!FormatRecord(lpszPath, abNone, achNow)) return false;
    size_t nStamp = strlen(achNow) - GPC_SHA256_SIZE * 2;
    return strlen(achKept) == strlen(achNow) && strncmp(achKept, achNow, nStamp) == 0;
}

}  // namespace

void CVRGpcExtension::OpenVerifiedStore(CGpcRegKey* pStore)
{
    pStore->Close();
    CVRGpcLogMgr* pLog = m_InstallationMgr.LogMgr;
    if (!pLog || !pLog->m_keyLog.GetHandle()) return;
    if (pStore->Create(pLog->m_keyLog.GetHandle(), GPC_VERIFIED_KEY) != ERROR_SUCCESS) pStore->Close();
}

void CVRGpcExtension::RecordVerifiedFile(const char* lpszPath)
{
    unsigned char abHash[GPC_SHA256_SIZE];
    char achRecord[GPC_VERIFIED_RECORD];
    CGpcRegKey store;
    OpenVerifiedStore(&store);
    if (!store.GetHandle()) return;
    // The stamp is taken after the hash: a file changed meanwhile no longer
    // matches its record at the next start.
    if (GpcHashFile(lpszPath, abHash) != GPC_TRUST_OK || !FormatRecord(lpszPath, abHash, achRecord)) {
        RegDeleteValueA(store, lpszPath);
        return;
    }
    RegSetValueExA(store, lpszPath, 0, REG_SZ, reinterpret_cast<const BYTE*>(achRecord),
                   static_cast<DWORD>(strlen(achRecord) + 1));
}

int CVRGpcExtension::CheckRunTrust(GpcInstallItem* pItem, const char* lpszPath)
{
    if (!m_TrustKeys.IsConfigured()) return GPC_TRUST_OK;
    if (!pItem || !lpszPath || !*lpszPath) return GPC_TRUST_READ_ERROR;
    if (pItem->RunVerified) return GPC_TRUST_OK;

    CGpcRegKey store;
    OpenVerifiedStore(&store);
    if (store.GetHandle() && RecordStillHolds(store, lpszPath)) {
        TraceMessage("vrgpcext: %s is unchanged since it was verified", lpszPath);
        return GPC_TRUST_OK;
    }
    const CVRGpcSignedManifest* pSigned = nullptr;
    if (pItem->Job) pSigned = pItem->Job->Signed;
    else if (m_bManifestTrusted) pSigned = &m_SignedManifest;
    const char* lpszUrl = pItem->Url.GetText();
    int nResult = GPC_TRUST_NO_HASH;
    if (pSigned && lpszUrl && *lpszUrl) nResult = GpcCheckFileHash(*pSigned, lpszUrl, lpszPath);
    if (nResult != GPC_TRUST_OK) return nResult;
    TraceMessage("vrgpcext: hash of the installed %s matches the signed manifest", lpszPath);
    if (store.GetHandle()) {
        store.Close();
        RecordVerifiedFile(lpszPath);
    }
    return GPC_TRUST_OK;
}

int CVRGpcExtension::MayRun(GpcInstallItem* pItem, const char* lpszPath)
{
    int nResult = CheckRunTrust(pItem, lpszPath);
    if (nResult == GPC_TRUST_OK) return 1;
    TraceMessage("vrgpcext: %s refused before it runs: %s", Printable(lpszPath), GpcTrustResultName(nResult));
    // As a download that fails its check: told unless the failure control
    // says to ignore it, and fatal while the component is not yet running.
    if (pItem && pItem->Failure != GPC_FAILURE_ABSENT && pItem->Failure != GPC_FAILURE_IGNORE) {
        ShowErrorMessage(this, GPC_MSG_MANIFEST_REFUSED, GpcTrustResultName(nResult));
        if (!m_bMainComponentLoaded) m_bFailed = 1;
    }
    return 0;
}
