// The report request text and the WinINet flags, without the network.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "feedback/report.h"

namespace {

struct RequestCase {
    const char* base;
    const char* detail;  // null: none
    const char* expected;
};

std::string Build(const char* base, const char* meeting, const char* session, int code, const char* detail,
                  int size = 2048, bool* pFits = nullptr)
{
    std::vector<char> out(size > 0 ? size : 1, 'x');
    bool bFits = BuildReportRequest(base, meeting, session, code, detail, out.data(), size);
    if (pFits) *pFits = bFits;
    return std::string(out.data());
}

TEST(ReportRequest, JoinerFollowsTheFormOfTheBase)
{
    const RequestCase cases[] = {
        // A base that already holds a query gets "&".
        {"http://h/log.asp?a=1", "D", "http://h/log.asp?a=1&ConfID=M&SessionID=S&Module=1&ErrorCode=9&OptInfo1=D"},
        {"http://h/log.asp?a=1", nullptr, "http://h/log.asp?a=1&ConfID=M&SessionID=S&Module=1&ErrorCode=9"},
        // A bare "?" or a trailing "&" after a "?" needs no joiner.
        {"http://h/log.asp?", "D", "http://h/log.asp?ConfID=M&SessionID=S&Module=1&ErrorCode=9&OptInfo1=D"},
        {"http://h/log.asp?", nullptr, "http://h/log.asp?ConfID=M&SessionID=S&Module=1&ErrorCode=9"},
        {"http://h/log.asp?a=1&", "D", "http://h/log.asp?a=1&ConfID=M&SessionID=S&Module=1&ErrorCode=9&OptInfo1=D"},
        // No query at all: "?".
        {"http://h/log.asp", "D", "http://h/log.asp?ConfID=M&SessionID=S&Module=1&ErrorCode=9&OptInfo1=D"},
        {"http://h/log.asp", nullptr, "http://h/log.asp?ConfID=M&SessionID=S&Module=1&ErrorCode=9"},
        // An empty base has no "?" and does not end in "&".
        {"", nullptr, "?ConfID=M&SessionID=S&Module=1&ErrorCode=9"},
        // No "?" but a trailing "&": no usable address, the text stays empty.
        {"http://h/log.asp&", "D", ""},
        {"http://h/log.asp&", nullptr, ""},
    };
    for (const RequestCase& c : cases) {
        bool bFits = false;
        EXPECT_EQ(c.expected, Build(c.base, "M", "S", 9, c.detail, 2048, &bFits)) << "base " << c.base;
        EXPECT_TRUE(bFits) << "base " << c.base;
    }
}

// The server must read back exactly the texts meant: whatever would end a
// value, be decoded or not travel in an address is escaped; the rest of a
// value, and the base the page gave, are left as they are.
TEST(ReportRequest, ValuesAreEscapedWhereTheyWouldChangeTheQueryAndCodesAreSigned)
{
    EXPECT_EQ("http://h/l?ConfID=a%20b&SessionID=%2520&Module=1&ErrorCode=-7&OptInfo1=C:\\x%20y\\f.dll",
              Build("http://h/l", "a b", "%20", -7, "C:\\x y\\f.dll"));
    EXPECT_EQ("http://h/l?a=1&b&ConfID=M%26x=1&SessionID=S%23f&Module=1&ErrorCode=6"
              "&OptInfo1=files/x%26y=1%23z.dat%2B%09%7F%80%FC",
              Build("http://h/l?a=1&b", "M&x=1", "S#f", 6, "files/x&y=1#z.dat+\t\x7F\x80\xFC"));
    EXPECT_EQ("http://h/l?ConfID=M&SessionID=S&Module=1&ErrorCode=901", Build("http://h/l", "M", "S", 901, nullptr));
    EXPECT_EQ("http://h/l?ConfID=&SessionID=&Module=1&ErrorCode=-2147483648&OptInfo1=",
              Build("http://h/l", "", "", static_cast<int>(0x80000000u), ""));
}

TEST(ReportRequest, TextThatDoesNotFitIsRefusedNotCut)
{
    const std::string full = "http://h/l?ConfID=M&SessionID=S&Module=1&ErrorCode=9";
    bool bFits = false;
    EXPECT_EQ(full, Build("http://h/l", "M", "S", 9, nullptr, static_cast<int>(full.size()) + 1, &bFits));
    EXPECT_TRUE(bFits);
    EXPECT_EQ("", Build("http://h/l", "M", "S", 9, nullptr, static_cast<int>(full.size()), &bFits));
    EXPECT_FALSE(bFits);

    // Long page values are no danger to a buffer sized from them.
    std::string longBase = "http://h/" + std::string(5000, 'p');
    std::string out = Build(longBase.c_str(), "M", "S", 9, nullptr, static_cast<int>(longBase.size()) + 512);
    EXPECT_EQ(longBase + "?ConfID=M&SessionID=S&Module=1&ErrorCode=9", out);
}

TEST(ReportRequest, MissingInputsGiveNoText)
{
    bool bFits = true;
    EXPECT_EQ("", Build(nullptr, "M", "S", 1, nullptr, 256, &bFits));
    EXPECT_FALSE(bFits);
    EXPECT_EQ("", Build("http://h/", "M", nullptr, 1, nullptr, 256, &bFits));
    EXPECT_FALSE(bFits);
    EXPECT_FALSE(BuildReportRequest("http://h/", "M", "S", 1, nullptr, nullptr, 100));
    char ch = 'x';
    EXPECT_FALSE(BuildReportRequest("http://h/", "M", "S", 1, nullptr, &ch, 0));
    EXPECT_EQ('x', ch);
}

TEST(ReportRequestFlags, CertificatesCheckedAndSecureOnlyForLowerCaseHttpsAfterBlanks)
{
    // Never INTERNET_FLAG_IGNORE_CERT_DATE_INVALID or _CN_INVALID.
    const DWORD GPC_PLAIN = 0xA4000180;
    const DWORD GPC_SECURE = 0xA4800180;
    const struct {
        const char* url;
        DWORD flags;
    } cases[] = {
        {"http://h/l", GPC_PLAIN},
        {"https://h/l", GPC_SECURE},
        {"  \t https://h/l", GPC_SECURE},
        {"HTTPS://h/l", GPC_PLAIN},
        {"Https://h/l", GPC_PLAIN},
        {"\nhttps://h/l", GPC_PLAIN},  // only blanks and tabs are skipped
        {"httpsx", GPC_SECURE},
        {"http", GPC_PLAIN},
        {"", GPC_PLAIN},
    };
    for (const auto& c : cases) EXPECT_EQ(c.flags, GetReportRequestFlags(c.url)) << "url [" << c.url << "]";
    EXPECT_EQ(static_cast<DWORD>(INTERNET_FLAG_SECURE), GPC_SECURE ^ GPC_PLAIN);
}

}  // namespace
