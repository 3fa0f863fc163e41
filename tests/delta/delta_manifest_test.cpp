// The manifest's delta section: what a publisher's tool writes is read
// back entry for entry and found by Url and base; anything else refuses
// the whole section, so that no delta is used on a doubtful line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/delta_manifest.h"
#include "support/case_names.h"

namespace {

const unsigned char* BytesOf(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string Hex(char c)
{
    return std::string(64, c);
}

std::string Line(const std::string& url, char cBase, char cDelta, const std::string& size, const std::string& deltaUrl)
{
    return url + "=" + Hex(cBase) + "," + Hex(cDelta) + "," + size + "," + deltaUrl + "\r\n";
}

void HashOf(char c, unsigned char* pHash)
{
    ASSERT_TRUE(GpcDecodeSha256Hex(Hex(c).c_str(), 64, pHash));
}

const std::string GPC_MANIFEST =
    "[Corvo]\r\nCount=1\r\nFile1=bin/viewer.dll;viewer.dll;;;;;v\r\n"
    "[GpcManifestHashes]\r\nbin/viewer.dll=" + Hex('f') + "\r\n"
    "[ gpcmanifestdeltas ]\r\n" +
    Line("bin/viewer.dll", '0', 'a', "1234", "deltas/viewer.dll.0.vcdiff") +
    "\r\n" +
    Line("  Bin/Viewer.DLL ", '1', 'B', "99", "deltas/viewer.dll.1.vcdiff ") +
    Line("get.php?f=x.dll", '2', 'c', "67108864", "get.php?d=x,1&b=2") +
    "[Other]\r\nbin/viewer.dll=" + Hex('3') + "," + Hex('d') + ",5,not/read\r\n"
    "[GpcManifestSignature]\r\nSignature=AAAA\r\n";

TEST(DeltaSection, EveryDeltaIsFoundByItsUrlAndBase)
{
    CVRGpcManifestDeltas deltas;
    ASSERT_EQ(GPC_DELTAS_OK, deltas.Parse(BytesOf(GPC_MANIFEST), GPC_MANIFEST.size()));
    EXPECT_EQ(3, deltas.GetCount());
    EXPECT_EQ(2, deltas.CountFor("BIN/viewer.dll"));
    EXPECT_EQ(1, deltas.CountFor("get.php?f=x.dll"));
    EXPECT_EQ(0, deltas.CountFor("get.php?f"));

    unsigned char abBase[GPC_SHA256_SIZE], abDelta[GPC_SHA256_SIZE];
    GpcDeltaEntry found;
    HashOf('1', abBase);
    HashOf('b', abDelta);
    ASSERT_EQ(1, deltas.FindDelta("bin/viewer.dll", abBase, &found));
    EXPECT_STREQ("Bin/Viewer.DLL", found.Url.GetText());
    EXPECT_STREQ("deltas/viewer.dll.1.vcdiff", found.DeltaUrl.GetText());
    EXPECT_EQ(0, memcmp(abDelta, found.abDeltaHash, sizeof(abDelta)));
    EXPECT_EQ(99ul, found.dwDeltaSize);

    // A Url with "=" splits where a whole value follows; the delta URL keeps
    // its own "=" and ",".
    HashOf('2', abBase);
    ASSERT_EQ(1, deltas.FindDelta("GET.PHP?F=X.DLL", abBase, &found));
    EXPECT_STREQ("get.php?d=x,1&b=2", found.DeltaUrl.GetText());
    EXPECT_EQ(static_cast<unsigned long>(GPC_MAX_DELTA_SIZE), found.dwDeltaSize);

    // An installed file no delta starts from, and the other section's line.
    HashOf('3', abBase);
    EXPECT_EQ(0, deltas.FindDelta("bin/viewer.dll", abBase, &found));
    HashOf('0', abBase);
    EXPECT_EQ(0, deltas.FindDelta("bin/other.dll", abBase, &found));
    EXPECT_EQ(1, deltas.FindDelta("bin/viewer.dll", abBase, nullptr));
}

struct SectionCase {
    const char* name;
    std::string text;
    int expected;
    friend void PrintTo(const SectionCase& c, std::ostream* os) { *os << c.name; }
};

class DeltaSectionRead : public testing::TestWithParam<SectionCase> {};

TEST_P(DeltaSectionRead, GivesItsResultAndKeepsNothingOnRefusal)
{
    const SectionCase& c = GetParam();
    CVRGpcManifestDeltas deltas;
    EXPECT_EQ(c.expected, deltas.Parse(BytesOf(c.text), c.text.size())) << c.text;
    if (c.expected != GPC_DELTAS_OK) {
        EXPECT_EQ(0, deltas.GetCount());
    }
}

const std::string GPC_SECTION = "[GpcManifestDeltas]\n";
const std::string GPC_GOOD = Line("a.dll", '0', '1', "10", "a.vcdiff");

std::string ManyFor(const char* lpszUrl, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i) {
        std::string base = Hex('0');
        base[0] = "0123456789abcdef"[i % 16];
        base[1] = "0123456789abcdef"[i / 16];
        s += std::string(lpszUrl) + "=" + base + "," + Hex('e') + ",1,d" + std::to_string(i) + "\n";
    }
    return s;
}

const SectionCase GPC_SECTION_CASES[] = {
    {"one delta", GPC_SECTION + GPC_GOOD, GPC_DELTAS_OK},
    {"no section", "[Corvo]\nCount=0\n", GPC_DELTAS_NONE},
    {"section without entries", GPC_SECTION + "\r\n  \r\n[Corvo]\n", GPC_DELTAS_NONE},
    {"section line without newline at the end", GPC_SECTION + "a.dll=" + Hex('0') + "," + Hex('1') + ",10,a.vcdiff",
     GPC_DELTAS_OK},
    {"sixteen deltas for one Url", GPC_SECTION + ManyFor("a.dll", GPC_MAX_DELTAS_PER_URL), GPC_DELTAS_OK},

    {"seventeen deltas for one Url", GPC_SECTION + ManyFor("a.dll", GPC_MAX_DELTAS_PER_URL + 1), GPC_DELTAS_MALFORMED},
    {"one base twice for one Url", GPC_SECTION + GPC_GOOD + Line("A.DLL", '0', '2', "5", "b.vcdiff"),
     GPC_DELTAS_MALFORMED},
    {"second delta section", GPC_SECTION + GPC_GOOD + GPC_SECTION + Line("b.dll", '0', '1', "1", "b"),
     GPC_DELTAS_MALFORMED},
    {"line without value", GPC_SECTION + "a.dll\n", GPC_DELTAS_MALFORMED},
    {"Url missing", GPC_SECTION + Line("", '0', '1', "10", "a.vcdiff"), GPC_DELTAS_MALFORMED},
    {"base hash short", GPC_SECTION + "a.dll=" + Hex('0').substr(1) + "," + Hex('1') + ",10,a\n",
     GPC_DELTAS_MALFORMED},
    {"delta hash not hex", GPC_SECTION + Line("a.dll", '0', 'g', "10", "a"), GPC_DELTAS_MALFORMED},
    {"size zero", GPC_SECTION + Line("a.dll", '0', '1', "0", "a"), GPC_DELTAS_MALFORMED},
    {"size above the cap", GPC_SECTION + Line("a.dll", '0', '1', "67108865", "a"), GPC_DELTAS_MALFORMED},
    {"size of eleven digits", GPC_SECTION + Line("a.dll", '0', '1', "00000000010", "a"), GPC_DELTAS_MALFORMED},
    {"size with sign", GPC_SECTION + Line("a.dll", '0', '1', "+10", "a"), GPC_DELTAS_MALFORMED},
    {"size with blank", GPC_SECTION + Line("a.dll", '0', '1', "10 ", "a"), GPC_DELTAS_MALFORMED},
    {"delta URL missing", GPC_SECTION + Line("a.dll", '0', '1', "10", ""), GPC_DELTAS_MALFORMED},
    {"delta URL with control character", GPC_SECTION + Line("a.dll", '0', '1', "10", "a\x01.vcdiff"),
     GPC_DELTAS_MALFORMED},
    {"zero byte in a line", GPC_SECTION + std::string("a.dll\0=", 7) + Hex('0') + "," + Hex('1') + ",1,a\n",
     GPC_DELTAS_MALFORMED},
    {"delta URL of 2048 characters", GPC_SECTION + Line("a.dll", '0', '1', "10", std::string(2048, 'u')),
     GPC_DELTAS_MALFORMED},
    {"bad line after good ones", GPC_SECTION + GPC_GOOD + "b.dll=junk\n", GPC_DELTAS_MALFORMED},
};

INSTANTIATE_TEST_SUITE_P(, DeltaSectionRead, testing::ValuesIn(GPC_SECTION_CASES), CaseName());

TEST(DeltaSection, TotalNumberOfDeltasIsBounded)
{
    std::string text = GPC_SECTION;
    for (int i = 0; i < GPC_MAX_DELTAS / GPC_MAX_DELTAS_PER_URL; ++i) {
        text += ManyFor(("f" + std::to_string(i) + ".dll").c_str(), GPC_MAX_DELTAS_PER_URL);
    }
    CVRGpcManifestDeltas deltas;
    ASSERT_EQ(GPC_DELTAS_OK, deltas.Parse(BytesOf(text), text.size()));
    EXPECT_EQ(GPC_MAX_DELTAS, deltas.GetCount());
    text += Line("one_more.dll", '0', '1', "1", "x");
    EXPECT_EQ(GPC_DELTAS_MALFORMED, deltas.Parse(BytesOf(text), text.size()));
    EXPECT_EQ(0, deltas.GetCount());
}

}  // namespace
