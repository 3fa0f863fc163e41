// The update decision: version resources, sizes, presence and embedded
// version tags; and the list queries the heartbeat relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "feedback/trace.h"
#include "items_test_util.h"
#include "support/trace_capture.h"

namespace {

const std::string GPC_MARKER = "#~@CorvoVersionTag@~#";

GpcInstallItem MakeItem(const char* lpszUpdate, const char* lpszVersion, DWORD dwSize = 0)
{
    GpcInstallItem item(nullptr);
    item.SourceName.Assign("probe.dll");
    item.UpdateControl.Assign(lpszUpdate);
    item.Version.Assign(lpszVersion);
    item.FileSize = dwSize;
    ReadItemWords(&item, nullptr);
    return item;
}

const char GPC_UNTOUCHED[] = "untouched";

struct Decision {
    int result;
    std::string current;
};

Decision Decide(GpcInstallItem& item, const std::string& path)
{
    char achCurrent[256];
    strcpy(achCurrent, GPC_UNTOUCHED);
    Decision d;
    d.result = item.NeedUpdate(path.c_str(), achCurrent);
    d.current = achCurrent;
    return d;
}

// One row of an update-decision table: the item's rule, version and size,
// the file, and the expected answer with the text NeedUpdate writes out.
struct DecisionCase {
    const char* update;
    const char* version;
    DWORD size;
    std::string path;
    int result;
    const char* current;
};

template <size_t N>
void ExpectDecisions(const DecisionCase (&cases)[N])
{
    for (const auto& c : cases) {
        GpcInstallItem item = MakeItem(c.update, c.version, c.size);
        Decision d = Decide(item, c.path);
        std::string row = std::string(c.update ? c.update : "(absent)") + " " + (c.version ? c.version : "(absent)") +
                          " " + std::to_string(c.size) + " " + c.path;
        EXPECT_EQ(c.result, d.result) << row;
        EXPECT_EQ(c.current, d.current) << row;
    }
}

std::string Fixture(const char* name)
{
    return TestBinDir() + name;
}

TEST(NeedUpdateVersion, EqualFileVersionIsCurrentAndAnyOtherNeedsTheDownload)
{
    const std::string v7 = Fixture("ver_1_0_0_7.dll");
    const std::string v8 = Fixture("ver_1_0_0_8.dll");
    ASSERT_TRUE(PathExists(v7)) << v7;
    ASSERT_TRUE(PathExists(v8)) << v8;
    const DecisionCase cases[] = {
        {"version", "1,0,0,7", 0, v7, 0, GPC_UNTOUCHED},
        {"VERSION", "1,0,0,7", 0, v7, 0, GPC_UNTOUCHED},
        {"Version", "1,0,0,7", 0, v8, 1, "1,0,0,8"},
        // A newer installed file still gets the manifest's version.
        {"version", "1,0,0,7", 0, v8, 1, "1,0,0,8"},
        {"version", "1,0,0,8", 0, v7, 1, "1,0,0,7"},
        {"version", "", 0, v7, 1, "1,0,0,7"},
        {"version", nullptr, 0, v7, 1, "1,0,0,7"},
        {"version", "1.0.0.7", 0, v7, 1, "1,0,0,7"},
        {"version", "2,5,300,40000", 0, Fixture("ver_2_5_300_40000.dll"), 0, GPC_UNTOUCHED},
        {"version", "1,0,0,7", 0, Fixture("nover.dll"), 1, ""},
        {"version", "1,0,0,7", 0, Fixture("missing_file.dll"), 1, ""},
    };
    ExpectDecisions(cases);
}

TEST(NeedUpdateVersion, TracesTheUpdateOrTheUnreadableFile)
{
    const std::string v8 = Fixture("ver_1_0_0_8.dll");
    const std::string nover = Fixture("nover.dll");
    TraceCapture trace;
    GpcInstallItem item = MakeItem("version", "1,0,0,7");
    item.NeedUpdate(v8.c_str());
    item.NeedUpdate(nover.c_str());
    EXPECT_TRUE(trace.HasLine("Update " + v8 + " from version 1,0,0,8 to version 1,0,0,7")) << trace.Dump();
    EXPECT_TRUE(trace.HasLine("Can not get version info for file " + nover)) << trace.Dump();

    trace.Clear();
    const std::string v7 = Fixture("ver_1_0_0_7.dll");
    EXPECT_EQ(0, item.NeedUpdate(v7.c_str()));
    EXPECT_FALSE(trace.Contains("Update ")) << trace.Dump();
}

class TaggedFiles : public testing::Test {
protected:
    void SetUp() override { m_strDir = MakeTempDir("items_tagged"); }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        std::string path = m_strDir + "\\" + name;
        WriteFileBytes(path, bytes);
        return path;
    }
    std::string m_strDir;
};

TEST_F(TaggedFiles, TagIsTheTextAfterTheFirstCompleteMarker)
{
    const std::string binary("MZ\x90\0\x03\0\0\0", 8);
    const struct {
        const char* name;
        std::string bytes;
        int found;
        std::string tag;
    } cases[] = {
        {"start.bin", GPC_MARKER + "5.1.2" + std::string("\0tail", 5), 1, "5.1.2"},
        {"middle.bin", binary + "padding" + GPC_MARKER + "2,0,0,17" + std::string("\0\0", 2) + binary, 1, "2,0,0,17"},
        {"to_eof.bin", binary + GPC_MARKER + "3.0 beta", 1, "3.0 beta"},
        {"very_end.bin", binary + GPC_MARKER, 1, ""},
        {"cut_marker.bin", binary + GPC_MARKER.substr(0, 15), 0, ""},
        {"broken_then_whole.bin", GPC_MARKER.substr(0, 10) + "x" + GPC_MARKER + "7", 1, "7"},
        {"twice.bin", binary + GPC_MARKER + "first" + std::string("\0", 1) + GPC_MARKER + "second", 1, "first"},
        {"twice_no_nul.bin", GPC_MARKER + "one" + GPC_MARKER + "two", 1, "one" + GPC_MARKER + "two"},
        {"no_marker.bin", binary + "#~@CorvoVersion", 0, ""},
        {"empty.bin", "", 0, ""},
        {"long_tag.bin", GPC_MARKER + std::string(400, 'v'), 1, std::string(255, 'v')},
    };
    for (const auto& c : cases) {
        std::string path = Write(c.name, c.bytes);
        char achTag[256];
        strcpy(achTag, "stale");
        int found = GetTaggedVersion(path.c_str(), achTag, sizeof(achTag));
        EXPECT_EQ(c.found, found) << c.name;
        if (c.found) {
            EXPECT_EQ(c.tag, achTag) << c.name;
        }
    }
}

TEST_F(TaggedFiles, MissingFileOrTinyBufferNeverOverruns)
{
    char achTag[16];
    EXPECT_EQ(0, GetTaggedVersion((m_strDir + "\\absent.bin").c_str(), achTag, sizeof(achTag)));

    std::string path = Write("small_buffer.bin", GPC_MARKER + "123456789");
    memset(achTag, '#', sizeof(achTag));
    EXPECT_EQ(1, GetTaggedVersion(path.c_str(), achTag, 5));
    EXPECT_STREQ("1234", achTag);
    EXPECT_EQ('#', achTag[5]);
    EXPECT_EQ(0, GetTaggedVersion(path.c_str(), achTag, 0));
    EXPECT_EQ(0, GetTaggedVersion(path.c_str(), nullptr, 16));
    EXPECT_EQ(0, GetTaggedVersion(nullptr, achTag, 16));
}

TEST_F(TaggedFiles, VertagComparesTheTagByteForByte)
{
    const std::string tagged = Write("tagged.dll", "MZ" + GPC_MARKER + std::string("4.2\0", 4));
    const std::string atEnd = Write("at_end.dll", "MZ" + GPC_MARKER);
    const std::string untagged = Write("untagged.dll", "MZ plain");
    const std::string nine = Write("tagged_4_9.dll", "MZ" + GPC_MARKER + std::string("4.9\0", 4));
    const std::string ten = Write("tagged_4_10.dll", "MZ" + GPC_MARKER + std::string("4.10\0", 5));
    const DecisionCase cases[] = {
        {"vertag", "4.2", 0, tagged, 0, GPC_UNTOUCHED},
        {"VerTag", "4.2", 0, tagged, 0, GPC_UNTOUCHED},
        {"vertag", "4.3", 0, tagged, 1, "4.2"},
        // Only an equal tag is current: an installed tag above the
        // manifest's, as text ("4.9" > "4.10") or as numbers (4.10 > 4.9),
        // still gets the manifest's file.
        {"vertag", "4.1", 0, tagged, 1, "4.2"},
        {"vertag", "4.10", 0, nine, 1, "4.9"},
        {"vertag", "4.9", 0, ten, 1, "4.10"},
        {"vertag", "", 0, tagged, 1, "4.2"},
        {"vertag", "4.2", 0, atEnd, 1, ""},
        {"vertag", "", 0, atEnd, 1, ""},
        {"vertag", "4.2", 0, untagged, 1, ""},
    };
    ExpectDecisions(cases);

    TraceCapture trace;
    GpcInstallItem item = MakeItem("vertag", "4.3");
    item.NeedUpdate(tagged.c_str());
    item.NeedUpdate(untagged.c_str());
    EXPECT_TRUE(trace.HasLine("Update " + tagged + " from version(tagged) 4.2 to version(tagged) 4.3"))
        << trace.Dump();
    EXPECT_TRUE(trace.HasLine("Can not get the tagged version info for file " + untagged)) << trace.Dump();
}

TEST_F(TaggedFiles, SizeExistenceAndUnknownRules)
{
    const std::string file = Write("sized.bin", std::string(1234, 'z'));
    const std::string missing = m_strDir + "\\missing.bin";
    const DecisionCase cases[] = {
        {"size", "1", 1234, file, 0, GPC_UNTOUCHED},
        {"SIZE", "1", 1234, file, 0, GPC_UNTOUCHED},
        {"size", "1", 1000, file, 1, "1234"},
        {"size", "1", 5, missing, 1, "0"},
        // An unreadable file reads as size 0, which matches a size of 0.
        {"size", "1", 0, missing, 0, GPC_UNTOUCHED},
        {"existence", "1", 0, missing, 0, GPC_UNTOUCHED},
        {"Existence", "1", 99, file, 0, GPC_UNTOUCHED},
        {nullptr, "1", 1234, file, 1, GPC_UNTOUCHED},
        {"", "1", 1234, file, 1, ""},
        {"checksum", "1", 1234, file, 1, ""},
    };
    ExpectDecisions(cases);
    GpcInstallItem item = MakeItem("size", "1", 1);
    EXPECT_EQ(1, item.NeedUpdate(file.c_str(), nullptr));
}

class ItemQueries : public testing::Test {
protected:
    void Add(const char* lpszText, int nState)
    {
        ParseText(m_Mgr, lpszText);
        m_Mgr.GetItem(m_Mgr.GetItemCount() - 1)->State = nState;
    }
    CVRGpcInstallationMgr m_Mgr{nullptr};
};

TEST_F(ItemQueries, HasAnyUpdateReportsTheFirstMissingOrStaleFile)
{
    std::string dir = MakeTempDir("items_any_update");
    m_Mgr.DefaultInstallDir.Assign(dir.c_str());
    EXPECT_EQ(0, m_Mgr.HasAnyUpdate());

    WriteFileBytes(dir + "\\a.dll", "aaaa");
    WriteFileBytes(dir + "\\b.dll", "bb");
    ParseText(m_Mgr, "a.dll;u;;;4;;;size");
    ParseText(m_Mgr, "b.dll;u;;;;;;existence");
    EXPECT_EQ(0, m_Mgr.HasAnyUpdate());

    TraceCapture trace;
    ParseText(m_Mgr, "c.dll;u;;;;;;existence");
    EXPECT_EQ(1, m_Mgr.HasAnyUpdate());
    EXPECT_TRUE(trace.HasLine("HasAnyUpdate -- FileExist,filePath = " + dir + "\\c.dll")) << trace.Dump();

    trace.Clear();
    m_Mgr.GetItem(0)->FileSize = 5;
    EXPECT_EQ(1, m_Mgr.HasAnyUpdate());
    EXPECT_TRUE(trace.HasLine("HasAnyUpdate -- NeedUpdate,filePath = " + dir + "\\a.dll")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("c.dll"));
}

TEST_F(ItemQueries, HasAnyUpdateLooksInEachItemsInstallDirectory)
{
    std::string dir = MakeTempDir("items_any_update_sub");
    m_Mgr.DefaultInstallDir.Assign(dir.c_str());
    CreateDirectoryA((dir + "\\Sub").c_str(), nullptr);
    WriteFileBytes(dir + "\\Sub\\s.dll", "s");
    ParseText(m_Mgr, "s.dll;u;Sub;;;;;existence");
    ParseText(m_Mgr, "kernel32.dll;u;%system%;;;;;existence");
    EXPECT_EQ(0, m_Mgr.HasAnyUpdate());
}

TEST_F(ItemQueries, NamesMatchIgnoringCaseButNeverEmptyOrAbsent)
{
    Add("Main.ocx;u", ITEM_LISTED);
    Add(";u", ITEM_LISTED);
    EXPECT_EQ(1, CVRGpcInstallationMgr::IsItemNamed(m_Mgr.GetItem(0), "MAIN.OCX"));
    EXPECT_EQ(0, CVRGpcInstallationMgr::IsItemNamed(m_Mgr.GetItem(0), "main"));
    EXPECT_EQ(0, CVRGpcInstallationMgr::IsItemNamed(m_Mgr.GetItem(1), ""));
    EXPECT_EQ(0, CVRGpcInstallationMgr::IsItemNamed(m_Mgr.GetItem(0), nullptr));
    EXPECT_EQ(0, CVRGpcInstallationMgr::IsItemNamed(nullptr, "main.ocx"));
    EXPECT_EQ(m_Mgr.GetItem(0), m_Mgr.FindItem("main.ocx"));
    EXPECT_EQ(nullptr, m_Mgr.FindItem(""));
    EXPECT_EQ(nullptr, m_Mgr.FindItem(nullptr));
    EXPECT_EQ(nullptr, m_Mgr.FindItem("other.dll"));
}

TEST_F(ItemQueries, MainComponentIsReadyWhenItAndEverythingBeforeItSettled)
{
    const struct {
        std::vector<int> states;  // a.dll, main.ocx, z.dll
        const char* name;
        int ready;
    } cases[] = {
        {{ITEM_DONE, ITEM_INSTALLED, ITEM_LISTED}, "main.ocx", 1},
        {{ITEM_FAILED, ITEM_DONE, ITEM_DOWNLOADING}, "MAIN.OCX", 1},
        {{ITEM_DOWNLOADING, ITEM_DONE, ITEM_DONE}, "main.ocx", 0},
        {{ITEM_DONE, ITEM_LISTED, ITEM_DONE}, "main.ocx", 0},
        {{ITEM_DONE, ITEM_DONE, ITEM_LISTED}, "absent.ocx", 0},
        {{ITEM_DONE, ITEM_FAILED, ITEM_INSTALLED}, "absent.ocx", 1},
        {{ITEM_DONE, ITEM_DONE, ITEM_DONE}, nullptr, 1},
    };
    for (const auto& c : cases) {
        CVRGpcInstallationMgr mgr(nullptr);
        const char* names[] = {"a.dll", "main.ocx", "z.dll"};
        for (int i = 0; i < 3; ++i) {
            ParseText(mgr, names[i]);
            mgr.GetItem(i)->State = c.states[i];
        }
        EXPECT_EQ(c.ready, mgr.IsMainComponentReady(c.name))
            << (c.name ? c.name : "(null)") << " " << c.states[0] << c.states[1] << c.states[2];
    }
    CVRGpcInstallationMgr empty(nullptr);
    EXPECT_EQ(1, empty.IsMainComponentReady("main.ocx"));
}

HWND MakeWindow()
{
    return CreateWindowA("STATIC", "progress", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

TEST_F(ItemQueries, AllItemsSettledNamesTheFirstItemStillInstalling)
{
    HWND hWnd = MakeWindow();
    m_Mgr.ProgressWindow = hWnd;
    Add("a.dll", ITEM_DONE);
    Add("b.dll", ITEM_DOWNLOADING);
    Add("c.dll", ITEM_LISTED);

    TraceCapture trace;
    EXPECT_EQ(0, m_Mgr.AllItemsSettled());
    EXPECT_TRUE(trace.HasLine("item=b.dll is still installing.")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("item=c.dll"));
    EXPECT_TRUE(IsWindow(hWnd));
    EXPECT_EQ(hWnd, m_Mgr.ProgressWindow);

    m_Mgr.GetItem(1)->State = ITEM_FAILED;
    m_Mgr.GetItem(2)->State = ITEM_INSTALLED;
    EXPECT_EQ(1, m_Mgr.AllItemsSettled());
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, m_Mgr.ProgressWindow);
    EXPECT_EQ(1, m_Mgr.AllItemsSettled());
}

// The queries go on from where an earlier beat stopped: the answers must
// still follow every state change the beats see, and a list that is read
// again is looked at from its first item.
TEST_F(ItemQueries, RepeatedBeatsFollowTheItemsAsTheySettle)
{
    const char* names[] = {"a.dll", "main.ocx", "z.dll"};
    for (const char* lpszName : names) Add(lpszName, ITEM_DOWNLOADING);

    for (int nSettled = 0; nSettled < 3; ++nSettled) {
        TraceCapture trace;
        EXPECT_EQ(0, m_Mgr.AllItemsSettled()) << nSettled;
        EXPECT_TRUE(trace.HasLine(std::string("item=") + names[nSettled] + " is still installing."))
            << trace.Dump();
        EXPECT_EQ(nSettled >= 2 ? 1 : 0, m_Mgr.IsMainComponentReady("main.ocx")) << nSettled;
        // Another name is answered for itself, not from the scan of main.ocx.
        EXPECT_EQ(0, m_Mgr.IsMainComponentReady("absent.ocx")) << nSettled;
        EXPECT_EQ(nSettled >= 1 ? 1 : 0, m_Mgr.IsMainComponentReady("A.DLL")) << nSettled;
        m_Mgr.GetItem(nSettled)->State = nSettled == 1 ? ITEM_FAILED : ITEM_INSTALLED;
    }
    EXPECT_EQ(1, m_Mgr.AllItemsSettled());
    EXPECT_EQ(1, m_Mgr.IsMainComponentReady("main.ocx"));
    EXPECT_EQ(1, m_Mgr.IsMainComponentReady("absent.ocx"));

    // A list read again starts from its first item, even with as many
    // items as before.
    m_Mgr.ClearItems();
    Add("b.dll", ITEM_LISTED);
    Add("main.ocx", ITEM_DONE);
    Add("y.dll", ITEM_DONE);
    TraceCapture trace;
    EXPECT_EQ(0, m_Mgr.AllItemsSettled());
    EXPECT_TRUE(trace.HasLine("item=b.dll is still installing.")) << trace.Dump();
    EXPECT_EQ(0, m_Mgr.IsMainComponentReady("main.ocx"));

    // An item added to a settled list is waited for.
    m_Mgr.GetItem(0)->State = ITEM_DONE;
    EXPECT_EQ(1, m_Mgr.AllItemsSettled());
    Add("late.dll", ITEM_LISTED);
    EXPECT_EQ(0, m_Mgr.AllItemsSettled());
    EXPECT_EQ(0, m_Mgr.IsMainComponentReady("absent.ocx"));
}

TEST_F(ItemQueries, SchedulingAgainStartsTheScansOver)
{
    std::string dir = MakeTempDir("items_scan_schedule");
    m_Mgr.DefaultInstallDir.Assign(dir.c_str());
    Add("a.dll;a.dll;;;;;;existence", ITEM_DONE);
    Add("b.dll;b.dll;;;;;;existence", ITEM_DONE);
    EXPECT_EQ(1, m_Mgr.AllItemsSettled());
    EXPECT_EQ(1, m_Mgr.IsMainComponentReady("b.dll"));

    // Neither file is there: both go back on their way (without an owner
    // nothing is asked of a host).
    m_Mgr.ScheduleDownloads();
    ASSERT_EQ(ITEM_DOWNLOADING, m_Mgr.GetItem(0)->State);
    TraceCapture trace;
    EXPECT_EQ(0, m_Mgr.AllItemsSettled());
    EXPECT_TRUE(trace.HasLine("item=a.dll is still installing.")) << trace.Dump();
    EXPECT_EQ(0, m_Mgr.IsMainComponentReady("b.dll"));
}

TEST_F(ItemQueries, EmptyListIsSettledAndClosesTheWindow)
{
    HWND hWnd = MakeWindow();
    m_Mgr.ProgressWindow = hWnd;
    EXPECT_EQ(1, m_Mgr.AllItemsSettled());
    EXPECT_FALSE(IsWindow(hWnd));
    EXPECT_EQ(nullptr, m_Mgr.ProgressWindow);
}

}  // namespace
