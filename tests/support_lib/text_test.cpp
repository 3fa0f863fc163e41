#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "npvrgpc/npbase.h"
#include "support_lib_util.h"

namespace {

// A buffer of nSize usable bytes followed by guard bytes that no bounded
// routine may touch.
class GuardedBuffer {
public:
    explicit GuardedBuffer(int nSize, const char* initial = "") : m_nSize(nSize), m_Bytes(nSize + 16, '#')
    {
        if (nSize > 0) {
            int i = 0;
            for (; i < nSize - 1 && initial[i] != '\0'; ++i) m_Bytes[i] = initial[i];
            m_Bytes[i] = '\0';
        }
    }
    char* Data() { return m_Bytes.data(); }
    int Size() const { return m_nSize; }
    bool GuardIntact() const
    {
        for (size_t i = m_nSize; i < m_Bytes.size(); ++i)
            if (m_Bytes[i] != '#') return false;
        return true;
    }

private:
    int m_nSize;
    std::vector<char> m_Bytes;
};

struct TrimCase {
    const char* input;
    const char* expected;
};

TEST(TextRoutines, TrimWhitespaceRemovesBlanksTabsAndLineEndsAtBothEnds)
{
    const TrimCase cases[] = {
        {"  value  ", "value"},
        {"\t\r\nvalue\r\n", "value"},
        {"a b", "a b"},
        {" \t \r\n ", ""},
        {"", ""},
        {"\vx\v", "\vx\v"},  // only space, tab, CR and LF count
    };
    for (const TrimCase& c : cases) {
        std::string buffer = c.input;
        char* p = TrimWhitespace(&buffer[0]);
        EXPECT_STREQ(c.expected, p) << "[" << c.input << "]";
        EXPECT_GE(p, &buffer[0]);
        EXPECT_LE(p, &buffer[0] + buffer.size());
    }
}

TEST(TextRoutines, SwitchParameterIsOnOnlyForTrueInAnyLetterCase)
{
    const struct {
        const char* value;
        bool on;
    } cases[] = {
        {"True", true},
        {"TRUE", true},
        {"true", true},
        {"tRuE", true},
        {nullptr, false},
        {"", false},
        {"False", false},
        {"1", false},
        {"yes", false},
        {"Tru", false},     // a prefix is not enough
        {"Truex", false},   // nor is a longer word that starts with it
        {"True ", false},   // the page's text is taken as it is: no trimming
        {" True", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.on, GpcIsTrueParam(c.value)) << "[" << (c.value ? c.value : "(null)") << "]";
    }
}

TEST(TextRoutines, DecodeSpacesReplacesEveryPercent20InPlace)
{
    const TrimCase cases[] = {
        {"My%20Name", "My Name"},
        {"%20%20", "  "},
        {"a%2020", "a 20"},
        {"%%2020", "% 20"},
        {"%2", "%2"},
        {"%21", "%21"},
        {"", ""},
    };
    for (const TrimCase& c : cases) {
        std::string buffer = c.input;
        DecodeSpaces(&buffer[0]);
        EXPECT_STREQ(c.expected, buffer.c_str()) << c.input;
    }
    DecodeSpaces(nullptr);  // no crash
}

TEST(TextRoutines, NormalizeListJoinsTokensWithSingleCommas)
{
    const TrimCase cases[] = {
        {"2, 0 ,1  5", "2,0,1,5"},
        {"1.0.3", "1.0.3"},
        {",,1,,2,,", "1,2"},
        {" \t\r\n", ""},
        {"a\tb\r\nc", "a,b,c"},
        {"", ""},
    };
    for (const TrimCase& c : cases) {
        char achDest[256];
        memset(achDest, 'x', sizeof(achDest));
        NormalizeList(achDest, c.input);
        EXPECT_STREQ(c.expected, achDest) << c.input;
    }
}

TEST(TextRoutines, NormalizeListReadsOnlyTheFirst255CharactersAndStaysIn256Bytes)
{
    // 300 characters of one token, then a token that is beyond the limit.
    std::string src(300, '7');
    src += ",9";
    GuardedBuffer dest(256);
    NormalizeList(dest.Data(), src.c_str());
    EXPECT_EQ(std::string(255, '7'), dest.Data());
    EXPECT_TRUE(dest.GuardIntact());

    // Single-character tokens with single separators: the longest output.
    std::string many;
    for (int i = 0; i < 200; ++i) many += "1 ";
    GuardedBuffer dest2(256);
    NormalizeList(dest2.Data(), many.c_str());
    EXPECT_EQ(255u, strlen(dest2.Data()));
    EXPECT_TRUE(dest2.GuardIntact());
}

TEST(TextRoutines, NormalizeListWithNullArgumentsIsReportedAndSafe)
{
    DebugOutputCapture capture;
    char achDest[256] = "old";
    NormalizeList(achDest, nullptr);
    EXPECT_STREQ("", achDest);
    EXPECT_TRUE(ReportedAssert(capture, "lpszSrc"));
    NormalizeList(nullptr, "1,2");
    EXPECT_TRUE(ReportedAssert(capture, "lpszDest"));
    EXPECT_EQ(nullptr, TrimWhitespace(nullptr));
    EXPECT_TRUE(ReportedAssert(capture, "lpszString"));
}

TEST(BoundedText, CopyCutsOverLongTextAndAlwaysTerminates)
{
    struct CopyCase {
        int size;
        const char* src;
        const char* expected;
        int copied;
    };
    const CopyCase cases[] = {
        {8, "short", "short", 5},
        {6, "exact", "exact", 5},
        {5, "exact", "exac", 4},
        {1, "anything", "", 0},
        {260, "", "", 0},
    };
    for (const CopyCase& c : cases) {
        GuardedBuffer dest(c.size, "previous");
        EXPECT_EQ(c.copied, GpcCopyString(dest.Data(), dest.Size(), c.src)) << c.src << " in " << c.size;
        EXPECT_STREQ(c.expected, dest.Data());
        EXPECT_TRUE(dest.GuardIntact());
    }

    std::string huge(5000, 'p');
    GuardedBuffer path(GPC_MAX_PATH);
    EXPECT_EQ(259, GpcCopyString(path.Data(), path.Size(), huge.c_str()));
    EXPECT_EQ(std::string(259, 'p'), path.Data());
    EXPECT_TRUE(path.GuardIntact());

    GuardedBuffer fromNull(8, "old");
    EXPECT_EQ(0, GpcCopyString(fromNull.Data(), fromNull.Size(), nullptr));
    EXPECT_STREQ("", fromNull.Data());
    EXPECT_EQ(0, GpcCopyString(nullptr, 8, "x"));
    char ch = 'k';
    EXPECT_EQ(0, GpcCopyString(&ch, 0, "x"));  // a zero size writes nothing
    EXPECT_EQ('k', ch);
}

TEST(BoundedText, AppendAddsWhatFitsAndSaysWhenItCut)
{
    struct AppendCase {
        int size;
        const char* start;
        const char* src;
        const char* expected;
        int whole;
    };
    const AppendCase cases[] = {
        {16, "C:\\dir", "\\file", "C:\\dir\\file", 1},
        {12, "C:\\dir", "\\file", "C:\\dir\\file", 1},  // exactly fits
        {11, "C:\\dir", "\\file", "C:\\dir\\fil", 0},
        {7, "C:\\dir", "\\file", "C:\\dir", 0},
        {8, "abc", "", "abc", 1},
    };
    for (const AppendCase& c : cases) {
        GuardedBuffer dest(c.size, c.start);
        EXPECT_EQ(c.whole, GpcAppendString(dest.Data(), dest.Size(), c.src)) << c.start << c.src;
        EXPECT_STREQ(c.expected, dest.Data());
        EXPECT_TRUE(dest.GuardIntact());
    }

    // A buffer without a terminator inside its size is ended, not overrun.
    GuardedBuffer unterminated(4);
    memset(unterminated.Data(), 'z', 4);
    EXPECT_EQ(0, GpcAppendString(unterminated.Data(), 4, "more"));
    EXPECT_STREQ("zzz", unterminated.Data());
    EXPECT_TRUE(unterminated.GuardIntact());
}

TEST(BoundedText, FormatNeverWritesPastTheBufferAndReportsACut)
{
    GuardedBuffer fits(16);
    EXPECT_EQ(11, GpcFormat(fits.Data(), fits.Size(), "%s=%d", "Count", 12345));
    EXPECT_STREQ("Count=12345", fits.Data());

    GuardedBuffer exact(12);
    EXPECT_EQ(11, GpcFormat(exact.Data(), exact.Size(), "%s=%d", "Count", 12345));
    EXPECT_STREQ("Count=12345", exact.Data());
    EXPECT_TRUE(exact.GuardIntact());

    // One byte short: the system formatter leaves such output unterminated.
    GuardedBuffer oneShort(11);
    EXPECT_EQ(-1, GpcFormat(oneShort.Data(), oneShort.Size(), "%s=%d", "Count", 12345));
    EXPECT_STREQ("Count=1234", oneShort.Data());
    EXPECT_TRUE(oneShort.GuardIntact());

    std::string huge(3000, 'u');
    GuardedBuffer message(1024);
    EXPECT_EQ(-1, GpcFormat(message.Data(), message.Size(), "url: %s", huge.c_str()));
    EXPECT_EQ(1023u, strlen(message.Data()));
    EXPECT_TRUE(message.GuardIntact());

    GuardedBuffer version(256);
    EXPECT_EQ(13, GpcFormat(version.Data(), version.Size(), "%u,%u,%u,%u", 1u, 0u, 300u, 65535u));
    EXPECT_STREQ("1,0,300,65535", version.Data());

    EXPECT_EQ(-1, GpcFormat(nullptr, 10, "x"));
    char ch = 'k';
    EXPECT_EQ(-1, GpcFormat(&ch, 0, "x"));
    EXPECT_EQ('k', ch);
}

}  // namespace
