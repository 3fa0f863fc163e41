// Name/value lists (page parameters and script variables) against a plain
// model. Input: a sequence of operations, one per line: "S name=value",
// "G name", "P n name" (the first n characters of name), "R" (remove all).
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "npvrgpc/npbase.h"

namespace {

// Names compare ignoring ASCII case, with "%20" standing for a space.
std::string Folded(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, 3, "%20") == 0) {
            out += ' ';
            i += 3;
        } else {
            char c = s[i++];
            out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    return out;
}

std::string Lower(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

typedef std::vector<std::pair<std::string, std::string>> Model;

int FindInModel(const Model& model, const std::string& name)
{
    for (size_t i = 0; i < model.size(); ++i)
        if (Folded(model[i].first) == Folded(name)) return static_cast<int>(i);
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::string text = FuzzText(pData, nSize);
    CVRGpcNameValuePairs pairs;
    Model model;
    size_t nPos = 0;
    while (nPos < text.size()) {
        size_t nEnd = text.find('\n', nPos);
        if (nEnd == std::string::npos) nEnd = text.size();
        std::string line = text.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        if (line.size() < 1) continue;
        std::string arg = line.size() > 2 ? line.substr(2) : std::string();
        switch (line[0]) {
        case 'S': {
            size_t nEquals = arg.find('=');
            if (nEquals == std::string::npos) break;
            std::string name = arg.substr(0, nEquals), value = arg.substr(nEquals + 1);
            FUZZ_CHECK(pairs.SetValue(name.c_str(), value.c_str()) == 1);
            int i = FindInModel(model, name);
            if (i >= 0)
                model[static_cast<size_t>(i)].second = value;  // the first spelling stays
            else
                model.emplace_back(name, value);
            break;
        }
        case 'G': {
            const char* lpszValue = reinterpret_cast<const char*>(1);
            int bFound = pairs.GetValue(arg.c_str(), &lpszValue);
            int i = FindInModel(model, arg);
            FUZZ_CHECK(bFound == (i >= 0 ? 1 : 0));
            if (bFound)
                FUZZ_CHECK(lpszValue != nullptr && model[static_cast<size_t>(i)].second == lpszValue);
            else
                FUZZ_CHECK(lpszValue == nullptr);
            break;
        }
        case 'P': {
            char* pEnd = nullptr;
            long n = strtol(arg.c_str(), &pEnd, 10);
            if (pEnd == arg.c_str() || *pEnd != ' ' || n < -2 || n > 64) break;
            std::string name = pEnd + 1;
            const char* lpszValue = nullptr;
            int bFound = pairs.GetValue(name.c_str(), static_cast<int>(n), &lpszValue);
            // The first entry whose whole name is those n characters (case aside).
            int iExpected = -1;
            if (n >= 0 && static_cast<size_t>(n) <= name.size()) {
                std::string prefix = Lower(name.substr(0, static_cast<size_t>(n)));
                for (size_t i = 0; i < model.size() && iExpected < 0; ++i)
                    if (Lower(model[i].first) == prefix) iExpected = static_cast<int>(i);
            }
            FUZZ_CHECK(bFound == (iExpected >= 0 ? 1 : 0));
            if (bFound) FUZZ_CHECK(model[static_cast<size_t>(iExpected)].second == lpszValue);
            break;
        }
        case 'R':
            pairs.RemoveAll();
            model.clear();
            break;
        default:
            break;
        }
        FUZZ_CHECK(pairs.GetCount() == static_cast<int>(model.size()));
        for (int i = 0; i < pairs.GetCount(); ++i) {
            CVRGpcNameValuePair* pPair = pairs.GetAt(i);
            FUZZ_CHECK(model[static_cast<size_t>(i)].first == pPair->m_strName.GetText());
            FUZZ_CHECK(pPair->m_strName.GetLength() == static_cast<int>(strlen(pPair->m_strName.GetText())));
        }
    }
    return 0;
}
