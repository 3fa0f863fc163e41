// Manifest items and item lists ("GpcDependency"). Input: one byte choosing
// a single item (even) or an item list (odd), then the text.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "install/item_text.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void CheckTrimmedField(const CGpcString& field)
{
    if (field.IsNull()) return;
    const char* p = field.GetText();
    size_t n = strlen(p);
    FUZZ_CHECK(static_cast<int>(n) == field.GetLength());
    FUZZ_CHECK(strchr(p, ';') == nullptr);
    if (n > 0) {
        FUZZ_CHECK(!IsBlank(p[0]));
        FUZZ_CHECK(!IsBlank(p[n - 1]));
    }
}

int CountFields(const std::string& text)
{
    int n = 1;
    for (char c : text)
        if (c == ';') ++n;
    return n;
}

void CheckItem(const std::string& text)
{
    std::string buffer = text;
    GpcItemFields fields;
    FuzzTraceReset();
    ParseItemFields(&buffer[0], &fields, &FuzzTrace);

    int nFields = CountFields(text);
    // One trace line per field the item knows, none for the ones it ignores,
    // and one per word (not empty) that names no known kind.
    auto unknown = [](const CGpcString& word, bool bKnown) {
        return !word.IsNull() && word.GetLength() > 0 && !bKnown ? 1 : 0;
    };
    int nUnknown = unknown(fields.UpdateControl, fields.Update != GPC_UPDATE_OTHER) +
                   unknown(fields.FailureControl, fields.Failure != GPC_FAILURE_OTHER) +
                   unknown(fields.Action, fields.ActionKind != GPC_ACTION_NONE);
    FUZZ_CHECK(FuzzTraceCount() == (nFields < 10 ? nFields : 10) + nUnknown);
    // An absent word is an absent kind, and only then.
    FUZZ_CHECK(fields.UpdateControl.IsNull() == (fields.Update == GPC_UPDATE_ABSENT));
    FUZZ_CHECK(fields.FailureControl.IsNull() == (fields.Failure == GPC_FAILURE_ABSENT));
    // Every text field that was present is stored, trimmed and without ";".
    const CGpcString* texts[] = {&fields.SourceName, &fields.Url, &fields.Target, &fields.Version,
                                 &fields.Action, &fields.UpdateControl, &fields.FailureControl};
    const int positions[] = {0, 1, 2, 3, 6, 7, 8};
    for (size_t i = 0; i < sizeof(positions) / sizeof(positions[0]); ++i) {
        FUZZ_CHECK(texts[i]->IsNull() == (positions[i] >= nFields));
        CheckTrimmedField(*texts[i]);
    }
    // The version is a comma list: no blanks, no empty elements, in 255 bytes.
    if (!fields.Version.IsNull()) {
        const char* v = fields.Version.GetText();
        size_t n = strlen(v);
        FUZZ_CHECK(n <= 255);
        FUZZ_CHECK(strpbrk(v, " \t\r\n") == nullptr);
        FUZZ_CHECK(strstr(v, ",,") == nullptr);
        if (n > 0) FUZZ_CHECK(v[0] != ',' && v[n - 1] != ',');
    }
    // Sizes are 32-bit numbers on the platform.
    FUZZ_CHECK(fields.FileSize <= 0xFFFFFFFFul);
    FUZZ_CHECK(fields.CompressedSize <= 0xFFFFFFFFul);
    if (nFields <= 4) FUZZ_CHECK(fields.FileSize == 0);
    if (nFields <= 9) FUZZ_CHECK(fields.OsVersion == 0);
}

void CheckList(const std::string& text)
{
    CGpcPtrArray pieces;
    FUZZ_CHECK(SplitItemList(text.c_str(), &pieces) == 1);
    int nBars = 0;
    for (char c : text)
        if (c == '|') ++nBars;
    FUZZ_CHECK(pieces.GetCount() <= nBars + 1);
    size_t nTotal = 0;
    for (int i = 0; i < pieces.GetCount(); ++i) {
        char* p = static_cast<char*>(pieces.GetAt(i));
        size_t n = strlen(p);
        nTotal += n;
        FUZZ_CHECK(n > 0);
        FUZZ_CHECK(strchr(p, '|') == nullptr);
        FUZZ_CHECK(!IsBlank(p[0]) && !IsBlank(p[n - 1]));
        // Every piece is text of the list, in order.
        FUZZ_CHECK(text.find(p) != std::string::npos);
        CheckItem(p);
        delete[] p;
    }
    FUZZ_CHECK(nTotal + static_cast<size_t>(nBars) <= text.size());
    pieces.Free();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    std::string text = FuzzText(pData + 1, nSize - 1);
    if (pData[0] & 1)
        CheckList(text);
    else
        CheckItem(text);
    return 0;
}
