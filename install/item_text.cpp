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

// ASCII letters folded only: the answer never depends on a locale.
bool SameWord(const char* lpszText, const char* lpszWord)
{
    for (;; ++lpszText, ++lpszWord) {
        char a = (*lpszText >= 'A' && *lpszText <= 'Z') ? static_cast<char>(*lpszText - 'A' + 'a') : *lpszText;
        if (a != *lpszWord) return false;
        if (!a) return true;
    }
}

template <typename Kind>
struct GpcWord {
    const char* lpszWord;
    Kind kind;
};

// The kind of a text field: lpKinds' entry for a known word, nAbsent for an
// absent field, nOther for anything else (an empty field too). An unknown
// word (not empty) is traced.
template <typename Kind, size_t N>
Kind KindOf(const CGpcString& field, const GpcWord<Kind> (&words)[N], Kind nAbsent, Kind nOther,
            const char* lpszWhat, const char* lpszName, GpcTraceFn pfnTrace)
{
    if (field.IsNull()) return nAbsent;
    for (const GpcWord<Kind>& w : words) {
        if (SameWord(field.GetText(), w.lpszWord)) return w.kind;
    }
    if (pfnTrace && field.GetText()[0]) pfnTrace("unknown %s '%s' for %s", lpszWhat, field.GetText(), lpszName);
    return nOther;
}

const GpcWord<GpcUpdateKind> s_aUpdateWords[] = {
    {"version", GPC_UPDATE_VERSION}, {"size", GPC_UPDATE_SIZE},
    {"existence", GPC_UPDATE_EXISTENCE}, {"vertag", GPC_UPDATE_VERTAG},
};
const GpcWord<GpcFailureKind> s_aFailureWords[] = {
    {"ignore", GPC_FAILURE_IGNORE}, {"reboot", GPC_FAILURE_REBOOT}, {"redirect", GPC_FAILURE_REDIRECT},
};
const GpcWord<GpcActionKind> s_aActionWords[] = {
    {"r", GPC_ACTION_SERVER}, {"e", GPC_ACTION_RUN_R}, {"p", GPC_ACTION_RUN_P},
};

}  // namespace

void ReadItemWords(GpcItemFields* pFields, GpcTraceFn pfnTrace)
{
    if (!pFields) return;
    const char* lpszName = pFields->SourceName.IsNull() ? "" : pFields->SourceName.GetText();
    pFields->Update = KindOf(pFields->UpdateControl, s_aUpdateWords, GPC_UPDATE_ABSENT, GPC_UPDATE_OTHER,
                             "update control", lpszName, pfnTrace);
    pFields->Failure = KindOf(pFields->FailureControl, s_aFailureWords, GPC_FAILURE_ABSENT, GPC_FAILURE_OTHER,
                              "failure control", lpszName, pfnTrace);
    pFields->ActionKind =
        KindOf(pFields->Action, s_aActionWords, GPC_ACTION_NONE, GPC_ACTION_NONE, "action", lpszName, pfnTrace);
}

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
    ReadItemWords(pFields, pfnTrace);
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
