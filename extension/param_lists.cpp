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
