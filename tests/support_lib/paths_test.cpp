#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "npvrgpc/npbase.h"
#include "support_lib_util.h"

namespace {

struct SeparatorCase {
    const char* path;
    int ends;
};

TEST(PathRoutines, EndsWithSeparatorLooksAtTheLastCharacter)
{
    const SeparatorCase cases[] = {
        {"C:\\", 1},
        {"C:\\dir\\", 1},
        {"C:\\dir", 0},
        {"C:/dir/", 0},  // only "\" separates
        {"\\", 1},
        {"", 0},
    };
    for (const SeparatorCase& c : cases) EXPECT_EQ(c.ends, EndsWithSeparator(c.path) ? 1 : 0) << c.path;
    EXPECT_EQ(0, EndsWithSeparator(nullptr));
}

struct LastSeparatorCase {
    const char* path;
    const char* separators;
    int offset;  // -1: none
};

TEST(PathRoutines, FindLastSeparatorFindsTheLastOfTheGivenSeparators)
{
    const LastSeparatorCase cases[] = {
        {"C:\\dir\\a.dll", "\\", 6},
        {"C:\\dir/a.dll", "\\", 2},     // "/" is not asked for
        {"C:\\dir/a.dll", "\\/", 6},
        {"http://h/a:b", "\\/:", 10},
        {"a.dll", "\\/:", -1},
        {"", "\\", -1},
        {"dir\\", "\\", 3},
    };
    for (const LastSeparatorCase& c : cases) {
        const char* p = GpcFindLastSeparator(c.path, c.separators);
        EXPECT_EQ(c.offset, p ? static_cast<int>(p - c.path) : -1) << c.path << " / " << c.separators;
    }
    EXPECT_EQ(nullptr, GpcFindLastSeparator(static_cast<const char*>(nullptr), "\\"));
    EXPECT_EQ(nullptr, GpcFindLastSeparator("a\\b", nullptr));
}

struct AppendCase {
    const char* path;
    const char* component;
    int size;
    int result;
    const char* expected;
};

TEST(PathRoutines, AppendPathComponentAddsOneSeparatorAndRefusesWhatDoesNotFit)
{
    const AppendCase cases[] = {
        {"C:\\dir", "file.dll", 260, 1, "C:\\dir\\file.dll"},
        {"C:\\dir\\", "file.dll", 260, 1, "C:\\dir\\file.dll"},
        {"C:\\dir", "file.dll", 16, 1, "C:\\dir\\file.dll"},  // 15 characters fit in 16
        {"C:\\dir", "file.dll", 15, 0, "C:\\dir"},
        {"C:\\dir\\", "file.dll", 16, 1, "C:\\dir\\file.dll"},
        {"C:\\dir\\", "file.dll", 15, 0, "C:\\dir\\"},
    };
    for (const AppendCase& c : cases) {
        char achPath[300];
        memset(achPath, '#', sizeof(achPath));
        strcpy(achPath, c.path);
        EXPECT_EQ(c.result, AppendPathComponent(achPath, c.size, c.component)) << c.path << " + " << c.component;
        EXPECT_STREQ(c.expected, achPath);
        EXPECT_EQ('#', achPath[c.size]);
    }
}

TEST(PathRoutines, AppendPathComponentKeepsLongPathsWithin260Bytes)
{
    std::string dir = "C:\\" + std::string(250, 'd');
    char achPath[GPC_MAX_PATH + 8];
    memset(achPath, '#', sizeof(achPath));
    strcpy(achPath, dir.c_str());
    EXPECT_EQ(0, AppendPathComponent(achPath, GPC_MAX_PATH, "component.dll"));
    EXPECT_EQ(dir, achPath);
    EXPECT_EQ(1, AppendPathComponent(achPath, GPC_MAX_PATH, "f"));
    EXPECT_EQ(dir + "\\f", achPath);
    EXPECT_EQ('#', achPath[GPC_MAX_PATH]);

    // A buffer that holds no terminator within its size is refused as it is.
    char achFull[8];
    memset(achFull, 'a', sizeof(achFull));
    EXPECT_EQ(0, AppendPathComponent(achFull, sizeof(achFull), "x"));
    EXPECT_EQ(0, memcmp(achFull, "aaaaaaaa", 8));
}

// The double-byte cases need code page 932, where 0x81-0x9F and 0xE0-0xFC
// lead a two-byte character whose trail byte may be 0x5C ("\").
class PathRoutinesCp932 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!IsCodePage932()) GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 932";
    }
};

TEST_F(PathRoutinesCp932, ATrailByteBackslashIsNotASeparator)
{
    const SeparatorCase cases[] = {
        {"C:\\\x95\x5C", 0},          // the last character is one double-byte character
        {"C:\\\x95\x5C\\", 1},        // a real separator after it
        // 0x81 0x81 is one character; the "\" after it is a separator even
        // though the byte before it has a lead-byte value.
        {"C:\\\x81\x81\\", 1},
        // 0x81 0x81 then 0x81 0x5C: the last "\" is a trail byte.
        {"C:\\\x81\x81\x81\x5C", 0},
        {"\x83\x5C", 0},
        {"a\x83\x5C\x83\x5C", 0},
        {"\x83", 0},                  // a lone lead byte at the end is just a byte
    };
    for (const SeparatorCase& c : cases) {
        EXPECT_EQ(c.ends, EndsWithSeparator(c.path) ? 1 : 0) << testing::PrintToString(std::string(c.path));
    }
}

TEST_F(PathRoutinesCp932, FindLastSeparatorSkipsTrailByteBackslashes)
{
    const LastSeparatorCase cases[] = {
        {"C:\\\x95\x5C", "\\", 2},           // the last "\\" is a trail byte
        {"C:\\\x95\x5C\\a.dll", "\\", 5},
        {"C:\\\x81\x81\x81\x5C", "\\/", 2},
        {"\x83\x5C", "\\", -1},
        {"a\\\x83", "\\", 1},               // a lone lead byte at the end is just a byte
    };
    for (const LastSeparatorCase& c : cases) {
        const char* p = GpcFindLastSeparator(c.path, c.separators);
        EXPECT_EQ(c.offset, p ? static_cast<int>(p - c.path) : -1) << testing::PrintToString(std::string(c.path));
    }
}

TEST_F(PathRoutinesCp932, AppendAfterATrailByteBackslashAddsASeparator)
{
    char achPath[GPC_MAX_PATH] = "C:\\\x95\x5C";
    ASSERT_EQ(1, AppendPathComponent(achPath, sizeof(achPath), "a.dll"));
    EXPECT_STREQ("C:\\\x95\x5C\\a.dll", achPath);

    char achDir[GPC_MAX_PATH] = "C:\\\x81\x81\\";
    ASSERT_EQ(1, AppendPathComponent(achDir, sizeof(achDir), "a.dll"));
    EXPECT_STREQ("C:\\\x81\x81\\a.dll", achDir);
}

}  // namespace
