#include "extension/param_lists.h"

#include <cstring>
#include <new>

#include "npvrgpc/text_seam.h"

namespace {

char* DuplicateText(const char* lpszText, size_t nLength)
{
    char* lpszCopy = new (std::nothrow) char[nLength + 1];
    if (!lpszCopy) return nullptr;
    memcpy(lpszCopy, lpszText, nLength);
    lpszCopy[nLength] = '\0';
    return lpszCopy;
}

// Appends a heap copy of a piece to a list that owns its strings; a piece
// that cannot be copied or stored is dropped.
void AppendCopy(CGpcPtrArray* pList, const char* lpszText, size_t nLength)
{
    char* lpszCopy = DuplicateText(lpszText, nLength);
    if (!lpszCopy) return;
    if (!pList->Add(lpszCopy)) delete[] lpszCopy;
}

bool IsUrlBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

void SplitUrls(CGpcPtrArray* pList, const char* lpszText)
{
    if (!pList || !lpszText) return;
    const char* p = lpszText;
    while (*p) {
        while (*p == '|') ++p;
        if (!*p) break;
        const char* lpszStart = p;
        while (*p && *p != '|') ++p;
        const char* lpszPiece = lpszStart;
        while (lpszPiece < p && IsUrlBlank(*lpszPiece)) ++lpszPiece;
        AppendCopy(pList, lpszPiece, static_cast<size_t>(p - lpszPiece));
    }
}

void SplitActions(CGpcPtrArray* pList, const char* lpszText)
{
    if (!pList || !lpszText) return;
    const char* p = lpszText;
    while (*p) {
        while (*p == '|') ++p;
        if (!*p) break;
        const char* lpszStart = p;
        while (*p && *p != '|') {
            if (GpcIsLeadByte(static_cast<unsigned char>(*p)) && p[1]) ++p;
            ++p;
        }
        AppendCopy(pList, lpszStart, static_cast<size_t>(p - lpszStart));
    }
}

void FreeStringList(CGpcPtrArray* pList)
{
    if (!pList) return;
    for (int i = 0; i < pList->GetCount(); ++i) delete[] static_cast<char*>(pList->GetAt(i));
    pList->RemoveAll();
}

int GpcIsContainedPathPart(const char* lpszText)
{
    if (!lpszText) return 1;
    if (lpszText[0] == '\\' || lpszText[0] == '/') return 0;
    // Each part between separators is looked at whole: "." and ".." climb,
    // any ":" names a drive or a stream.
    const char* pPart = lpszText;
    for (const char* p = lpszText;; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c != '\0' && GpcIsLeadByte(c) && p[1] != '\0') {
            ++p;
            continue;
        }
        if (c == ':') return 0;
        if (c == '\0' || c == '\\' || c == '/') {
            size_t nPart = static_cast<size_t>(p - pPart);
            if ((nPart == 1 && pPart[0] == '.') || (nPart == 2 && pPart[0] == '.' && pPart[1] == '.')) return 0;
            if (c == '\0') return 1;
            pPart = p + 1;
        }
    }
}

namespace {

bool EqualsNoCase(const char* lpszText, size_t nLength, const char* lpszWord)
{
    size_t nWord = strlen(lpszWord);
    if (nLength != nWord) return false;
    for (size_t i = 0; i < nLength; ++i) {
        char a = lpszText[i];
        char b = lpszWord[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}

// The system opens these names (with any extension, and with blanks before
// it) as devices, wherever they stand.
bool IsDeviceName(const char* lpszName)
{
    size_t nBase = strcspn(lpszName, ".");
    while (nBase > 0 && lpszName[nBase - 1] == ' ') --nBase;
    static const char* const s_apszDevices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$", "CONIN$", "CONOUT$"};
    for (const char* lpszDevice : s_apszDevices) {
        if (EqualsNoCase(lpszName, nBase, lpszDevice)) return true;
    }
    if (nBase == 4 && (EqualsNoCase(lpszName, 3, "COM") || EqualsNoCase(lpszName, 3, "LPT")) &&
        lpszName[3] >= '1' && lpszName[3] <= '9') {
        return true;
    }
    return false;
}

}  // namespace

int GpcIsPlainManifestName(const char* lpszText)
{
    if (!lpszText) return 0;
    size_t nLength = strlen(lpszText);
    if (nLength <= 4 || !EqualsNoCase(lpszText + nLength - 4, 4, ".INI")) return 0;
    for (const char* p = lpszText; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        // Judged byte by byte: a double-byte character whose second byte is
        // "\" is refused as well, a manifest name has no need of one.
        if (c < 0x20 || strchr("\\/:*?\"<>|", c)) return 0;
    }
    return IsDeviceName(lpszText) ? 0 : 1;
}
