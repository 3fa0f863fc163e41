#include <gtest/gtest.h>

#include <string>

#include "npvrgpc/npbase.h"
#include "support_lib_util.h"

namespace {

TEST(NameValuePairs, SettingAnEncodedAndThenABlankSpellingReplacesTheOneEntry)
{
    CVRGpcNameValuePairs pairs;
    ASSERT_EQ(1, pairs.SetValue("Path%20Name", "a"));
    ASSERT_EQ(1, pairs.SetValue("path name", "b"));
    ASSERT_EQ(1, pairs.GetCount());
    EXPECT_STREQ("Path%20Name", pairs.GetAt(0)->m_strName.GetText());
    EXPECT_STREQ("b", pairs.GetAt(0)->m_strValue.GetText());

    const char* lpszValue = nullptr;
    EXPECT_EQ(1, pairs.GetValue("PATH%20NAME", &lpszValue));
    EXPECT_STREQ("b", lpszValue);
}

TEST(NameValuePairs, EntriesKeepInsertionOrderAndLookupsIgnoreCase)
{
    CVRGpcNameValuePairs pairs;
    pairs.SetValue("GpcUrlRoot", "http://x/");
    pairs.SetValue("GpcActions", "");
    pairs.SetValue("Title", "Meeting");
    pairs.SetValue("GPCURLROOT", "http://y/");
    ASSERT_EQ(3, pairs.GetCount());
    EXPECT_STREQ("GpcUrlRoot", pairs.GetAt(0)->m_strName.GetText());
    EXPECT_STREQ("http://y/", pairs.GetAt(0)->m_strValue.GetText());
    EXPECT_STREQ("GpcActions", pairs.GetAt(1)->m_strName.GetText());
    EXPECT_STREQ("Title", pairs.GetAt(2)->m_strName.GetText());

    const char* lpszValue = "untouched";
    EXPECT_EQ(1, pairs.GetValue("gpcactions", &lpszValue));
    EXPECT_STREQ("", lpszValue);  // an empty value is a value
    EXPECT_EQ(pairs.GetAt(2), pairs.FindPair("TITLE"));
    EXPECT_EQ(nullptr, pairs.FindPair("Titles"));
}

TEST(NameValuePairs, MissingNameGivesZeroAndANullValue)
{
    CVRGpcNameValuePairs pairs;
    const char* lpszValue = "untouched";
    EXPECT_EQ(0, pairs.GetValue("anything", &lpszValue));
    EXPECT_EQ(nullptr, lpszValue);

    pairs.SetValue("one", "1");
    lpszValue = "untouched";
    EXPECT_EQ(0, pairs.GetValue("two", &lpszValue));
    EXPECT_EQ(nullptr, lpszValue);
    lpszValue = "untouched";
    EXPECT_EQ(0, pairs.GetValue("onex", 4, &lpszValue));
    EXPECT_EQ(nullptr, lpszValue);
}

TEST(NameValuePairs, PrefixLookupMatchesTheEntryThatIsExactlyTheFirstNCharacters)
{
    CVRGpcNameValuePairs pairs;
    pairs.SetValue("files", "plural");
    pairs.SetValue("FILE", "singular");
    pairs.SetValue("fil", "short");

    const char* lpszValue = nullptr;
    EXPECT_EQ(1, pairs.GetValue("Fileabc", 4, &lpszValue));
    EXPECT_STREQ("singular", lpszValue);
    EXPECT_EQ(1, pairs.GetValue("filesabc", 5, &lpszValue));
    EXPECT_STREQ("plural", lpszValue);
    EXPECT_EQ(1, pairs.GetValue("fil", 3, &lpszValue));
    EXPECT_STREQ("short", lpszValue);
}

TEST(NameValuePairs, NullArgumentsAreReportedAndChangeNothing)
{
    DebugOutputCapture capture;
    CVRGpcNameValuePairs pairs;
    pairs.SetValue("name", "value");

    EXPECT_EQ(0, pairs.SetValue(nullptr, "x"));
    EXPECT_TRUE(ReportedAssert(capture, "lpszName"));
    EXPECT_EQ(0, pairs.SetValue("name", nullptr));
    EXPECT_TRUE(ReportedAssert(capture, "lpszValue"));
    EXPECT_EQ(1, pairs.GetCount());
    EXPECT_STREQ("value", pairs.GetAt(0)->m_strValue.GetText());

    const char* lpszValue = "untouched";
    EXPECT_EQ(0, pairs.GetValue(nullptr, &lpszValue));
    EXPECT_STREQ("untouched", lpszValue);  // the out-pointer is left alone
    EXPECT_EQ(0, pairs.GetValue(nullptr, 4, &lpszValue));
    EXPECT_STREQ("untouched", lpszValue);
    EXPECT_EQ(0, pairs.GetValue("name", nullptr));
    EXPECT_TRUE(ReportedAssert(capture, "ppValue"));
    EXPECT_EQ(nullptr, pairs.FindPair(nullptr));
}

TEST(NameValuePairs, RemoveAllEmptiesTheListAndItCanBeFilledAgain)
{
    CVRGpcNameValuePairs pairs;
    for (int i = 0; i < 40; ++i) {
        std::string name = "name" + std::to_string(i);
        ASSERT_EQ(1, pairs.SetValue(name.c_str(), "v"));
    }
    EXPECT_EQ(40, pairs.GetCount());
    pairs.RemoveAll();
    EXPECT_EQ(0, pairs.GetCount());
    EXPECT_EQ(nullptr, pairs.FindPair("name1"));
    pairs.SetValue("again", "1");
    EXPECT_EQ(1, pairs.GetCount());
}

}  // namespace
