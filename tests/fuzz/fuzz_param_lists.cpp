// "GpcUrls" and "GpcActions". Input: one byte choosing the code page the
// lead-byte seam answers for (single-byte or 932), then the parameter text.
#include <cstring>
#include <string>

#include "extension/param_lists.h"
#include "fuzz_support.h"
#include "npvrgpc/text_seam.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void CheckUrls(const std::string& text)
{
    CGpcPtrArray list;
    SplitUrls(&list, text.c_str());
    // Independent reading: fields between bars, empty ones skipped, leading
    // blanks dropped.
    int nExpected = 0;
    size_t nPos = 0;
    while (nPos <= text.size()) {
        size_t nBar = text.find('|', nPos);
        if (nBar == std::string::npos) nBar = text.size();
        std::string field = text.substr(nPos, nBar - nPos);
        if (!field.empty()) {
            size_t nStart = 0;
            while (nStart < field.size() && IsBlank(field[nStart])) ++nStart;
            FUZZ_CHECK(nExpected < list.GetCount());
            const char* p = static_cast<const char*>(list.GetAt(nExpected));
            FUZZ_CHECK(field.compare(nStart, std::string::npos, p) == 0);
            ++nExpected;
        }
        nPos = nBar + 1;
    }
    FUZZ_CHECK(nExpected == list.GetCount());
    FreeStringList(&list);
    FUZZ_CHECK(list.GetCount() == 0);
    list.Free();
}

void CheckActions(const std::string& text)
{
    CGpcPtrArray list;
    SplitActions(&list, text.c_str());
    // Every byte is either in a field or a separating bar, and a bar inside
    // a field is the second byte of a double-byte character.
    size_t nBytes = 0;
    for (int i = 0; i < list.GetCount(); ++i) {
        const char* p = static_cast<const char*>(list.GetAt(i));
        size_t n = strlen(p);
        FUZZ_CHECK(n > 0);
        FUZZ_CHECK(p[0] != '|');
        for (size_t j = 0; j < n; ++j) {
            if (GpcIsLeadByte(static_cast<unsigned char>(p[j])) && j + 1 < n) {
                ++j;
                continue;
            }
            FUZZ_CHECK(p[j] != '|');
        }
        nBytes += n;
    }
    size_t nBars = 0;
    for (char c : text)
        if (c == '|') ++nBars;
    FUZZ_CHECK(nBytes <= text.size());
    FUZZ_CHECK(nBytes >= text.size() - nBars);
    FreeStringList(&list);
    list.Free();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    FuzzSetCodePage(FuzzCodePageFrom(pData[0]));
    std::string text = FuzzText(pData + 1, nSize - 1);
    CheckUrls(text);
    CheckActions(text);
    return 0;
}
