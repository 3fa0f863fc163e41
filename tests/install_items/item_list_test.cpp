// Item texts, the item list and on-demand job records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "feedback/trace.h"
#include "items_test_util.h"
#include "support/case_names.h"
#include "support/scoped_wow64.h"
#include "support/trace_capture.h"

namespace {

// Printer drivers for 64-bit Windows are listed only there; on a 32-bit
// system the item is left out with one line, and nothing else is.
TEST(ItemList, X64PrinterDriversAreListedOnlyOn64BitWindows)
{
    struct {
        const char* target;
        bool wow64;
        bool listed;
    } cases[] = {
        {"%pdriver64%", true, true},
        {"%pdriver64%", false, false},
        {"%PDRIVER64%\\sub", false, false},
        {"%pdriver64%x", false, true},
        {"sub\\%pdriver64%", false, true},
        {"%pdriver%", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.target) + (c.wow64 ? " (WOW64)" : ""));
        ScopedWow64 wow64(c.wow64);
        TraceCapture trace;
        CVRGpcInstallationMgr mgr(nullptr);
        std::string text = std::string("drv.dll;u;") + c.target + ";;;;;;";
        ASSERT_EQ(1, mgr.ParseItem(&text[0]));
        EXPECT_EQ(c.listed ? 1 : 0, mgr.GetItemCount());
        std::vector<std::string> texts = trace.Texts();
        EXPECT_EQ(c.listed ? 0 : 1,
                  std::count(texts.begin(), texts.end(),
                             "drv.dll: %pdriver64% is for 64-bit Windows only, the file is left out"))
            << trace.Dump();
    }
}

TEST(ItemText, ManifestExampleFillsEveryFieldAndTracesEachRawValue)
{
    TraceCapture trace;
    CVRGpcInstallationMgr mgr(nullptr);
    char text[] = "viewer.dll;bin/viewer.dll ;%system%;1, 0, 0, 7;512;300;r;version;redirect";

    ASSERT_EQ(1, mgr.ParseItem(text));
    ASSERT_EQ(1, mgr.GetItemCount());
    GpcInstallItem* p = mgr.GetItem(0);
    EXPECT_STREQ("viewer.dll", Field(p->SourceName));
    EXPECT_STREQ("bin/viewer.dll", Field(p->Url));
    EXPECT_STREQ("%system%", Field(p->Target));
    EXPECT_STREQ("1,0,0,7", Field(p->Version));
    EXPECT_EQ(512u, p->FileSize);
    EXPECT_EQ(300u, p->CompressedSize);
    EXPECT_STREQ("r", Field(p->Action));
    EXPECT_STREQ("version", Field(p->UpdateControl));
    EXPECT_STREQ("redirect", Field(p->FailureControl));
    EXPECT_EQ(0, p->OsVersion);
    EXPECT_EQ(ITEM_LISTED, p->State);
    EXPECT_EQ(nullptr, p->Owner);
    EXPECT_EQ(nullptr, p->Job);

    const std::vector<std::string> expected = {
        "NPVRGPC : CVRGpcInstallationMgr::ParseItem,Item = viewer.dll;bin/viewer.dll ;%system%;1, 0, 0, 7;512;300;r;version;redirect",
        "Source Name : viewer.dll",
        "Url : bin/viewer.dll",
        "Target : %system%",
        "Version : 1, 0, 0, 7",
        "File size : 512",
        "Compressed size : 300",
        "Action : r",
        "UpdateControl : version",
        "FailureControl : redirect",
    };
    int from = 0;
    for (const auto& line : expected) {
        int at = trace.IndexOf(line, from);
        ASSERT_GE(at, from) << "missing or out of order: " << line << "\n" << trace.Dump();
        EXPECT_EQ(line, trace.Texts()[at]);
        from = at + 1;
    }
    EXPECT_FALSE(trace.Contains("OS version :"));
}

TEST(ItemText, FieldsAreCutOutOfTheCallersTextInPlace)
{
    CVRGpcInstallationMgr mgr(nullptr);
    char text[] = "a.dll;u;t";
    ASSERT_EQ(1, mgr.ParseItem(text));
    EXPECT_EQ('\0', text[5]);
    EXPECT_EQ('\0', text[7]);
    EXPECT_STREQ("t", text + 8);
    // The item owns copies, not pointers into the caller's buffer.
    memset(text, 'x', sizeof(text) - 1);
    EXPECT_STREQ("a.dll", Field(mgr.GetItem(0)->SourceName));
    EXPECT_STREQ("u", Field(mgr.GetItem(0)->Url));
}

struct FieldCase {
    const char* name;
    const char* text;
    const char* source;
    const char* url;
    const char* target;
    const char* version;
    const char* action;
    const char* update;
    const char* failure;
};

// Names the case in test output instead of dumping the record's bytes.
void PrintTo(const FieldCase& c, std::ostream* os)
{
    *os << c.name;
}

class ItemFields : public testing::TestWithParam<FieldCase> {};

TEST_P(ItemFields, AbsentAndEmptyFieldsStayDistinct)
{
    const FieldCase& c = GetParam();
    CVRGpcInstallationMgr mgr(nullptr);
    ASSERT_EQ(1, ParseText(mgr, c.text));
    ASSERT_EQ(1, mgr.GetItemCount());
    GpcInstallItem* p = mgr.GetItem(0);
    EXPECT_STREQ(c.source, Field(p->SourceName));
    EXPECT_STREQ(c.url, Field(p->Url));
    EXPECT_STREQ(c.target, Field(p->Target));
    EXPECT_STREQ(c.version, Field(p->Version));
    EXPECT_STREQ(c.action, Field(p->Action));
    EXPECT_STREQ(c.update, Field(p->UpdateControl));
    EXPECT_STREQ(c.failure, Field(p->FailureControl));
}

INSTANTIATE_TEST_SUITE_P(
    , ItemFields,
    testing::Values(
        FieldCase{"EmptyText", "", "", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
        FieldCase{"EmptyUrlThenTarget", "a.dll;;x", "a.dll", "", "x", nullptr, nullptr, nullptr, nullptr},
        FieldCase{"TrailingSeparatorGivesEmptyField", "a.dll;", "a.dll", "", nullptr, nullptr, nullptr, nullptr, nullptr},
        FieldCase{"BlanksAroundFieldsRemovedInsideKept", " \tmy file.dll \r\n;  u  ;\tt\t", "my file.dll", "u", "t", nullptr, nullptr, nullptr, nullptr},
        FieldCase{"EmptyFailureControlIsPresent", "a.dll;u;t;1;2;3;e;size;", "a.dll", "u", "t", "1", "e", "size", ""},
        FieldCase{"BlankVersionIsEmpty", "a.dll;u;t; , ;", "a.dll", "u", "t", "", nullptr, nullptr, nullptr}),
    [](const testing::TestParamInfo<FieldCase>& info) { return std::string(info.param.name); });

TEST(ItemText, VersionIsNormalizedToCommaList)
{
    const struct {
        const char* field;
        const char* stored;
    } cases[] = {
        {"2, 0, 0, 17", "2,0,0,17"},
        {"2 0 0 17", "2,0,0,17"},
        {"2.0.0.17", "2.0.0.17"},
        {",,2,,\t0 ,", "2,0"},
        {"", ""},
    };
    for (const auto& c : cases) {
        CVRGpcInstallationMgr mgr(nullptr);
        ParseText(mgr, std::string("a.dll;u;t;") + c.field + ";1");
        EXPECT_STREQ(c.stored, Field(mgr.GetItem(0)->Version)) << c.field;
    }
}

TEST(ItemText, OverlongVersionIsCutAt255Characters)
{
    CVRGpcInstallationMgr mgr(nullptr);
    std::string version(400, '7');
    ASSERT_EQ(1, ParseText(mgr, "a.dll;u;t;" + version + ";1"));
    EXPECT_EQ(255, mgr.GetItem(0)->Version.GetLength());
    EXPECT_EQ(std::string(255, '7'), Field(mgr.GetItem(0)->Version));
}

TEST(ItemText, NumbersReadLeadingDigitsOnlyAndDefaultToZero)
{
    const struct {
        const char* sizes;  // fields 5, 6 and 10 (with 7 to 9 empty between)
        DWORD file;
        DWORD compressed;
        int os;
    } cases[] = {
        {"512;300;;;;3", 512, 300, 3},
        {"12kb;7.5;;;;2x", 12, 7, 2},
        {"abc;;;;;nt", 0, 0, 0},
        {" 42 ;\t9;;;; -1", 42, 9, -1},
        {"4294967295;0;;;;0", 4294967295u, 0, 0},
    };
    for (const auto& c : cases) {
        CVRGpcInstallationMgr mgr(nullptr);
        ParseText(mgr, std::string("a.dll;u;t;1;") + c.sizes);
        GpcInstallItem* p = mgr.GetItem(0);
        EXPECT_EQ(c.file, p->FileSize) << c.sizes;
        EXPECT_EQ(c.compressed, p->CompressedSize) << c.sizes;
        EXPECT_EQ(c.os, p->OsVersion) << c.sizes;
    }
}

TEST(ItemText, FieldsAfterTheTenthAreIgnored)
{
    TraceCapture trace;
    CVRGpcInstallationMgr mgr(nullptr);
    ASSERT_EQ(1, ParseText(mgr, "a.dll;u;t;1;2;3;r;size;ignore;2;eleven;twelve"));
    ASSERT_EQ(1, mgr.GetItemCount());
    EXPECT_EQ(2, mgr.GetItem(0)->OsVersion);
    EXPECT_STREQ("ignore", Field(mgr.GetItem(0)->FailureControl));
    EXPECT_TRUE(trace.HasLine("OS version : 2")) << trace.Dump();
    EXPECT_FALSE(trace.Contains("eleven :"));
    for (const auto& t : trace.Texts()) {
        if (t.find("ParseItem") == std::string::npos) {
            EXPECT_EQ(std::string::npos, t.find("eleven")) << t;
            EXPECT_EQ(std::string::npos, t.find("twelve")) << t;
        }
    }
}

// The words are read once, where the item is parsed; a word nobody knows is
// traced there, once, and acts as before.
struct WordsRow {
    const char* name;
    const char* text;
    GpcUpdateKind update;
    GpcFailureKind failure;
    GpcActionKind action;
    std::vector<std::string> unknown;  // the "unknown ..." lines, in order
    friend void PrintTo(const WordsRow& r, std::ostream* os) { *os << r.name; }
};

class ItemWords : public ::testing::TestWithParam<WordsRow> {};

TEST_P(ItemWords, AreReadOnceAndAnUnknownOneIsTracedOnce)
{
    const WordsRow& r = GetParam();
    TraceCapture trace;
    CVRGpcInstallationMgr mgr(nullptr);
    ASSERT_EQ(1, ParseText(mgr, r.text));
    ASSERT_EQ(1, mgr.GetItemCount());
    const GpcInstallItem* p = mgr.GetItem(0);
    EXPECT_EQ(r.update, p->Update);
    EXPECT_EQ(r.failure, p->Failure);
    EXPECT_EQ(r.action, p->ActionKind);
    std::vector<std::string> unknown;
    for (const std::string& t : trace.Texts()) {
        if (t.rfind("unknown ", 0) == 0) unknown.push_back(t);
    }
    EXPECT_EQ(r.unknown, unknown) << trace.Dump();
}

INSTANTIATE_TEST_SUITE_P(
    Table, ItemWords,
    ::testing::Values(
        WordsRow{"known words in any case", "v.dll;u;;;;;R;VERSION;Redirect", GPC_UPDATE_VERSION,
                 GPC_FAILURE_REDIRECT, GPC_ACTION_SERVER, {}},
        WordsRow{"every other known word", "v.dll;u;;;;;e;vertag;reboot", GPC_UPDATE_VERTAG, GPC_FAILURE_REBOOT,
                 GPC_ACTION_RUN_R, {}},
        WordsRow{"misspelt failure control", "viewer.dll;u;;;;;;version;redirct", GPC_UPDATE_VERSION,
                 GPC_FAILURE_OTHER, GPC_ACTION_NONE, {"unknown failure control 'redirct' for viewer.dll"}},
        WordsRow{"misspelt action and update control", "a.dll;u;;;;;x;versoin;ignore", GPC_UPDATE_OTHER,
                 GPC_FAILURE_IGNORE, GPC_ACTION_NONE,
                 {"unknown update control 'versoin' for a.dll", "unknown action 'x' for a.dll"}},
        WordsRow{"empty words are no words", "a.dll;u;;;;;;;", GPC_UPDATE_OTHER, GPC_FAILURE_OTHER,
                 GPC_ACTION_NONE, {}},
        WordsRow{"absent words", "a.dll;u", GPC_UPDATE_ABSENT, GPC_FAILURE_ABSENT, GPC_ACTION_NONE, {}}),
    [](const ::testing::TestParamInfo<WordsRow>& info) { return CaseNameOf(info.param.name); });

TEST(ItemText, NullTextStillListsOneItemWithEverythingAbsent)
{
    CVRGpcInstallationMgr mgr(nullptr);
    ASSERT_EQ(1, mgr.ParseItem(nullptr));
    ASSERT_EQ(1, mgr.GetItemCount());
    EXPECT_TRUE(mgr.GetItem(0)->SourceName.IsNull());
    EXPECT_TRUE(mgr.GetItem(0)->Url.IsNull());
}

TEST(ItemText, ItemsKeepTheManagersOwner)
{
    OwnedManager owned;
    ASSERT_EQ(1, ParseText(owned.Manager(), "a.dll;u"));
    EXPECT_EQ(&owned.Owner(), owned.Manager().GetItem(0)->Owner);
}

// The OS filter applies only on the dependency-list path, where one list
// serves every platform. This machine is of the NT family, version 5 or later.
TEST(ItemOsFilter, DropsItemsForOtherPlatformsOnlyWhenTheOwnerAsks)
{
    ASSERT_TRUE(IsWindowsNT());
    ASSERT_TRUE(IsWindows2000OrLater());
    const char* texts[] = {"os0.dll;u;;;;;;;;0", "os1.dll;u;;;;;;;;1", "os2.dll;u;;;;;;;;2",
                           "os3.dll;u;;;;;;;;3", "os9.dll;u;;;;;;;;9", "none.dll;u"};

    OwnedManager filtering;
    filtering.Owner().bCheckItemOsVersion = 1;
    for (const char* t : texts)
        EXPECT_EQ(1, ParseText(filtering.Manager(), t)) << t;
    std::vector<std::string> kept;
    for (int i = 0; i < filtering.Manager().GetItemCount(); ++i)
        kept.push_back(filtering.Manager().GetItem(i)->SourceName.GetText());
    EXPECT_EQ((std::vector<std::string>{"os0.dll", "os2.dll", "os3.dll", "os9.dll", "none.dll"}), kept);

    OwnedManager plain;
    for (const char* t : texts)
        ParseText(plain.Manager(), t);
    EXPECT_EQ(6, plain.Manager().GetItemCount());

    CVRGpcInstallationMgr ownerless(nullptr);
    for (const char* t : texts)
        ParseText(ownerless, t);
    EXPECT_EQ(6, ownerless.GetItemCount());
}

// Runs the OS-filter probe under another Windows version: Wine picks the
// version per program name, so the probe is copied under a name of its own.
int RunProbeAs(const std::string& winver)
{
    std::string dir = MakeTempDir("items_os_" + winver);
    return RunCopyUnderWindowsVersion(TestBinDir() + GPC_ITEMS_OS_PROBE_EXE,
                                      dir + "\\items_os_probe_" + winver + ".exe", winver, winver);
}

TEST(ItemOsFilter, OnWindows95KeepsOnlyItemsForThe9xFamily)
{
    EXPECT_EQ(0, RunProbeAs("win95"));
}

TEST(ItemOsFilter, OnNt4DropsItemsThatNeedWindows2000)
{
    EXPECT_EQ(0, RunProbeAs("nt40"));
}

TEST(ItemList, DependencyListSkipsEmptyPiecesAndKeepsOrder)
{
    TraceCapture trace;
    CVRGpcInstallationMgr mgr(nullptr);
    const char list[] = "first.dll;u1;;1,0||  second.dll;u2 \r\n|";
    ASSERT_EQ(1, mgr.ParseItemList(list));
    ASSERT_EQ(2, mgr.GetItemCount());
    EXPECT_STREQ("first.dll", Field(mgr.GetItem(0)->SourceName));
    EXPECT_STREQ("1,0", Field(mgr.GetItem(0)->Version));
    EXPECT_STREQ("second.dll", Field(mgr.GetItem(1)->SourceName));
    EXPECT_STREQ("u2", Field(mgr.GetItem(1)->Url));
    EXPECT_STREQ("first.dll;u1;;1,0||  second.dll;u2 \r\n|", list);
    // Each piece is traced trimmed, as ParseItem receives it.
    EXPECT_TRUE(trace.HasLine("NPVRGPC : CVRGpcInstallationMgr::ParseItem,Item = second.dll;u2"))
        << trace.Dump();
}

TEST(ItemList, DependencyListOfBlanksOrNothingAddsNoItem)
{
    CVRGpcInstallationMgr mgr(nullptr);
    EXPECT_EQ(1, mgr.ParseItemList(nullptr));
    EXPECT_EQ(1, mgr.ParseItemList(""));
    EXPECT_EQ(1, mgr.ParseItemList(" | \t|\r\n||"));
    EXPECT_EQ(0, mgr.GetItemCount());
}

TEST(ItemList, LongListGrowsBeyondOneBlockInOrder)
{
    CVRGpcInstallationMgr mgr(nullptr);
    std::string list;
    for (int i = 0; i < 40; ++i)
        list += "f" + std::to_string(i) + ".dll;u|";
    ASSERT_EQ(1, mgr.ParseItemList(list.c_str()));
    ASSERT_EQ(40, mgr.GetItemCount());
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ("f" + std::to_string(i) + ".dll", mgr.GetItem(i)->SourceName.GetText());
}

TEST(ItemList, DuplicateNamesAreBothListedAndLookupFindsTheFirst)
{
    CVRGpcInstallationMgr mgr(nullptr);
    ParseText(mgr, "same.dll;first");
    ParseText(mgr, "SAME.DLL;second");
    ASSERT_EQ(2, mgr.GetItemCount());
    ASSERT_NE(nullptr, mgr.FindItem("Same.Dll"));
    EXPECT_STREQ("first", Field(mgr.FindItem("Same.Dll")->Url));

    GpcInstallItem* pExtra = new GpcInstallItem(nullptr);
    pExtra->SourceName.Assign("same.dll");
    EXPECT_EQ(1, mgr.AddItem(pExtra));
    EXPECT_EQ(3, mgr.GetItemCount());
    EXPECT_EQ(pExtra, mgr.GetItem(2));
    EXPECT_STREQ("first", Field(mgr.FindItem("same.dll")->Url));
}

TEST(ItemList, StartedAndDoneReflectItemStates)
{
    CVRGpcInstallationMgr mgr(nullptr);
    EXPECT_EQ(0, mgr.AnyItemStarted());
    ParseText(mgr, "a.dll");
    ParseText(mgr, "b.dll");
    EXPECT_EQ(0, mgr.AnyItemStarted());
    for (int state : {ITEM_FAILED, ITEM_DOWNLOADING, ITEM_INSTALLED, ITEM_DONE}) {
        mgr.GetItem(1)->State = state;
        EXPECT_EQ(1, mgr.AnyItemStarted()) << state;
    }
    mgr.GetItem(1)->State = ITEM_LISTED;
    mgr.MarkAllItemsDone();
    EXPECT_EQ(ITEM_DONE, mgr.GetItem(0)->State);
    EXPECT_EQ(ITEM_DONE, mgr.GetItem(1)->State);
    EXPECT_EQ(1, mgr.AnyItemStarted());
}

HWND MakeWindow()
{
    return CreateWindowA("STATIC", "progress", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

TEST(ItemList, NewManagerHasEmptyTextsALogAndNoWindow)
{
    CVRGpcInstallationMgr mgr(nullptr);
    EXPECT_STREQ("", Field(mgr.UrlRoot));
    EXPECT_STREQ("", Field(mgr.DefaultInstallDir));
    EXPECT_NE(nullptr, mgr.LogMgr);
    EXPECT_EQ(nullptr, mgr.ProgressWindow);
    EXPECT_EQ(0u, mgr.TotalBytes);
    EXPECT_EQ(0u, mgr.ReceivedBytes);
    EXPECT_EQ(0u, mgr.BytesPerSecond);
    EXPECT_EQ(0u, mgr.StartTick);
    EXPECT_EQ(0, mgr.GetItemCount());
}

TEST(ItemList, ClearItemsEmptiesTheListButKeepsTheRest)
{
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.UrlRoot.Assign("http://127.0.0.1/root");
    ParseText(mgr, "a.dll");
    ParseText(mgr, "b.dll");
    mgr.ClearItems();
    EXPECT_EQ(0, mgr.GetItemCount());
    EXPECT_STREQ("http://127.0.0.1/root", Field(mgr.UrlRoot));
    EXPECT_NE(nullptr, mgr.LogMgr);
    ParseText(mgr, "c.dll");
    ASSERT_EQ(1, mgr.GetItemCount());
    EXPECT_STREQ("c.dll", Field(mgr.GetItem(0)->SourceName));
}

TEST(ItemList, ReleaseAllFreesEverythingAndClosesTheProgressWindow)
{
    CVRGpcInstallationMgr mgr(nullptr);
    mgr.UrlRoot.Assign("http://127.0.0.1/root");
    mgr.DefaultInstallDir.Assign("C:\\App");
    ParseText(mgr, "a.dll");
    HWND hWnd = MakeWindow();
    ASSERT_NE(nullptr, hWnd);
    mgr.ProgressWindow = hWnd;

    mgr.ReleaseAll();
    EXPECT_EQ(0, mgr.GetItemCount());
    EXPECT_TRUE(mgr.UrlRoot.IsNull());
    EXPECT_TRUE(mgr.DefaultInstallDir.IsNull());
    EXPECT_EQ(nullptr, mgr.LogMgr);
    EXPECT_EQ(nullptr, mgr.ProgressWindow);
    EXPECT_FALSE(IsWindow(hWnd));

    // Shut-down releases first; the destructor then releases again.
    mgr.ReleaseAll();
    EXPECT_EQ(nullptr, mgr.LogMgr);
}

void WINAPI IgnoreOdeNotice(void*, int, const char*, const char*, int, GpcOdeFileInfo*) {}

TEST(DownloadJob, NewJobCopiesTheSectionAndStartsAtZero)
{
    OwnedManager owned;
    char section[] = "Section1";
    int context = 0;
    GpcOdeCallback callback = &IgnoreOdeNotice;
    GpcDownloadJob* pJob = CreateDownloadJob(&owned.Owner(), section, callback, &context);
    ASSERT_NE(nullptr, pJob);
    section[0] = 'X';
    EXPECT_STREQ("Section1", Field(pJob->SectionName));
    EXPECT_EQ(&owned.Owner(), pJob->Owner);
    EXPECT_EQ(callback, pJob->Callback);
    EXPECT_EQ(&context, pJob->CallbackContext);
    EXPECT_EQ(0u, pJob->TotalBytes);
    EXPECT_EQ(0u, pJob->ReceivedBytes);
    EXPECT_EQ(0u, pJob->BytesPerSecond);
    EXPECT_EQ(0u, pJob->StartTick);
    EXPECT_EQ(nullptr, pJob->ProgressWindow);
    EXPECT_EQ(0, pJob->PendingItems.GetCount());
    DestroyDownloadJob(pJob);
}

TEST(DownloadJob, DestroyClosesItsWindowAndLeavesPendingItemsAlive)
{
    CVRGpcInstallationMgr mgr(nullptr);
    ParseText(mgr, "pending.dll;u");
    GpcDownloadJob* pJob = CreateDownloadJob(nullptr, "S", nullptr, nullptr);
    ASSERT_NE(nullptr, pJob);
    HWND hWnd = MakeWindow();
    pJob->ProgressWindow = hWnd;
    GpcInstallItem* pItem = mgr.GetItem(0);
    pItem->Job = pJob;
    pJob->PendingItems.Add(pItem);

    DestroyDownloadJob(pJob);
    EXPECT_FALSE(IsWindow(hWnd));
    // The item is the manager's; it must still be whole.
    ASSERT_EQ(1, mgr.GetItemCount());
    EXPECT_STREQ("pending.dll", Field(mgr.GetItem(0)->SourceName));
    pItem->Job = nullptr;

    DestroyDownloadJob(nullptr);
    GpcDownloadJob* pNoName = CreateDownloadJob(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, pNoName);
    EXPECT_TRUE(pNoName->SectionName.IsNull());
    DestroyDownloadJob(pNoName);
}

}  // namespace
