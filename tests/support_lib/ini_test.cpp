#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "npvrgpc/npbase.h"
#include "support_lib_util.h"

namespace {

using namespace std::string_literals;

class IniReader : public ::testing::Test {
protected:
    IniReader() : m_Folder("ini") {}

    std::string Write(const std::string& text, const std::string& name = "gpcnt.ini")
    {
        std::string path = m_Folder / name;
        WriteFileBytes(path, text);
        return path;
    }

    ScopedTempFolder m_Folder;
};

const char GPC_MANIFEST[] =
    "[Settings]\r\n"
    "Count=3\r\n"
    "[Items]\r\n"
    "  Count   =   42  \r\n"
    "File1=\"a b\"\r\n"
    "File2 = ' quoted with blanks '\r\n"
    "File3=\"unmatched\r\n"
    "File4=\"\r\n"
    "File5=url=http://h/x?a=b\r\n"
    "File6=\r\n"
    ";File7=commented\r\n"
    "#File8=hashed\r\n"
    "no equals sign here\r\n"
    "FILE9=case\r\n"
    "File10=\"mixed'\r\n"
    "File11=''\r\n"
    "[Other]\r\n"
    "File12=other section\r\n"
    "[Items]\r\n"
    "File13=second items section\r\n";

struct LookupCase {
    const char* section;
    const char* key;
    int found;
    const char* value;
};

TEST_F(IniReader, FindsValuesByTheManifestRules)
{
    const LookupCase cases[] = {
        {"Items", "Count", 1, "42"},
        {"items", "count", 1, "42"},            // names ignore case
        {"  Items  ", "Count", 0, ""},          // the wanted name is not trimmed
        {"Settings", "Count", 1, "3"},
        {"Items", "File1", 1, "a b"},           // double quotes dropped
        {"Items", "File2", 1, "quoted with blanks"},  // single quotes, inside trimmed
        {"Items", "File3", 1, "\"unmatched"},   // an unmatched quote stays
        {"Items", "File4", 1, ""},              // one lone quote becomes empty
        {"Items", "File5", 1, "url=http://h/x?a=b"},  // the first "=" splits
        {"Items", "File6", 1, ""},
        {"Items", ";File7", 1, "commented"},    // no comment syntax
        {"Items", "#File8", 1, "hashed"},
        {"Items", "File9", 1, "case"},
        {"Items", "File10", 1, "\"mixed'"},
        {"Items", "File11", 1, ""},
        {"Items", "File12", 0, ""},             // belongs to [Other]
        {"Other", "File12", 1, "other section"},
        {"Items", "File13", 0, ""},             // only the first [Items] is searched
        {"Items", "no equals sign here", 0, ""},
        {"Missing", "Count", 0, ""},
    };
    std::string path = Write(GPC_MANIFEST);
    for (const LookupCase& c : cases) {
        FILE* pFile = fopen(path.c_str(), "r");
        ASSERT_NE(nullptr, pFile);
        char achOut[64] = "untouched";
        int nFound = IniFindValue(pFile, c.section, c.key, achOut, sizeof(achOut));
        fclose(pFile);
        EXPECT_EQ(c.found, nFound) << "[" << c.section << "] " << c.key;
        if (c.found) EXPECT_STREQ(c.value, achOut) << "[" << c.section << "] " << c.key;
        else EXPECT_STREQ("untouched", achOut) << "[" << c.section << "] " << c.key;
    }
}

TEST_F(IniReader, AnyLineWithBothBracketsIsASectionLine)
{
    const char text[] =
        "[Items]\r\n"
        "File1=first\r\n"
        "File2=value with [brackets] inside\r\n"
        "File3=never reached\r\n"
        "[ Spaced Name ]\r\n"
        "Key=spaced\r\n"
        "x ] y [Late] z\r\n"
        "Key=late\r\n"
        "]Backwards[\r\n"
        "Key=backwards\r\n";
    const LookupCase cases[] = {
        {"Items", "File1", 1, "first"},
        {"Items", "File2", 0, ""},  // the value's brackets end the section
        {"Items", "File3", 0, ""},
        {"Spaced Name", "Key", 1, "spaced"},
        // The name runs from the first "[" to the first "]" after it.
        {"Late", "Key", 1, "late"},
        {"Backwards", "Key", 0, ""},
    };
    std::string path = Write(text);
    for (const LookupCase& c : cases) {
        char achOut[64] = "untouched";
        int nLen = IniGetString(c.section, c.key, "dflt", achOut, sizeof(achOut), path.c_str());
        EXPECT_STREQ(c.found ? c.value : "dflt", achOut) << "[" << c.section << "] " << c.key;
        EXPECT_EQ(static_cast<int>(strlen(achOut)), nLen);
    }
}

TEST_F(IniReader, ReadsLongLinesInPiecesOf2047Characters)
{
    // The first piece of the line is "File1=" and 2,041 characters; the rest
    // of the line is read as a line of its own, so a key in it is found too.
    std::string longValue(3000, 'v');
    std::string text = "[Items]\r\nFile1=" + longValue.substr(0, 2041) + "Count=7\r\nFile2=after\r\n";
    std::string path = Write(text);

    char achOut[GPC_INI_LINE];
    ASSERT_EQ(static_cast<int>(2041), IniGetString("Items", "File1", "", achOut, sizeof(achOut), path.c_str()));
    EXPECT_EQ(longValue.substr(0, 2041), achOut);
    EXPECT_EQ(7, IniGetInt("Items", "Count", 0, path.c_str()));
    IniGetString("Items", "File2", "", achOut, sizeof(achOut), path.c_str());
    EXPECT_STREQ("after", achOut);

    // A value that fills the whole first piece.
    std::string full = "[Items]\r\nK=" + longValue + "\r\n";
    std::string fullPath = Write(full, "full.ini");
    ASSERT_EQ(2045, IniGetString("Items", "K", "", achOut, sizeof(achOut), fullPath.c_str()));
}

TEST_F(IniReader, ValuesAreCutToTheCallersBuffer)
{
    std::string path = Write("[Items]\nFile1=0123456789\n");
    char achOut[8 + 4];
    memset(achOut, '#', sizeof(achOut));
    EXPECT_EQ(7, IniGetString("Items", "File1", "", achOut, 8, path.c_str()));
    EXPECT_STREQ("0123456", achOut);
    EXPECT_EQ('#', achOut[8]);

    // A long default is cut the same way.
    memset(achOut, '#', sizeof(achOut));
    EXPECT_EQ(7, IniGetString("Items", "Missing", "default-too-long", achOut, 8, path.c_str()));
    EXPECT_STREQ("default", achOut);
    EXPECT_EQ('#', achOut[8]);

    char ch = 'k';
    EXPECT_EQ(0, IniGetString("Items", "File1", "", &ch, 0, path.c_str()));
    EXPECT_EQ('k', ch);
}

TEST_F(IniReader, GetStringFallsBackToTheDefault)
{
    std::string path = Write("[Items]\nFile1=x\n");
    char achOut[32];
    EXPECT_EQ(4, IniGetString("Items", "Nope", "dflt", achOut, sizeof(achOut), path.c_str()));
    EXPECT_STREQ("dflt", achOut);
    EXPECT_EQ(4, IniGetString("Items", "File1", "dflt", achOut, sizeof(achOut), (m_Folder / "absent.ini").c_str()));
    EXPECT_STREQ("dflt", achOut);
    EXPECT_EQ(0, IniGetString("Items", "Nope", nullptr, achOut, sizeof(achOut), path.c_str()));
    EXPECT_STREQ("", achOut);
    EXPECT_EQ(0, IniGetString("Items", "File1", "", achOut, sizeof(achOut), nullptr));
}

struct IntCase {
    const char* value;
    int expected;
};

TEST_F(IniReader, GetIntReadsALeadingDecimalNumberElseTheDefault)
{
    const IntCase cases[] = {
        {"42", 42},
        {"  42  ", 42},
        {"-7", -7},
        {"+5", 5},
        {"12abc", 12},
        {"007", 7},
        {"0x1F", 0},
        {"abc", -99},           // not a number: the default
        {"", -99},
        {"-", -99},
        {"\"15\"", 15},         // quotes are dropped before reading
        {"99999999999", 2147483647},  // out of range saturates
        {"-99999999999", -2147483647 - 1},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (const IntCase& c : cases) {
        std::string path = Write(std::string("[Items]\r\nCount=") + c.value + "\r\n");
        EXPECT_EQ(c.expected, IniGetInt("Items", "Count", -99, path.c_str())) << c.value;
    }
}

TEST_F(IniReader, GetIntGivesTheDefaultForAMissingFileSectionOrKey)
{
    std::string path = Write("[Items]\nCount=3\n");
    EXPECT_EQ(5, IniGetInt("Items", "Count", 5, (m_Folder / "absent.ini").c_str()));
    EXPECT_EQ(5, IniGetInt("Other", "Count", 5, path.c_str()));
    EXPECT_EQ(5, IniGetInt("Items", "Total", 5, path.c_str()));
    EXPECT_EQ(5, IniGetInt("Items", "Count", 5, ""));
    EXPECT_EQ(5, IniGetInt("Items", "Count", 5, nullptr));
    EXPECT_EQ(3, IniGetInt("Items", "Count", 5, path.c_str()));
}

TEST_F(IniReader, EachCallRereadsTheFile)
{
    std::string path = Write("[Items]\nCount=1\n");
    EXPECT_EQ(1, IniGetInt("Items", "Count", 0, path.c_str()));
    Write("[Items]\nCount=2\n");
    EXPECT_EQ(2, IniGetInt("Items", "Count", 0, path.c_str()));
}

TEST_F(IniReader, FindValueStopsAtTheEndOfTheStreamAndOnNullArguments)
{
    std::string path = Write("[Items]\nA=1\n");
    FILE* pFile = fopen(path.c_str(), "r");
    ASSERT_NE(nullptr, pFile);
    char achOut[16];
    EXPECT_EQ(1, IniFindValue(pFile, "Items", "A", achOut, sizeof(achOut)));
    // The stream is where the first lookup left it: the section is behind it.
    EXPECT_EQ(0, IniFindValue(pFile, "Items", "A", achOut, sizeof(achOut)));
    EXPECT_EQ(0, IniFindValue(pFile, "Items", "A", achOut, sizeof(achOut)));  // at the end now
    EXPECT_EQ(0, IniFindValue(nullptr, "Items", "A", achOut, sizeof(achOut)));
    rewind(pFile);
    EXPECT_EQ(0, IniFindValue(pFile, nullptr, "A", achOut, sizeof(achOut)));
    rewind(pFile);
    EXPECT_EQ(0, IniFindValue(pFile, "Items", nullptr, achOut, sizeof(achOut)));
    fclose(pFile);
}

TEST_F(IniReader, FilesWithoutLineEndsOrWithOnlyLineFeedsRead)
{
    const struct {
        const char* text;
        const char* value;
    } cases[] = {
        {"[Items]\nFile1=lf\n", "lf"},
        {"[Items]\r\nFile1=crlf\r\n", "crlf"},
        {"[Items]\rFile1=cr only\r", ""},  // one line: "[Items]" and "File1" are not split
        {"[Items]\nFile1=last line", "last line"},
    };
    for (const auto& c : cases) {
        std::string path = Write(c.text);
        char achOut[32];
        IniGetString("Items", "File1", "", achOut, sizeof(achOut), path.c_str());
        EXPECT_STREQ(c.value, achOut) << testing::PrintToString(std::string(c.text));
    }
}

// The copy held in memory answers every lookup as the file read afresh
// does, on the texts where the rules are easy to get wrong.
TEST_F(IniReader, HeldCopyAnswersAsTheFileDoes)
{
    const std::string longValue(3000, 'v');
    const struct {
        const char* name;
        std::string text;
    } texts[] = {
        {"quotes, cases and a second section of a name", GPC_MANIFEST},
        {"bracket lines",
         "[Items]\r\nFile1=first\r\nFile2=value with [brackets] inside\r\nFile3=never reached\r\n"
         "[ Spaced Name ]\r\nKey=spaced\r\nx ] y [Late] z\r\nKey=late\r\n]Backwards[\r\nKey=backwards\r\n"},
        {"a backwards bracket line ends the section", "[Items]\nFile1=a\n]x[\nFile2=b\n[Other]\nKey=c\n"},
        {"a line in pieces", "[Items]\r\nFile1=" + longValue.substr(0, 2041) + "Count=7\r\nFile2=after\r\n"},
        {"a value filling a piece", "[Items]\r\nK=" + longValue + "\r\nFile1=next\r\n"},
        {"a piece boundary on the line end", "[Items]\nFile1=" + std::string(2040, 'w') + "\nFile2=x\n"},
        {"the first of two keys", "[Items]\nCount=1\ncount=2\nFile1=one\nFILE1=two\n"},
        {"a character 0 in a line", "[Items]\nFile1=ab\0cd\nFile2=x\0=y\n[Ot\0her]\nKey=z\n"s},
        {"an end-of-file mark", "[Items]\r\nFile1=a\r\n\x1a\r\nFile2=after the mark\r\n"},
        {"carriage returns alone", "[Items]\rFile1=cr only\r"},
        {"no line end at the end", "[Items]\nFile1=last line"},
        {"blanks around names", "[  Items  ]\n  File1  =  \" x \"  \n\tCount\t=\t12abc\n"},
        {"empty", ""},
    };
    const char* const sections[] = {"Items", "items", "  Items  ", "Settings", "Other", "Ot", "Spaced Name",
                                    "Late", "Backwards", "Missing", ""};
    const char* const keys[] = {"Count", "count", "File1", "File2", "File3", "File4", "File5", "File6",
                                "File9", "File10", "File12", "File13", "K", "Key", ";File7",
                                "no equals sign here", ""};
    const int sizes[] = {1, 8, 256, GPC_INI_LINE};
    for (const auto& t : texts) {
        SCOPED_TRACE(t.name);
        std::string path = Write(t.text);
        CGpcIniText held(path.c_str());
        EXPECT_TRUE(held.IsHeld());
        for (const char* section : sections) {
            for (const char* key : keys) {
                for (int nSize : sizes) {
                    std::string fromFile(GPC_INI_LINE + 8, '#');
                    std::string fromHeld(GPC_INI_LINE + 8, '#');
                    int nFile = IniGetString(section, key, "dflt", &fromFile[0], nSize, path.c_str());
                    int nHeld = held.GetString(section, key, "dflt", &fromHeld[0], nSize);
                    EXPECT_EQ(nFile, nHeld) << "[" << section << "] " << key << " in " << nSize;
                    EXPECT_EQ(fromFile, fromHeld) << "[" << section << "] " << key << " in " << nSize;
                }
                EXPECT_EQ(IniGetInt(section, key, -99, path.c_str()), held.GetInt(section, key, -99))
                    << "[" << section << "] " << key;
            }
        }
    }
}

// A few answers of the held copy pinned on their own, so that both readers
// cannot drift together.
TEST_F(IniReader, HeldCopyKeepsTheManifestRules)
{
    std::string path = Write("[Items]\r\nCount=2\r\ncount=9\r\nFile1=\"a b\"\r\nFile2=x\0y\r\n"
                             "x ] y [Late] z\r\nKey=late\r\n[Items]\r\nFile3=second\r\n\x1a\r\n"
                             "[Tail]\r\nKey=after the mark\r\n"s);
    CGpcIniText held(path.c_str());
    char achOut[64];
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } cases[] = {
        {"items", "COUNT", "2"},     // names ignore case, the first key wins
        {"Items", "File1", "a b"},   // quotes dropped
        {"Items", "File2", "x"},     // a character 0 ends the line's text
        {"Late", "Key", "late"},     // any line with both brackets is a section line
        {"Items", "File3", "dflt"},  // only the first section of a name
        {"Tail", "Key", "dflt"},     // text mode: the end-of-file mark ends the text
    };
    for (const auto& c : cases) {
        held.GetString(c.section, c.key, "dflt", achOut, sizeof(achOut));
        EXPECT_STREQ(c.value, achOut) << "[" << c.section << "] " << c.key;
    }
    EXPECT_EQ(2, held.GetInt("Items", "Count", 0));
}

// The copy is taken once: a manifest that arrives later is seen by a new
// copy (the next pass), and a file too large to hold is read key by key.
TEST_F(IniReader, HeldCopyIsTakenOnceAndOnlyUpToItsLimit)
{
    std::string path = Write("[Items]\nCount=1\n");
    CGpcIniText first(path.c_str());
    EXPECT_EQ(1, first.GetInt("Items", "Count", 0));
    Write("[Items]\nCount=2\n");
    EXPECT_EQ(2, CGpcIniText(path.c_str()).GetInt("Items", "Count", 0));

    CGpcIniText absent((m_Folder / "absent.ini").c_str());
    EXPECT_FALSE(absent.IsHeld());
    EXPECT_EQ(5, absent.GetInt("Items", "Count", 5));
    EXPECT_EQ(5, CGpcIniText(nullptr).GetInt("Items", "Count", 5));

    std::string filler(GPC_INI_MAX_TEXT, ';');
    for (size_t i = 79; i < filler.size(); i += 80) filler[i] = '\n';
    for (const size_t nSize : {static_cast<size_t>(GPC_INI_MAX_TEXT) - 40, static_cast<size_t>(GPC_INI_MAX_TEXT)}) {
        std::string big = "[Items]\n" + filler.substr(0, nSize - 24) + "\nCount=3\n[Other]\nA=b\n";
        std::string bigPath = Write(big, "big.ini");
        CGpcIniText held(bigPath.c_str());
        EXPECT_EQ(big.size() <= static_cast<size_t>(GPC_INI_MAX_TEXT), held.IsHeld()) << big.size();
        EXPECT_EQ(3, held.GetInt("Items", "Count", 0)) << big.size();
        char achOut[8];
        held.GetString("Other", "A", "", achOut, sizeof(achOut));
        EXPECT_STREQ("b", achOut);
    }
}

}  // namespace
