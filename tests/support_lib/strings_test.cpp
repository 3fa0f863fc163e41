#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "npvrgpc/npbase.h"

namespace {

TEST(GpcString, NeverAssignedAndAssignedNullHoldNullButEmptyTextIsNotNull)
{
    CGpcString never;
    EXPECT_TRUE(never.IsNull());
    EXPECT_EQ(nullptr, never.GetText());
    EXPECT_EQ(0, never.GetLength());

    CGpcString empty;
    EXPECT_EQ(1, empty.Assign(""));
    EXPECT_FALSE(empty.IsNull());
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_STREQ("", empty.GetText());

    CGpcString reset;
    reset.Assign("value");
    EXPECT_EQ(1, reset.Assign(static_cast<const char*>(nullptr)));
    EXPECT_TRUE(reset.IsNull());
    EXPECT_EQ(0, reset.GetLength());
}

TEST(GpcString, AssignCopiesTheTextAndItsLength)
{
    char achSource[] = "Path Name";
    CGpcString s;
    ASSERT_EQ(1, s.Assign(achSource));
    achSource[0] = 'X';  // the string owns its own copy
    EXPECT_STREQ("Path Name", s.GetText());
    EXPECT_EQ(9, s.GetLength());
    EXPECT_NE(achSource, s.GetText());
}

TEST(GpcString, CopiesAreIndependentAndSelfAssignmentKeepsTheText)
{
    CGpcString a;
    a.Assign("first");
    CGpcString b(a);
    a.Assign("second");
    EXPECT_STREQ("first", b.GetText());

    CGpcString c;
    c = a;
    EXPECT_STREQ("second", c.GetText());
    EXPECT_NE(a.GetText(), c.GetText());

    // Assigning a string its own text (or itself) must not read freed memory.
    c.Assign(c.GetText());
    EXPECT_STREQ("second", c.GetText());
    CGpcString& alias = c;
    c = alias;
    EXPECT_STREQ("second", c.GetText());
    c.Assign(c);
    EXPECT_STREQ("second", c.GetText());

    CGpcString nullCopy((CGpcString()));
    EXPECT_TRUE(nullCopy.IsNull());
}

TEST(GpcString, LongTextsAreHeldWhole)
{
    std::string big(100000, 'x');
    CGpcString s;
    ASSERT_EQ(1, s.Assign(big.c_str()));
    EXPECT_EQ(100000, s.GetLength());
    EXPECT_EQ(big, s.GetText());
}

struct DecodedCase {
    const char* entry;
    const char* wanted;
    int equal;
};

TEST(GpcString, CompareNoCaseDecodedTreatsPercent20AsSpaceOnEitherSide)
{
    const DecodedCase cases[] = {
        {"My%20Name", "my name", 1},
        {"my name", "MY%20NAME", 1},
        {"My%20Name", "MY%20NAME", 1},
        {"GpcUrlRoot", "gpcurlroot", 1},
        {"GpcUrlRoot", "GpcUrlRoots", 0},
        {"GpcUrlRoots", "GpcUrlRoot", 0},
        {"a%20%20b", "a  b", 1},
        {"a%20b", "a%2b", 0},
        {"a%2", "a%2", 1},
        {"%20", " ", 1},
        {"a%2020", "a 20", 1},
        {"a%%2020", "a% 20", 1},
        {"name", "", 0},
        {"", "", 1},
        // Only ASCII letters fold: bytes above 127 compare as they are.
        {"\xC4", "\xE4", 0},
    };
    for (const DecodedCase& c : cases) {
        CGpcString s;
        s.Assign(c.entry);
        EXPECT_EQ(c.equal, s.CompareNoCaseDecoded(c.wanted) ? 1 : 0) << c.entry << " vs " << c.wanted;
    }
    CGpcString never;
    EXPECT_EQ(0, never.CompareNoCaseDecoded("x"));
    CGpcString s;
    s.Assign("x");
    EXPECT_EQ(0, s.CompareNoCaseDecoded(nullptr));
}

struct PrefixCase {
    const char* entry;
    const char* text;
    int n;
    int match;
};

TEST(GpcString, ComparePrefixNoCaseNeedsTheWholeEntryToBeExactlyTheFirstNCharacters)
{
    const PrefixCase cases[] = {
        {"file", "Fileabc", 4, 1},
        {"files", "Fileabc", 4, 0},
        {"fil", "Fileabc", 4, 0},
        {"FILEA", "fileabc", 5, 1},
        {"file", "fil", 4, 0},  // the text is shorter than n
        {"", "anything", 0, 1},
        {"a", "a", -1, 0},
        // The prefix is taken literally: "%20" is not decoded here.
        {"a b", "a%20b", 3, 0},
    };
    for (const PrefixCase& c : cases) {
        CGpcString s;
        s.Assign(c.entry);
        EXPECT_EQ(c.match, s.ComparePrefixNoCase(c.text, c.n) ? 1 : 0)
            << c.entry << " vs " << c.text << " n=" << c.n;
    }
}

}  // namespace
