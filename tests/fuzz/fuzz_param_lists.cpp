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

// The product parts and the manifest name, each against a reading of its
// own: a contained part has no "." or ".." part between separators, no
// leading separator and no ":"; a plain manifest name has no separator,
// drive or device and ends in ".ini".
void CheckNames(const std::string& text)
{
    const char* p = text.c_str();
    int bContained = GpcIsContainedPathPart(p);
    if (bContained) {
        FUZZ_CHECK(p[0] != '\\' && p[0] != '/');
        size_t nStart = 0;
        for (size_t j = 0;; ++j) {
            unsigned char c = static_cast<unsigned char>(p[j]);
            if (c != 0 && GpcIsLeadByte(c) && p[j + 1] != 0) {
                ++j;
                continue;
            }
            FUZZ_CHECK(c != ':');
            if (c == 0 || c == '\\' || c == '/') {
                std::string part(p + nStart, j - nStart);
                FUZZ_CHECK(part != "." && part != "..");
                if (c == 0) break;
                nStart = j + 1;
            }
        }
    }
    FUZZ_CHECK(GpcIsContainedPathPart(nullptr) == 1);
    if (GpcIsPlainManifestName(p)) {
        size_t n = strlen(p);
        FUZZ_CHECK(n > 4);
        for (size_t j = 0; j < n; ++j) FUZZ_CHECK(!strchr("\\/:", p[j]) && static_cast<unsigned char>(p[j]) >= 0x20);
        std::string base(p, strcspn(p, "."));
        while (!base.empty() && base.back() == ' ') base.pop_back();
        for (char& c : base) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        FUZZ_CHECK(base != "NUL" && base != "CON" && base != "PRN" && base != "AUX");
        FUZZ_CHECK(!(base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
                     base[3] >= '1' && base[3] <= '9'));
    }
    FUZZ_CHECK(GpcIsPlainManifestName(nullptr) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    FuzzSetCodePage(FuzzCodePageFrom(pData[0]));
    std::string text = FuzzText(pData + 1, nSize - 1);
    CheckUrls(text);
    CheckActions(text);
    CheckNames(text);
    return 0;
}
