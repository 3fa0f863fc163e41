// Names for the rows of a value-parameterized test. Each row keeps its
// readable `name` ("63-character name is used"); GoogleTest accepts only
// letters, digits and underscores after the slash, so the words run
// together in capitals ("63CharacterNameIsUsed"). A failure then names the
// row, and --gtest_filter can pick one. A row type also gives GoogleTest
//     friend void PrintTo(const Row& c, std::ostream* os) { *os << c.name; }
// so that a failure shows the row's words instead of its bytes.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

inline std::string CaseNameOf(const char* lpszText)
{
    std::string name;
    bool bWordStart = true;
    for (const char* p = lpszText; p && *p; ++p) {
        const unsigned char ch = static_cast<unsigned char>(*p);
        if (!std::isalnum(ch)) {
            bWordStart = true;
            continue;
        }
        name.push_back(bWordStart ? static_cast<char>(std::toupper(ch)) : static_cast<char>(ch));
        bWordStart = false;
    }
    return name.empty() ? "Unnamed" : name;
}

// The last argument of INSTANTIATE_TEST_SUITE_P for rows with a `name`.
struct CaseName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const
    {
        return CaseNameOf(info.param.name);
    }
};
