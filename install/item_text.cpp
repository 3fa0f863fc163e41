#include "install/item_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

void Trace(GpcTraceFn pfnTrace, const char* lpszFormat, const char* lpszField)
{
    if (pfnTrace)
        pfnTrace(lpszFormat, lpszField);
}

// "%lu"/"%d" conversions: a field without leading digits keeps the value
// it had, trailing characters after the digits are ignored. Sizes are
// 32-bit on the platform, so a native build keeps only 32 bits as well.
void ScanUnsigned(const char* lpszField, unsigned long* pulValue)
{
    unsigned long ulValue = 0;
    if (sscanf(lpszField, "%lu", &ulValue) == 1)
        *pulValue = static_cast<unsigned long>(static_cast<uint32_t>(ulValue));
}

void ScanSigned(const char* lpszField, int* pnValue)
{
    int nValue = 0;
    if (sscanf(lpszField, "%d", &nValue) == 1)
        *pnValue = nValue;
}

// Stores one trimmed field by its position (0-based) and traces it.
void StoreField(GpcItemFields* pFields, int nField, const char* lpszField, GpcTraceFn pfnTrace)
{
    switch (nField) {
    case 0:
        Trace(pfnTrace, "Source Name : %s", lpszField);
        pFields->SourceName.Assign(lpszField);
        break;
    case 1:
        Trace(pfnTrace, "Url : %s", lpszField);
        pFields->Url.Assign(lpszField);
        break;
    case 2:
        Trace(pfnTrace, "Target : %s", lpszField);
        pFields->Target.Assign(lpszField);
        break;
    case 3: {
        Trace(pfnTrace, "Version : %s", lpszField);
        // "2, 0, 0, 17" and "2 0 0 17" are the same version as "2,0,0,17":
        // the comparison with the file's version text is byte for byte.
        char achVersion[256];
        achVersion[0] = '\0';
        NormalizeList(achVersion, lpszField);
        pFields->Version.Assign(achVersion);
        break;
    }
    case 4:
        Trace(pfnTrace, "File size : %s", lpszField);
        ScanUnsigned(lpszField, &pFields->FileSize);
        break;
    case 5:
        Trace(pfnTrace, "Compressed size : %s", lpszField);
        ScanUnsigned(lpszField, &pFields->CompressedSize);
        break;
    case 6:
        Trace(pfnTrace, "Action : %s", lpszField);
        pFields->Action.Assign(lpszField);
        break;
    case 7:
        Trace(pfnTrace, "UpdateControl : %s", lpszField);
        pFields->UpdateControl.Assign(lpszField);
        break;
    case 8:
        Trace(pfnTrace, "FailureControl : %s", lpszField);
        pFields->FailureControl.Assign(lpszField);
        break;
    case 9:
        Trace(pfnTrace, "OS version : %s", lpszField);
        ScanSigned(lpszField, &pFields->OsVersion);
        break;
    default:
        // Later manifests may add fields; this version ignores them.
        break;
    }
}

}  // namespace

void ParseItemFields(char* lpszItem, GpcItemFields* pFields, GpcTraceFn pfnTrace)
{
    if (!lpszItem || !pFields)
        return;
    // Fields are cut out of the caller's text in place: every ";" ends a
    // field, there is no quoting.
    char* pszField = lpszItem;
    for (int nField = 0;; ++nField) {
        char* pszSeparator = strchr(pszField, ';');
        if (pszSeparator)
            *pszSeparator = '\0';
        StoreField(pFields, nField, TrimWhitespace(pszField), pfnTrace);
        if (!pszSeparator)
            break;
        pszField = pszSeparator + 1;
    }
}

int SplitItemList(const char* lpszList, CGpcPtrArray* pPieces)
{
    if (!lpszList || !pPieces)
        return 1;

    size_t nLength = strlen(lpszList);
    char* pszCopy = new (std::nothrow) char[nLength + 1];
    if (!pszCopy)
        return 0;
    memcpy(pszCopy, lpszList, nLength + 1);

    char* pszPiece = pszCopy;
    for (;;) {
        char* pszBar = strchr(pszPiece, '|');
        if (pszBar)
            *pszBar = '\0';
        char* pszTrimmed = TrimWhitespace(pszPiece);
        if (*pszTrimmed) {
            size_t nPiece = strlen(pszTrimmed);
            char* pszSaved = new (std::nothrow) char[nPiece + 1];
            if (pszSaved) {
                memcpy(pszSaved, pszTrimmed, nPiece + 1);
                if (!pPieces->Add(pszSaved))
                    delete[] pszSaved;
            }
        }
        if (!pszBar)
            break;
        pszPiece = pszBar + 1;
    }
    delete[] pszCopy;
    return 1;
}
