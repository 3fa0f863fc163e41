// Signed manifests through the extension: with the administrator's key, the
// start-up manifest, every downloaded file and the on-demand manifests are
// checked before anything is read, unpacked or installed; without a key a
// signed manifest reads and installs as any other.
//
// ext_trust\signed.ini is trust\plain.ini signed at build time by the
// publisher's tool with ext_trust\key.pem (serial 7, product
// "Ext Trust Test"), listing the hashes of trust\site: main.dll "M",
// b.dll "B", x.dat "X".
#include "extension_fixture.h"

#include "feedback/messages.h"
#include "install/manifest_trust.h"
#include "support/case_names.h"

namespace {

const char GPC_PRODUCT[] = "Ext Trust Test";

std::string TrustFile(const std::string& name)
{
    return TestBinDir() + "ext_trust\\" + name;
}

void SetPolicyKey(const std::string& bytes)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, GPC_MANIFEST_POLICY_KEY, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &hKey, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, GPC_MANIFEST_POLICY_VALUE, 0, REG_BINARY,
                                            reinterpret_cast<const BYTE*>(bytes.data()),
                                            static_cast<DWORD>(bytes.size())));
    RegCloseKey(hKey);
}

// The urls of the item downloads (after the manifest's, whose name is the
// test's own), without their random suffix.
std::vector<std::string> ItemUrls(const FakeHost& host)
{
    std::vector<std::string> v;
    for (size_t i = 1; i < host.downloads.size(); ++i) {
        const std::string& url = host.downloads[i].url;
        v.push_back(url.substr(0, url.find('?')));
    }
    return v;
}

}  // namespace

// Every case starts with the publisher's key as the policy key and no
// accepted serial; the key is removed again after it.
class SignedManifest : public ExtensionTest {
protected:
    void SetUp() override
    {
        ExtensionTest::SetUp();
        m_strSigned = ReadFileBytes(TrustFile("signed.ini"));
        ASSERT_NE(std::string::npos, m_strSigned.find("[GpcManifestSignature]")) << "fixture missing";
        ForgetManifestSerials(GPC_PRODUCT);
        SetPolicyKey(ReadFileBytes(TrustFile("key.der")));
    }
    void TearDown() override
    {
        ExtensionTest::TearDown();
        DeleteRegTree(HKEY_LOCAL_MACHINE, GPC_MANIFEST_POLICY_KEY);
        ForgetManifestSerials(GPC_PRODUCT);
    }
    void StartWith(const std::string& manifest)
    {
        SetOrdinaryPage();
        EnableReports();
        ASSERT_EQ(0, Init());
        DeliverManifest(manifest);
    }
    std::string m_strSigned;
};

TEST_F(SignedManifest, VerifiedManifestAndFilesInstallAndTheSerialIsRecorded)
{
    StartWith(m_strSigned);
    CVRGpcExtension* p = Ext();
    EXPECT_EQ(0, p->m_bFailed);
    EXPECT_EQ(1, p->m_bReady);
    ASSERT_EQ(3u, m_pHost->downloads.size());
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: manifest signature verified: product Ext Trust Test, serial 7, "
                                  "3 file hash(es)"))
        << m_pTrace->Dump();
    EXPECT_EQ(7ul, GpcGetAcceptedSerial(GPC_PRODUCT));

    CompleteWith(1, "M");
    CompleteWith(2, "B");
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: hash of main.dll matches the signed manifest"));
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: hash of b.dll matches the signed manifest"));
    EXPECT_EQ("M", ReadFileBytes(ProductDir() + "\\main.dll"));
    EXPECT_EQ("B", ReadFileBytes(ProductDir() + "\\b.dll"));
    EXPECT_EQ(0, p->m_bFailed);
    EXPECT_TRUE(ReportedCodes().empty());
    // The same manifest at the next start is accepted again.
    TearDown();
    SetUp();
    GpcRecordAcceptedSerial(GPC_PRODUCT, 7);
    StartWith(m_strSigned);
    EXPECT_EQ(0, Ext()->m_bFailed);
    EXPECT_EQ(3u, m_pHost->downloads.size());
}

struct RefusedCase {
    const char* name;
    friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
    std::string (*make)(const std::string& signedText);
    unsigned long priorSerial;  // accepted before the start, 0 for none
    const char* reason;
    bool garbageKey;
};

const RefusedCase kRefusedCases[] = {
    {"changed manifest",
     [](const std::string& s) {
         std::string t = s;
         t.replace(t.find("Count=2"), 7, "Count=1");
         return t;
     },
     0, "bad signature", false},
    {"missing signature", [](const std::string& s) { return s.substr(0, s.find("[GpcManifestSignature]")); },
     0, "no signature", false},
    {"unsigned plain manifest",
     [](const std::string&) { return ReadFileBytes(TrustFile("plain.ini")); },
     0, "no signature", false},
    {"older serial replayed", [](const std::string& s) { return s; }, 8, "older serial", false},
    {"unreadable policy key", [](const std::string& s) { return s; }, 0, "unusable key", true},
};

class SignedManifestRefused : public SignedManifest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(SignedManifestRefused, RefusedManifestDownloadsNothingAndSaysWhy)
{
    const RefusedCase& c = GetParam();
    if (c.priorSerial) {
        ASSERT_EQ(1, GpcRecordAcceptedSerial(GPC_PRODUCT, c.priorSerial));
    }
    if (c.garbageKey) SetPolicyKey("not a key");
    StartWith(c.make(m_strSigned));
    CVRGpcExtension* p = Ext();
    EXPECT_EQ(1, p->m_bFailed);
    EXPECT_EQ(0, p->m_bReady);
    EXPECT_EQ(1u, m_pHost->downloads.size());  // the manifest alone
    EXPECT_EQ(0, p->m_InstallationMgr.GetItemCount());
    EXPECT_EQ(std::vector<int>{GPC_MSG_MANIFEST_REFUSED}, ReportedCodes()) << m_pTrace->Dump();
    EXPECT_TRUE(m_pTrace->Contains(std::string("refused: ") + c.reason)) << m_pTrace->Dump();
    // Nothing kept of it: no copy beside the library, no default for
    // the on-demand requests, no serial.
    EXPECT_FALSE(PathExists(TestBinDir() + m_strIniName));
    EXPECT_EQ('\0', p->m_achCurIniFile[0]);
    EXPECT_EQ(c.priorSerial, GpcGetAcceptedSerial(GPC_PRODUCT));
}

INSTANTIATE_TEST_SUITE_P(, SignedManifestRefused, ::testing::ValuesIn(kRefusedCases), CaseName());

TEST_F(SignedManifest, ChangedFileIsNeverUnpackedAndFailsItsItem)
{
    StartWith(m_strSigned);
    ASSERT_EQ(3u, m_pHost->downloads.size());
    CompleteWith(1, "changed");
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: download of main.dll refused: hash mismatch")) << m_pTrace->Dump();
    EXPECT_TRUE(m_pHost->unpacks.empty());
    EXPECT_FALSE(PathExists(ProductDir() + "\\main.dll"));
    EXPECT_EQ(ITEM_FAILED, Ext()->m_InstallationMgr.GetItem(0)->State);
    EXPECT_EQ(1, Ext()->m_bFailed);
    EXPECT_EQ(std::vector<int>{7}, ReportedCodes());
    // The good file beside it still installs.
    CompleteWith(2, "B");
    EXPECT_EQ("B", ReadFileBytes(ProductDir() + "\\b.dll"));
}

// Someone who can write the downloaded manifest rewrites it right after its
// signature was checked (at the moment the check is traced): the items must
// still be read from the bytes that were verified. The rewrite moves a
// signed file elsewhere, which its hash alone would not catch.
namespace {

class ManifestRewrite {
public:
    ManifestRewrite(TraceCapture* pTrace, const std::string& path, const std::string& text) : m_pTrace(pTrace)
    {
        m_pTrace->SetOnLine([this, path, text](const std::string& line) {
            if (m_bTried || line.find("manifest signature verified") == std::string::npos) return;
            m_bTried = true;
            HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) return;
            DWORD n = 0;
            WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
            CloseHandle(h);
        });
    }
    ~ManifestRewrite() { m_pTrace->SetOnLine(nullptr); }
    bool Tried() const { return m_bTried; }

private:
    TraceCapture* m_pTrace;
    bool m_bTried = false;
};

std::string Moved(std::string text, const std::string& entry, const std::string& folder)
{
    size_t pos = text.find(entry + ";;");
    if (pos != std::string::npos) text.replace(pos, entry.size() + 2, entry + ";" + folder + ";");
    return text;
}

}  // namespace

TEST_F(SignedManifest, StartUpManifestRewrittenAfterItsCheckIsReadAsVerified)
{
    SetOrdinaryPage();
    EnableReports();
    ASSERT_EQ(0, Init());
    ASSERT_EQ(1u, m_pHost->downloads.size());
    std::string path = WriteWorkFile("manifest_download.ini", m_strSigned);
    std::string rewritten = Moved(m_strSigned, "main.dll;main.dll", "moved");
    ASSERT_NE(m_strSigned, rewritten);
    {
        ManifestRewrite rewrite(m_pTrace.get(), path, rewritten);
        m_pHost->Complete(0, path.c_str());
        ASSERT_TRUE(rewrite.Tried()) << m_pTrace->Dump();
    }
    ASSERT_EQ(3u, m_pHost->downloads.size());
    CompleteWith(1, "M");
    CompleteWith(2, "B");
    EXPECT_EQ("M", ReadFileBytes(ProductDir() + "\\main.dll"));
    EXPECT_FALSE(PathExists(ProductDir() + "\\moved\\main.dll"));
}

TEST_F(SignedManifest, OnDemandManifestRewrittenAfterItsCheckIsReadAsVerified)
{
    SetOrdinaryPage();
    EnableReports();
    m_pHost->SetParam("GpcStdDownload", "yes");
    ASSERT_EQ(0, Init());
    std::string path = WriteWorkFile("ode.ini", m_strSigned);
    std::string rewritten = Moved(m_strSigned, "x.dat;x.dat", "moved");
    ASSERT_NE(m_strSigned, rewritten);
    {
        ManifestRewrite rewrite(m_pTrace.get(), path, rewritten);
        ASSERT_EQ(1, GpcStdDownloadExt(m_pHost->Cookie(), path.c_str(), "Extras", RecordOdeNotice, this));
        ASSERT_TRUE(rewrite.Tried()) << m_pTrace->Dump();
    }
    ASSERT_EQ(1u, m_pHost->downloads.size());
    CompleteWith(0, "X");
    EXPECT_EQ("X", ReadFileBytes(ProductDir() + "\\x.dat"));
    EXPECT_FALSE(PathExists(ProductDir() + "\\moved\\x.dat"));
}

// The dependency list comes from the page alone: with a key it ends as a
// refused manifest does, even when its files already lie in place (nothing
// to download, so no hash would ever be asked for) or are the very files
// the publisher signed.
TEST_F(SignedManifest, DependencyListInstallsRegistersAndLoadsNothing)
{
    CreateDirectoryA((m_pHost->directory + "\\" + m_strProductRoot).c_str(), nullptr);
    CreateDirectoryA(ProductDir().c_str(), nullptr);
    WriteFileBytes(ProductDir() + "\\main.dll", "M");
    SetOrdinaryPage();
    EnableReports();
    m_pHost->RemoveParam("GpcUnpackVersion");
    m_pHost->RemoveParam("GpcDownloadOnly");
    m_pHost->SetParam("GpcDependency", "main.dll;main.dll;;;;;r;existence;|b.dll;b.dll;;;;;;existence;");
    ASSERT_EQ(0, Init());
    Beat(3);
    EXPECT_TRUE(m_pHost->downloads.empty());
    EXPECT_EQ(0, Ext()->m_InstallationMgr.GetItemCount());
    EXPECT_FALSE(m_pTrace->Contains("Init the main component")) << m_pTrace->Dump();
    EXPECT_TRUE(m_pTrace->Contains("refused: no signed manifest")) << m_pTrace->Dump();
    EXPECT_EQ(std::vector<int>{GPC_MSG_MANIFEST_REFUSED}, ReportedCodes());
    EXPECT_EQ(1, Ext()->m_bFailed);
    EXPECT_EQ(0, Ext()->m_bReady);
    EXPECT_FALSE(PathExists(ProductDir() + "\\b.dll"));
}

TEST_F(SignedManifest, OnDemandManifestIsCheckedBeforeItsSectionIsRead)
{
    SetOrdinaryPage();
    EnableReports();
    m_pHost->SetParam("GpcStdDownload", "yes");
    ASSERT_EQ(0, Init());
    std::string good = WriteWorkFile("good.ini", m_strSigned);
    std::string changed = m_strSigned;
    changed.replace(changed.find("x.dat;x.dat"), 11, "x.dat;y.dat");
    std::string bad = WriteWorkFile("bad.ini", changed);

    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), bad.c_str(), "Extras"));
    EXPECT_EQ(0, Ext()->m_InstallationMgr.GetItemCount());
    EXPECT_EQ(0, GpcStdDownloadExt(m_pHost->Cookie(), bad.c_str(), "Extras", RecordOdeNotice, this));
    EXPECT_TRUE(m_pHost->downloads.empty());
    // Told once: the second call meets the same refusal.
    EXPECT_EQ(std::vector<int>{GPC_MSG_MANIFEST_REFUSED}, ReportedCodes());
    EXPECT_TRUE(m_pTrace->Contains("refused: bad signature"));
    // A refused manifest does not become the default one.
    EXPECT_EQ('\0', Ext()->m_achCurIniFile[0]);

    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), good.c_str(), "Extras"));
    EXPECT_EQ(1, Ext()->m_InstallationMgr.GetItemCount());
    ASSERT_EQ(1, GpcStdDownloadExt(m_pHost->Cookie(), good.c_str(), "Extras", RecordOdeNotice, this));
    ASSERT_EQ(1u, m_pHost->downloads.size());
    CompleteWith(0, "X");
    EXPECT_EQ("X", ReadFileBytes(ProductDir() + "\\x.dat"));
    EXPECT_EQ(1u, ReportedCodes().size());
}

// A page that polls a section of a refused manifest is told "no" every
// time, but the user sees the message, and the server gets the report, once
// for that manifest and reason; another refused manifest is told again.
TEST_F(SignedManifest, PollingARefusedManifestShowsAndReportsItOnce)
{
    SetOrdinaryPage();
    EnableReports();
    m_pHost->SetParam("GpcStdDownload", "yes");
    ASSERT_EQ(0, Init());
    std::string changed = m_strSigned;
    changed.replace(changed.find("x.dat;x.dat"), 11, "x.dat;y.dat");
    std::string bad = WriteWorkFile("bad.ini", changed);
    std::string unsigned_ = WriteWorkFile("unsigned.ini", ReadFileBytes(TrustFile("plain.ini")));

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), bad.c_str(), "Extras"));
    }
    EXPECT_EQ(0, GpcStdDownloadExt(m_pHost->Cookie(), bad.c_str(), "Extras", RecordOdeNotice, this));
    EXPECT_EQ(std::vector<int>{GPC_MSG_MANIFEST_REFUSED}, ReportedCodes()) << m_pTrace->Dump();
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), unsigned_.c_str(), "Extras"));
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), unsigned_.c_str(), "Extras"));
    EXPECT_EQ((std::vector<int>{GPC_MSG_MANIFEST_REFUSED, GPC_MSG_MANIFEST_REFUSED}), ReportedCodes());
    EXPECT_TRUE(m_pHost->downloads.empty());
}

// Each on-demand request's files are checked against the manifest that
// request was started with: another manifest checked while it runs (here
// one that is refused) changes nothing for it.
TEST_F(SignedManifest, OnDemandDownloadIsCheckedAgainstItsOwnRequestsManifest)
{
    SetOrdinaryPage();
    EnableReports();
    m_pHost->SetParam("GpcStdDownload", "yes");
    ASSERT_EQ(0, Init());
    std::string good = WriteWorkFile("good.ini", m_strSigned);
    std::string changed = m_strSigned;
    changed.replace(changed.find("x.dat;x.dat"), 11, "x.dat;y.dat");
    std::string bad = WriteWorkFile("bad.ini", changed);

    ASSERT_EQ(1, GpcStdDownloadExt(m_pHost->Cookie(), good.c_str(), "Extras", RecordOdeNotice, this));
    ASSERT_EQ(1u, m_pHost->downloads.size());
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), bad.c_str(), "Extras"));
    ASSERT_TRUE(m_pTrace->Contains("refused: bad signature")) << m_pTrace->Dump();
    CompleteWith(0, "X");
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: hash of x.dat matches the signed manifest")) << m_pTrace->Dump();
    EXPECT_EQ("X", ReadFileBytes(ProductDir() + "\\x.dat"));
}

// Without any key a signed manifest is just a manifest: the same items,
// downloads and installed files as its unsigned original, and not one
// trace line, report or result about signatures.
TEST_F(SignedManifest, WithoutAKeyASignedManifestReadsAndInstallsAsToday)
{
    const std::string plain = ReadFileBytes(TrustFile("plain.ini"));
    std::vector<std::string> urls[2];
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i ? "signed" : "plain");
        TearDown();
        SetUp();
        DeleteRegTree(HKEY_LOCAL_MACHINE, GPC_MANIFEST_POLICY_KEY);
        StartWith(i ? m_strSigned : plain);
        urls[i] = ItemUrls(*m_pHost);
        CompleteWith(1, "not what was signed");
        CompleteWith(2, "B");
        EXPECT_EQ("not what was signed", ReadFileBytes(ProductDir() + "\\main.dll"));
        EXPECT_EQ("B", ReadFileBytes(ProductDir() + "\\b.dll"));
        EXPECT_EQ(0, Ext()->m_bFailed);
        EXPECT_TRUE(ReportedCodes().empty());
        EXPECT_FALSE(m_pTrace->Contains("signature"));
        EXPECT_FALSE(m_pTrace->Contains("hash"));
        EXPECT_FALSE(m_pTrace->Contains("refused"));
        EXPECT_EQ(0ul, GpcGetAcceptedSerial(GPC_PRODUCT));
    }
    EXPECT_EQ(2u, urls[0].size());
    EXPECT_EQ(urls[0], urls[1]);
}

// Only downloads are hashed: a file that is installed and current is not
// downloaded, so nothing reads it at the start-up.
TEST_F(SignedManifest, InstalledCurrentFileIsNeitherDownloadedNorHashed)
{
    CreateDirectoryA((m_pHost->directory + "\\" + m_strProductRoot).c_str(), nullptr);
    CreateDirectoryA(ProductDir().c_str(), nullptr);
    WriteFileBytes(ProductDir() + "\\b.dll", "installed earlier");
    StartWith(m_strSigned);
    ASSERT_EQ(2u, m_pHost->downloads.size());  // the manifest and main.dll
    CompleteWith(1, "M");
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: hash of main.dll matches the signed manifest"));
    EXPECT_FALSE(m_pTrace->Contains("b.dll matches"));
    EXPECT_FALSE(m_pTrace->Contains("b.dll refused"));
    EXPECT_EQ("installed earlier", ReadFileBytes(ProductDir() + "\\b.dll"));
    EXPECT_EQ(0, Ext()->m_bFailed);
}

// A page that asks for a start without installation is still a page: the
// keys hold for the on-demand requests of such a start as for any other.
TEST_F(SignedManifest, SuppressedStartStillRefusesAnUnsignedOnDemandManifest)
{
    SetOrdinaryPage();
    EnableReports();
    m_pHost->SetParam("GpcSuppressInstallation", "TRUE");
    ASSERT_EQ(0, Init());
    Beat(3);
    ASSERT_EQ(1, Ext()->m_bDownloadDone) << m_pTrace->Dump();
    std::string unsigned_ = WriteWorkFile("unsigned.ini", "[Extras]\nCount=1\nFile1=x.dat;x.dat;;;;1;r;existence;\n");
    EXPECT_EQ(0, GpcStdDownloadExt(m_pHost->Cookie(), unsigned_.c_str(), "Extras", RecordOdeNotice, this));
    EXPECT_TRUE(m_pHost->downloads.empty());
    EXPECT_TRUE(m_pTrace->Contains("refused: no signature")) << m_pTrace->Dump();
    EXPECT_EQ(std::vector<int>{GPC_MSG_MANIFEST_REFUSED}, ReportedCodes());

    // A signed one is read, and its file is still checked.
    std::string good = WriteWorkFile("good.ini", m_strSigned);
    ASSERT_EQ(1, GpcStdDownloadExt(m_pHost->Cookie(), good.c_str(), "Extras", RecordOdeNotice, this));
    ASSERT_EQ(1u, m_pHost->downloads.size());
    CompleteWith(0, "changed");
    EXPECT_TRUE(m_pTrace->HasLine("vrgpcext: download of x.dat refused: hash mismatch")) << m_pTrace->Dump();
    EXPECT_FALSE(PathExists(ProductDir() + "\\x.dat"));
}

// A manifest signed for a name is good under that name only: served, or
// handed to an on-demand call, under another one it is refused as any
// manifest that fails its check. Manifests signed without a name (the
// fixture of every other case here) are taken under any name.
TEST_F(SignedManifest, ManifestSignedForOneNameIsRefusedUnderAnother)
{
    const std::string named = ReadFileBytes(TrustFile("named.ini"));
    ASSERT_NE(std::string::npos, named.find("\nName=named_manifest.ini")) << "fixture missing";
    const std::string copy = TestBinDir() + "named_manifest.ini";

    // Start-up: asked for under another name.
    StartWith(named);
    EXPECT_EQ(1, Ext()->m_bFailed);
    EXPECT_EQ(1u, m_pHost->downloads.size());
    EXPECT_TRUE(m_pTrace->Contains("refused: signed for another name")) << m_pTrace->Dump();
    EXPECT_EQ(std::vector<int>{GPC_MSG_MANIFEST_REFUSED}, ReportedCodes());

    // Start-up: asked for under its own name, in another case.
    TearDown();
    SetUp();
    SetOrdinaryPage();
    EnableReports();
    m_pHost->SetParam("GpcIniFileName", "Named_Manifest.INI");
    ASSERT_EQ(0, Init());
    DeliverManifest(named);
    EXPECT_EQ(0, Ext()->m_bFailed) << m_pTrace->Dump();
    EXPECT_EQ(3u, m_pHost->downloads.size());
    CompleteWith(1, "M");
    CompleteWith(2, "B");
    Beat(3);
    ASSERT_EQ(1, Ext()->m_bDownloadDone) << m_pTrace->Dump();
    // The start-up's own copy stays good for the on-demand calls.
    EXPECT_EQ(1, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), nullptr, "Corvo")) << m_pTrace->Dump();

    // On demand: the file's own name is the one asked for.
    std::string good = WriteWorkFile("named_manifest.ini", named);
    std::string other = WriteWorkFile("gpcnt.ini", named);
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), other.c_str(), "Extras"));
    EXPECT_EQ(std::vector<int>{GPC_MSG_MANIFEST_REFUSED}, ReportedCodes());
    EXPECT_EQ(0, GpcOdeGetSectionIntegrity(m_pHost->Cookie(), good.c_str(), "Extras"));
    EXPECT_EQ(1, Ext()->m_InstallationMgr.GetItemCount());
    DeleteFileA(copy.c_str());
}

// Someone who can write the downloaded file rewrites it right after its hash
// was found good (at the moment that is traced): the rewrite must fail, and
// what is installed is what was hashed, for the start-up's files and for
// an on-demand request's alike.
TEST_F(SignedManifest, DownloadRewrittenAfterItsHashIsUnpackedAsHashed)
{
    struct Case {
        const char* name;
        bool onDemand;
    } cases[] = {{"start-up", false}, {"on demand", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        SetOrdinaryPage();
        EnableReports();
        size_t nItem = 1;
        std::string file = "main.dll";
        std::string bytes = "M";
        if (c.onDemand) {
            m_pHost->SetParam("GpcStdDownload", "yes");
            ASSERT_EQ(0, Init());
            std::string ode = WriteWorkFile("ode.ini", m_strSigned);
            ASSERT_EQ(1, GpcStdDownloadExt(m_pHost->Cookie(), ode.c_str(), "Extras", RecordOdeNotice, this));
            nItem = 0;
            file = "x.dat";
            bytes = "X";
        } else {
            ASSERT_EQ(0, Init());
            DeliverManifest(m_strSigned);
        }
        ASSERT_LT(nItem, m_pHost->downloads.size());
        std::string path = WriteWorkFile("held" + std::to_string(nItem) + ".bin", bytes);
        bool bTried = false;
        DWORD dwWriteError = 0;
        m_pTrace->SetOnLine([&](const std::string& line) {
            if (bTried || line.find("hash of " + file + " matches") == std::string::npos) return;
            bTried = true;
            HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                dwWriteError = GetLastError();
                return;
            }
            DWORD n = 0;
            WriteFile(h, "evil", 4, &n, nullptr);
            CloseHandle(h);
        });
        m_pHost->Complete(nItem, path.c_str());
        m_pTrace->SetOnLine(nullptr);
        ASSERT_TRUE(bTried) << m_pTrace->Dump();
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), dwWriteError);
        EXPECT_EQ(bytes, ReadFileBytes(ProductDir() + "\\" + file));
        // Once unpacked the file is let go: the host may delete it.
        EXPECT_TRUE(DeleteFileA(path.c_str()));
    }
}

// What runs is what was signed: a component already in place is found
// current and never downloaded, so it is hashed before it is loaded. One
// whose bytes are not the signed ones is refused (message 23, nothing
// loaded); the signed one passes, and its hash is kept so that the next
// start, while the file is unchanged, does not read it again.
TEST_F(SignedManifest, ComponentFoundCurrentIsCheckedBeforeItLoads)
{
    struct Case {
        const char* name;
        const char* bytes;
        bool accepted;
    } cases[] = {{"planted bytes", "planted", false}, {"signed bytes", "M", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        CreateDirectoryA((m_pHost->directory + "\\" + m_strProductRoot).c_str(), nullptr);
        CreateDirectoryA(ProductDir().c_str(), nullptr);
        WriteFileBytes(ProductDir() + "\\main.dll", c.bytes);
        WriteFileBytes(ProductDir() + "\\b.dll", "B");
        SetOrdinaryPage();
        m_pHost->RemoveParam("GpcDownloadOnly");
        EnableReports();
        for (int nStart = 0; nStart < (c.accepted ? 2 : 1); ++nStart) {
            SCOPED_TRACE(nStart ? "next start" : "first start");
            m_pTrace->Clear();
            m_pHost->downloads.clear();
            ASSERT_EQ(0, Init());
            DeliverManifest(m_strSigned);
            ASSERT_EQ(1u, m_pHost->downloads.size());  // both files are current
            Beat(3);
            const std::string path = ProductDir() + "\\main.dll";
            bool bRefused = m_pTrace->HasLine("vrgpcext: " + path + " refused before it runs: hash mismatch");
            EXPECT_EQ(!c.accepted, bRefused) << m_pTrace->Dump();
            if (!c.accepted) {
                EXPECT_EQ(std::vector<int>{GPC_MSG_MANIFEST_REFUSED}, ReportedCodes());
                EXPECT_EQ(1, Ext()->m_bFailed);
            } else {
                // "M" is no library: the load itself then fails (message 18).
                EXPECT_EQ(std::vector<int>{18}, ReportedCodes());
                EXPECT_EQ(nStart == 0, m_pTrace->HasLine("vrgpcext: hash of the installed " + path +
                                                         " matches the signed manifest"));
                EXPECT_EQ(nStart == 1, m_pTrace->HasLine("vrgpcext: " + path + " is unchanged since it was verified"));
            }
            Exit();
            ResetModuleStateForTesting();
        }
        EXPECT_EQ(c.bytes, ReadFileBytes(ProductDir() + "\\main.dll"));
    }
}
