// Signed manifests: the format, the signature check with the system's
// CryptoAPI, file hashes, where keys come from, the serial store, and that a
// signed manifest reads exactly like the unsigned one.
//
// The keys and signed.ini are made at build time by tools/gpcsign.py (see
// CMakeLists.txt): key.der signed plain.ini with serial 7 and product
// "Trust Test", listing the files of site/ and the dependency dep.dll.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "install/installation_mgr.h"
#include "install/manifest_trust.h"
#include "support/registry.h"

namespace {

std::string ExeDir()
{
    char ach[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, ach, sizeof(ach));
    std::string s(ach, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

std::string Fixture(const std::string& name)
{
    return ExeDir() + "manifest_trust\\" + name;
}

std::string ReadBytes(const std::string& path)
{
    std::string s;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

void WriteBytes(const std::string& path, const std::string& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

std::string TempPath(const char* lpszName)
{
    char achDir[MAX_PATH];
    GetTempPathA(sizeof(achDir), achDir);
    return std::string(achDir) + "gpc_trust_" + lpszName;
}

const unsigned char* Bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string Replace(std::string s, const std::string& from, const std::string& to)
{
    size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

std::string Hex(const unsigned char* p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

const char GPC_PRODUCT[] = "Trust Test";

void SetSerial(HKEY hRoot, const char* lpszProduct, DWORD dwSerial)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(hRoot, GPC_MANIFEST_SERIALS_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             &hKey, nullptr));
    RegSetValueExA(hKey, lpszProduct, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwSerial), sizeof(dwSerial));
    RegCloseKey(hKey);
}

bool NoProviderRun()
{
    return getenv("GPC_EXPECT_NO_PROVIDER") != nullptr;
}

// --- The format -----------------------------------------------------------

TEST(SignedManifestFormat, PublishersToolOutputParses)
{
    std::string signedText = ReadBytes(Fixture("signed.ini"));
    ASSERT_FALSE(signedText.empty());
    CVRGpcSignedManifest m;
    ASSERT_EQ(GPC_TRUST_OK, m.Parse(Bytes(signedText), signedText.size()));
    EXPECT_EQ(7u, m.GetSerial());
    EXPECT_STREQ(GPC_PRODUCT, m.GetProduct());
    EXPECT_EQ(signedText.find("[GpcManifestSignature]"), m.GetSignedLength());
    EXPECT_EQ(384u, m.GetSignatureLength());  // RSA 3,072 bits
    // Every Url of every section's entries, and the dependency named apart.
    EXPECT_EQ(5, m.GetHashCount());
    for (const char* url : {"bin/viewer.dll", "docs/readme.tx_", "data.bin", "extra.txt", "dep.dll"}) {
        EXPECT_TRUE(m.FindHash(url, nullptr)) << url;
    }
}

struct DamageCase {
    const char* name;
    const char* file;
    const char* from;    // replaced once in signed.ini (empty: nothing)
    const char* to;
    const char* append;  // then appended
    int expected;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedManifest : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedManifest, IsRefusedBeforeAnyKeyIsTried)
{
    const DamageCase& c = GetParam();
    std::string text = ReadBytes(Fixture(c.file));
    ASSERT_FALSE(text.empty());
    if (c.from[0] != '\0') {
        ASSERT_NE(std::string::npos, text.find(c.from)) << c.from;
        text = Replace(text, c.from, c.to);
    }
    text += c.append;
    CVRGpcSignedManifest m;
    EXPECT_EQ(c.expected, m.Parse(Bytes(text), text.size()));
    if (c.expected != GPC_TRUST_OK) {
        EXPECT_EQ(0, m.GetHashCount());
        EXPECT_EQ(0u, m.GetSerial());
    }
}

const DamageCase GPC_DAMAGE[] = {
    {"UnsignedManifest", "plain.ini", "", "", "", GPC_TRUST_UNSIGNED},
    {"SectionAppendedAfterSignature", "signed.ini", "", "", "[Corvo]\r\nCount=1\r\n", GPC_TRUST_MALFORMED},
    {"KeyAppendedAfterSignature", "signed.ini", "", "", "File9=evil.exe;evil.exe;;;;;e\r\n", GPC_TRUST_MALFORMED},
    {"BlankAppendedAfterSignature", "signed.ini", "", "", " \r\n", GPC_TRUST_MALFORMED},
    {"OnlyLineEndsAppended", "signed.ini", "", "", "\r\n\n\r\n", GPC_TRUST_OK},
    {"HeaderNotAtLineStart", "signed.ini", "\r\n[GpcManifestSignature]", " [GpcManifestSignature]", "", GPC_TRUST_MALFORMED},
    {"HeaderWithBlanks", "signed.ini", "[GpcManifestSignature]", "[ GpcManifestSignature ]", "", GPC_TRUST_MALFORMED},
    {"SignatureLineMissing", "signed.ini", "\r\nSignature=", "\r\nX=", "", GPC_TRUST_MALFORMED},
    {"SignatureNotBase64", "signed.ini", "Signature=", "Signature=*", "", GPC_TRUST_MALFORMED},
    {"SignatureWithBlank", "signed.ini", "Signature=", "Signature= ", "", GPC_TRUST_MALFORMED},
    {"SerialMissing", "signed.ini", "Serial=7", "Serials=7", "", GPC_TRUST_MALFORMED},
    {"SerialZero", "signed.ini", "Serial=7", "Serial=0", "", GPC_TRUST_MALFORMED},
    {"SerialWithSuffix", "signed.ini", "Serial=7", "Serial=7b", "", GPC_TRUST_MALFORMED},
    {"ProductMissing", "signed.ini", "Product=", "Producer=", "", GPC_TRUST_MALFORMED},
    {"ProductEmpty", "signed.ini", "Product=Trust Test", "Product=", "", GPC_TRUST_MALFORMED},
    {"HashTooShort", "signed.ini", "bin/viewer.dll=", "bin/viewer.dll=0", "", GPC_TRUST_MALFORMED},
    {"HashNotHex", "signed.ini", "data.bin=", "data.bin=g", "", GPC_TRUST_MALFORMED},
    {"HashLineWithoutEquals", "signed.ini", "\r\n[GpcManifestSignature]", "\r\njunk\r\n[GpcManifestSignature]", "",
     GPC_TRUST_MALFORMED},
    {"SecondHashSection", "signed.ini", "\r\n[GpcManifestSignature]", "\r\n[GpcManifestHashes]\r\n[GpcManifestSignature]", "",
     GPC_TRUST_MALFORMED},
};

INSTANTIATE_TEST_SUITE_P(, DamagedManifest, testing::ValuesIn(GPC_DAMAGE),
                         [](const testing::TestParamInfo<DamageCase>& i) { return std::string(i.param.name); });

// A manifest typed by hand; its signature is three zero bytes, which the
// format accepts and only the key check would refuse.
const char GPC_HAND_WRITTEN[] =
    "[Corvo]\n"
    "Count=1\n"
    "[gpcmanifestinfo]\n"
    " Serial = 4294967295 \n"
    "Product=  Name with = sign\n"
    "Serial=3\n"
    "[ GpcManifestHashes ]\n"
    "Bin/Viewer.DLL = 00112233445566778899AABBCCDDEEFF00112233445566778899aabbccddeeff\r\n"
    "\n"
    "get.php?f=a.dll=ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff\n"
    "bin/viewer.dll=0000000000000000000000000000000000000000000000000000000000000000\n"
    "[Other]\n"
    "not a hash line\n"
    "[GpcManifestSignature]\n"
    "Signature=AAAA\n";

TEST(SignedManifestFormat, HashesAreFoundByUrlWithoutCaseFirstLineWinning)
{
    CVRGpcSignedManifest m;
    ASSERT_EQ(GPC_TRUST_OK, m.Parse(reinterpret_cast<const unsigned char*>(GPC_HAND_WRITTEN), strlen(GPC_HAND_WRITTEN)));
    EXPECT_EQ(4294967295u, m.GetSerial());  // the first Serial line counts
    EXPECT_STREQ("Name with = sign", m.GetProduct());
    EXPECT_EQ(3u, m.GetSignatureLength());
    EXPECT_EQ(3, m.GetHashCount());

    unsigned char ab[GPC_SHA256_SIZE];
    ASSERT_TRUE(m.FindHash("bin/viewer.dll", ab));
    EXPECT_EQ("00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff", Hex(ab, sizeof(ab)));
    // A Url may hold "=": the hash is what follows the last one.
    ASSERT_TRUE(m.FindHash("get.php?f=a.dll", ab));
    EXPECT_EQ(std::string(64, 'f'), Hex(ab, sizeof(ab)));
    EXPECT_FALSE(m.FindHash("viewer.dll", ab));
    EXPECT_FALSE(m.FindHash("", ab));
    EXPECT_FALSE(m.FindHash(nullptr, ab));
}

struct SerialCase {
    const char* text;
    int ok;
    unsigned long value;
};

TEST(SignedManifestFormat, SerialIsAPlainPositiveDecimalOf32Bits)
{
    const SerialCase cases[] = {
        {"1", 1, 1}, {"42", 1, 42}, {"0000000042", 1, 42}, {"4294967295", 1, 4294967295u},
        {"0", 0, 0}, {"4294967296", 0, 0}, {"00000000042", 0, 0}, {"-1", 0, 0}, {"+5", 0, 0},
        {"12a", 0, 0}, {"1 2", 0, 0}, {"", 0, 0}, {"0x10", 0, 0},
    };
    for (const SerialCase& c : cases) {
        unsigned long dw = 99;
        EXPECT_EQ(c.ok, GpcParseSerial(c.text, &dw)) << c.text;
        EXPECT_EQ(c.ok ? c.value : 99u, dw) << c.text;
    }
}

TEST(SignedManifestFormat, Base64IsStrict)
{
    struct {
        const char* text;
        int ok;
        const char* decoded;
    } cases[] = {
        {"YWJj", 1, "abc"}, {"YWI=", 1, "ab"}, {"YQ==", 1, "a"}, {"YQ=", 0, ""}, {"Y===", 0, ""},
        {"YQ==YWJj", 0, ""}, {"YW=j", 0, ""}, {"YW J", 0, ""}, {"", 0, ""}, {"YWJ-", 0, ""},
    };
    for (const auto& c : cases) {
        unsigned char ab[8] = {};
        size_t n = 0;
        EXPECT_EQ(c.ok, GpcDecodeBase64(c.text, strlen(c.text), ab, sizeof(ab), &n)) << c.text;
        if (c.ok) {
            EXPECT_EQ(std::string(c.decoded), std::string(reinterpret_cast<char*>(ab), n)) << c.text;
        }
    }
    // Output that would not fit is refused, not cut.
    unsigned char ab[2];
    size_t n = 0;
    EXPECT_EQ(0, GpcDecodeBase64("YWJj", 4, ab, sizeof(ab), &n));
}

TEST(SignedManifestFormat, PublicKeyIsTakenAsDerOrPem)
{
    std::string der = ReadBytes(Fixture("key.der"));
    std::string pem = ReadBytes(Fixture("key_pub.pem"));
    ASSERT_FALSE(der.empty());
    ASSERT_NE(std::string::npos, pem.find("-----BEGIN PUBLIC KEY-----"));
    std::vector<unsigned char> out(GPC_MAX_PUBLIC_KEY);
    size_t n = 0;
    ASSERT_EQ(1, GpcDecodePublicKey(Bytes(der), der.size(), out.data(), out.size(), &n));
    EXPECT_EQ(der, std::string(out.begin(), out.begin() + n));
    // PEM with CRLF line ends and a terminator, as a REG_SZ holds it.
    std::string pemCrLf;
    for (char c : pem) pemCrLf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
    pemCrLf += '\0';
    ASSERT_EQ(1, GpcDecodePublicKey(Bytes(pemCrLf), pemCrLf.size(), out.data(), out.size(), &n));
    EXPECT_EQ(der, std::string(out.begin(), out.begin() + n));
    const std::string junk = "not a key at all";
    EXPECT_EQ(0, GpcDecodePublicKey(Bytes(junk), junk.size(), out.data(), out.size(), &n));
}

// --- The signature, with the system's CryptoAPI ---------------------------

class SignatureCheck : public testing::Test {
protected:
    void SetUp() override
    {
        if (NoProviderRun()) GTEST_SKIP() << "the provider is switched off in this run";
        ForgetManifestSerials();
        m_strSigned = ReadBytes(Fixture("signed.ini"));
        ASSERT_FALSE(m_strSigned.empty());
    }
    void TearDown() override { ForgetManifestSerials(); }

    int Check(const std::string& text, const char* lpszKeyFile)
    {
        CVRGpcTrustKeys keys;
        std::string key = ReadBytes(Fixture(lpszKeyFile));
        if (keys.AddKey(Bytes(key), key.size()) != GPC_TRUST_OK) return -1;
        CVRGpcSignedManifest m;
        return GpcCheckManifest(Bytes(text), text.size(), keys, &m);
    }

    std::string m_strSigned;
};

TEST_F(SignatureCheck, GoodSignatureVerifies)
{
    EXPECT_EQ(GPC_TRUST_OK, Check(m_strSigned, "key.der"));
    EXPECT_EQ(GPC_TRUST_OK, Check(m_strSigned, "key_pub.pem"));
    // Line ends after the signature are not signed and change nothing.
    EXPECT_EQ(GPC_TRUST_OK, Check(m_strSigned + "\r\n\r\n", "key.der"));
}

TEST_F(SignatureCheck, AnyChangedByteOfTheSignedPartFails)
{
    size_t nSigned = m_strSigned.find("[GpcManifestSignature]");
    ASSERT_NE(std::string::npos, nSigned);
    CVRGpcTrustKeys keys;
    std::string key = ReadBytes(Fixture("key.der"));
    ASSERT_EQ(GPC_TRUST_OK, keys.AddKey(Bytes(key), key.size()));
    // Every 23rd byte, and the first and last signed bytes: each change
    // breaks the signature or the format, never passes.
    std::vector<size_t> offsets = {0, nSigned - 2, nSigned - 1};
    for (size_t i = 11; i < nSigned; i += 23) offsets.push_back(i);
    for (size_t at : offsets) {
        std::string text = m_strSigned;
        text[at] = static_cast<char>(text[at] ^ 0x01);
        CVRGpcSignedManifest m;
        int n = GpcCheckManifest(Bytes(text), text.size(), keys, &m);
        EXPECT_TRUE(n == GPC_TRUST_BAD_SIGNATURE || n == GPC_TRUST_MALFORMED) << "byte " << at << ": " << n;
    }
    // A change of the manifest's own entries, which keeps the format intact.
    EXPECT_EQ(GPC_TRUST_BAD_SIGNATURE, Check(Replace(m_strSigned, "%system%", "%windows%"), "key.der"));
    EXPECT_EQ(GPC_TRUST_BAD_SIGNATURE, Check(Replace(m_strSigned, "Serial=7", "Serial=9"), "key.der"));
}

TEST_F(SignatureCheck, ChangedSignatureMissingSignatureAndWrongKeyFail)
{
    size_t at = m_strSigned.find("Signature=") + 20;
    std::string changed = m_strSigned;
    changed[at] = changed[at] == 'A' ? 'B' : 'A';
    EXPECT_EQ(GPC_TRUST_BAD_SIGNATURE, Check(changed, "key.der"));
    EXPECT_EQ(GPC_TRUST_UNSIGNED, Check(ReadBytes(Fixture("plain.ini")), "key.der"));
    EXPECT_EQ(GPC_TRUST_BAD_SIGNATURE, Check(m_strSigned, "other.der"));
    // The signed part alone, its signature cut off.
    EXPECT_EQ(GPC_TRUST_UNSIGNED, Check(m_strSigned.substr(0, m_strSigned.find("[GpcManifestSignature]")),
                                        "key.der"));
}

TEST_F(SignatureCheck, OneOfTheConfiguredKeysMustVerify)
{
    CVRGpcTrustKeys keys;
    std::string other = ReadBytes(Fixture("other.der"));
    std::string key = ReadBytes(Fixture("key_pub.pem"));
    ASSERT_EQ(GPC_TRUST_OK, keys.AddKey(Bytes(other), other.size()));
    ASSERT_EQ(GPC_TRUST_OK, keys.AddKey(Bytes(key), key.size()));
    CVRGpcSignedManifest m;
    EXPECT_EQ(GPC_TRUST_OK, GpcCheckManifest(Bytes(m_strSigned), m_strSigned.size(), keys, &m));
}

TEST_F(SignatureCheck, UnusableKeyRefusesEveryManifest)
{
    CVRGpcTrustKeys keys;
    std::string key = ReadBytes(Fixture("key.der"));
    ASSERT_EQ(GPC_TRUST_OK, keys.AddKey(Bytes(key), key.size()));
    const std::string junk = "-----BEGIN PUBLIC KEY-----\nnot base64\n-----END PUBLIC KEY-----\n";
    EXPECT_EQ(GPC_TRUST_BAD_KEY, keys.AddKey(Bytes(junk), junk.size()));
    EXPECT_TRUE(keys.IsConfigured());
    CVRGpcSignedManifest m;
    EXPECT_EQ(GPC_TRUST_BAD_KEY, GpcCheckManifest(Bytes(m_strSigned), m_strSigned.size(), keys, &m));

    // Well-formed DER that is no RSA public key (the key's first bytes cut).
    CVRGpcTrustKeys cut;
    std::string truncated = key.substr(0, 40);
    ASSERT_EQ(GPC_TRUST_OK, cut.AddKey(Bytes(truncated), truncated.size()));
    EXPECT_EQ(GPC_TRUST_BAD_KEY, GpcCheckManifest(Bytes(m_strSigned), m_strSigned.size(), cut, &m));
}

TEST_F(SignatureCheck, WithoutAKeyNothingIsReadOrChecked)
{
    CVRGpcTrustKeys keys;
    EXPECT_FALSE(keys.IsConfigured());
    CVRGpcSignedManifest m;
    EXPECT_EQ(GPC_TRUST_NO_KEY, GpcCheckManifest(Bytes(m_strSigned), m_strSigned.size(), keys, &m));
    EXPECT_EQ(GPC_TRUST_NO_KEY, GpcCheckManifestFile("C:\\no\\such\\manifest.ini", keys, &m));
    EXPECT_EQ(GPC_TRUST_NO_KEY, GpcVerifyManifestSignature(keys, Bytes(m_strSigned), m));
}

TEST_F(SignatureCheck, ManifestFileIsCheckedAsItsBytes)
{
    CVRGpcTrustKeys keys;
    std::string key = ReadBytes(Fixture("key.der"));
    ASSERT_EQ(GPC_TRUST_OK, keys.AddKey(Bytes(key), key.size()));
    CVRGpcSignedManifest m;
    EXPECT_EQ(GPC_TRUST_OK, GpcCheckManifestFile(Fixture("signed.ini").c_str(), keys, &m));
    EXPECT_EQ(7u, m.GetSerial());
    EXPECT_EQ(GPC_TRUST_UNSIGNED, GpcCheckManifestFile(Fixture("plain.ini").c_str(), keys, &m));
    EXPECT_EQ(GPC_TRUST_READ_ERROR, GpcCheckManifestFile(Fixture("missing.ini").c_str(), keys, &m));
}

// --- Where keys come from ---------------------------------------------------

TEST_F(SignatureCheck, BuiltInKeyIsTheModulesOwnResource)
{
    CVRGpcTrustKeys keys;
    EXPECT_EQ(GPC_TRUST_OK, keys.LoadBuiltIn(GetModuleHandleA(nullptr)));
    CVRGpcSignedManifest m;
    EXPECT_EQ(GPC_TRUST_OK, GpcCheckManifest(Bytes(m_strSigned), m_strSigned.size(), keys, &m));

    CVRGpcTrustKeys none;
    EXPECT_EQ(GPC_TRUST_NO_KEY, none.LoadBuiltIn(GetModuleHandleA("kernel32.dll")));
    EXPECT_FALSE(none.IsConfigured());
}

struct PolicyCase {
    const char* name;
    DWORD type;
    const char* file;   // the value's bytes come from this fixture...
    const char* text;   // ...or are this text
    int loaded;
    int checked;
};

void PrintTo(const PolicyCase& c, std::ostream* os) { *os << c.name; }

class PolicyKey : public testing::TestWithParam<PolicyCase> {
protected:
    void SetUp() override
    {
        if (NoProviderRun()) GTEST_SKIP() << "the provider is switched off in this run";
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, GPC_MANIFEST_POLICY_KEY);
        ForgetManifestSerials();
    }
    void TearDown() override
    {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, GPC_MANIFEST_POLICY_KEY);
        ForgetManifestSerials();
    }
};

TEST_P(PolicyKey, AdministratorsKeyIsReadFromTheMachinePolicy)
{
    const PolicyCase& c = GetParam();
    if (c.type != REG_NONE) {
        HKEY hKey = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, GPC_MANIFEST_POLICY_KEY, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, &hKey, nullptr));
        std::string value = c.file ? ReadBytes(Fixture(c.file)) : std::string(c.text);
        if (c.type == REG_SZ) value += '\0';
        if (c.file || c.text[0]) {
            RegSetValueExA(hKey, GPC_MANIFEST_POLICY_VALUE, 0, c.type, Bytes(value),
                           static_cast<DWORD>(value.size()));
        }
        RegCloseKey(hKey);
    }
    CVRGpcTrustKeys keys;
    EXPECT_EQ(c.loaded, keys.LoadPolicy());
    std::string text = ReadBytes(Fixture("signed.ini"));
    CVRGpcSignedManifest m;
    EXPECT_EQ(c.checked, GpcCheckManifest(Bytes(text), text.size(), keys, &m));
}

const PolicyCase GPC_POLICY[] = {
    {"NoPolicyKey", REG_NONE, nullptr, "", GPC_TRUST_NO_KEY, GPC_TRUST_NO_KEY},
    {"PolicyKeyWithoutValue", REG_SZ, nullptr, "", GPC_TRUST_NO_KEY, GPC_TRUST_NO_KEY},
    {"BinaryDer", REG_BINARY, "key.der", nullptr, GPC_TRUST_OK, GPC_TRUST_OK},
    {"PemText", REG_SZ, "key_pub.pem", nullptr, GPC_TRUST_OK, GPC_TRUST_OK},
    {"OtherPublishersKey", REG_BINARY, "other.der", nullptr, GPC_TRUST_OK, GPC_TRUST_BAD_SIGNATURE},
    {"Garbage", REG_SZ, nullptr, "please trust me", GPC_TRUST_BAD_KEY, GPC_TRUST_BAD_KEY},
    {"NumberValue", REG_DWORD, nullptr, "1234", GPC_TRUST_BAD_KEY, GPC_TRUST_BAD_KEY},
};

INSTANTIATE_TEST_SUITE_P(, PolicyKey, testing::ValuesIn(GPC_POLICY),
                         [](const testing::TestParamInfo<PolicyCase>& i) { return std::string(i.param.name); });

// --- Downloaded files -------------------------------------------------------

class FileHash : public testing::Test {
protected:
    void SetUp() override
    {
        if (NoProviderRun()) GTEST_SKIP() << "the provider is switched off in this run";
    }
    std::string HashOf(const std::string& content)
    {
        std::string path = TempPath("hash.bin");
        WriteBytes(path, content);
        unsigned char ab[GPC_SHA256_SIZE];
        int n = GpcHashFile(path.c_str(), ab);
        DeleteFileA(path.c_str());
        return n == GPC_TRUST_OK ? Hex(ab, sizeof(ab)) : "error";
    }
};

TEST_F(FileHash, KnownVectorsAcrossBlockBoundaries)
{
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", HashOf(""));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", HashOf("abc"));
    // One million "a": many reads of the 64 KiB block, the last one partial.
    EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
              HashOf(std::string(1000000, 'a')));
    unsigned char ab[GPC_SHA256_SIZE];
    EXPECT_EQ(GPC_TRUST_READ_ERROR, GpcHashFile(TempPath("missing.bin").c_str(), ab));
}

TEST_F(FileHash, DownloadIsCheckedAgainstTheHashListedForItsUrl)
{
    std::string text = ReadBytes(Fixture("signed.ini"));
    CVRGpcSignedManifest m;
    ASSERT_EQ(GPC_TRUST_OK, m.Parse(Bytes(text), text.size()));
    std::string viewer = Fixture("site\\bin\\viewer.dll");
    EXPECT_EQ(GPC_TRUST_OK, GpcCheckFileHash(m, "bin/viewer.dll", viewer.c_str()));
    EXPECT_EQ(GPC_TRUST_OK, GpcCheckFileHash(m, "dep.dll", Fixture("site\\dep.dll").c_str()));

    std::string copy = TempPath("viewer.dll");
    std::string bytes = ReadBytes(viewer);
    bytes[bytes.size() / 2] ^= 0x20;
    WriteBytes(copy, bytes);
    EXPECT_EQ(GPC_TRUST_HASH_MISMATCH, GpcCheckFileHash(m, "bin/viewer.dll", copy.c_str()));
    // A file the manifest does not list is refused before it is even read.
    EXPECT_EQ(GPC_TRUST_NO_HASH, GpcCheckFileHash(m, "bin/other.dll", viewer.c_str()));
    EXPECT_EQ(GPC_TRUST_READ_ERROR, GpcCheckFileHash(m, "bin/viewer.dll", TempPath("gone.dll").c_str()));
    DeleteFileA(copy.c_str());
}

// --- The downgrade store ----------------------------------------------------

TEST_F(SignatureCheck, OlderSerialThanOneAcceptedIsRefused)
{
    EXPECT_EQ(0u, GpcGetAcceptedSerial(GPC_PRODUCT));
    EXPECT_EQ(1, GpcRecordAcceptedSerial(GPC_PRODUCT, 7));
    EXPECT_EQ(7u, GpcGetAcceptedSerial(GPC_PRODUCT));
    EXPECT_EQ(GPC_TRUST_OK, Check(m_strSigned, "key.der"));  // the same again

    EXPECT_EQ(1, GpcRecordAcceptedSerial(GPC_PRODUCT, 8));
    EXPECT_EQ(1, GpcRecordAcceptedSerial(GPC_PRODUCT, 5));  // never lowered
    EXPECT_EQ(8u, GpcGetAcceptedSerial(GPC_PRODUCT));
    EXPECT_EQ(GPC_TRUST_OLD_SERIAL, Check(m_strSigned, "key.der"));
    // Serials count per product.
    EXPECT_EQ(0u, GpcGetAcceptedSerial("Another Product"));
}

TEST_F(SignatureCheck, MachineWideSerialGuardsEveryUser)
{
    SetSerial(HKEY_LOCAL_MACHINE, GPC_PRODUCT, 9);
    SetSerial(HKEY_CURRENT_USER, GPC_PRODUCT, 2);
    EXPECT_EQ(9u, GpcGetAcceptedSerial(GPC_PRODUCT));
    EXPECT_EQ(GPC_TRUST_OLD_SERIAL, Check(m_strSigned, "key.der"));
}

// --- No provider ------------------------------------------------------------

TEST(TrustNoProvider, ConfiguredKeyRefusesInsteadOfPassing)
{
    if (!NoProviderRun()) GTEST_SKIP() << "runs with the RSA/AES provider switched off";
    std::string text = ReadBytes(Fixture("signed.ini"));
    std::string key = ReadBytes(Fixture("key.der"));
    CVRGpcTrustKeys keys;
    ASSERT_EQ(GPC_TRUST_OK, keys.AddKey(Bytes(key), key.size()));
    CVRGpcSignedManifest m;
    EXPECT_EQ(GPC_TRUST_NO_PROVIDER, GpcCheckManifest(Bytes(text), text.size(), keys, &m));
    unsigned char ab[GPC_SHA256_SIZE];
    EXPECT_EQ(GPC_TRUST_NO_PROVIDER, GpcHashFile(Fixture("site\\dep.dll").c_str(), ab));
    EXPECT_EQ(GPC_TRUST_NO_PROVIDER, GpcCheckFileHash(m, "dep.dll", Fixture("site\\dep.dll").c_str()));
}

// --- A library without the feature -----------------------------------------

// Reads a section the way the start-up pass does: "Count", then File1..Count
// through the INI reader into the item parser.
void ReadSection(const std::string& path, const char* lpszSection, CVRGpcInstallationMgr* pMgr, int* pnCount)
{
    *pnCount = IniGetInt(lpszSection, "Count", 0, path.c_str());
    for (int i = 1; i <= *pnCount; ++i) {
        char achKey[32];
        char achItem[GPC_INI_LINE];
        snprintf(achKey, sizeof(achKey), "File%d", i);
        IniGetString(lpszSection, achKey, "", achItem, sizeof(achItem), path.c_str());
        if (strlen(achItem) < 2) break;
        pMgr->ParseItem(achItem);
    }
}

void ExpectSameField(const CGpcString& a, const CGpcString& b, const char* lpszWhat)
{
    EXPECT_EQ(a.IsNull(), b.IsNull()) << lpszWhat;
    if (!a.IsNull() && !b.IsNull()) {
        EXPECT_STREQ(a.GetText(), b.GetText()) << lpszWhat;
    }
}

TEST(SignedManifestCompatibility, ReadsExactlyLikeTheUnsignedManifest)
{
    const std::string plain = Fixture("plain.ini");
    const std::string signedPath = Fixture("signed.ini");
    int nItems = 0;
    for (const char* lpszSection : {"Corvo", "Extras", "corvo", "Missing"}) {
        CVRGpcInstallationMgr a(nullptr), b(nullptr);
        int nCountA = 0, nCountB = 0;
        ReadSection(plain, lpszSection, &a, &nCountA);
        ReadSection(signedPath, lpszSection, &b, &nCountB);
        EXPECT_EQ(nCountA, nCountB) << lpszSection;
        ASSERT_EQ(a.GetItemCount(), b.GetItemCount()) << lpszSection;
        for (int i = 0; i < a.GetItemCount(); ++i) {
            const GpcInstallItem* p = a.GetItem(i);
            const GpcInstallItem* q = b.GetItem(i);
            ExpectSameField(p->SourceName, q->SourceName, "SourceName");
            ExpectSameField(p->Url, q->Url, "Url");
            ExpectSameField(p->Target, q->Target, "Target");
            ExpectSameField(p->Version, q->Version, "Version");
            ExpectSameField(p->Action, q->Action, "Action");
            ExpectSameField(p->UpdateControl, q->UpdateControl, "UpdateControl");
            ExpectSameField(p->FailureControl, q->FailureControl, "FailureControl");
            EXPECT_EQ(p->FileSize, q->FileSize);
            EXPECT_EQ(p->CompressedSize, q->CompressedSize);
            EXPECT_EQ(p->OsVersion, q->OsVersion);
            ++nItems;
        }
    }
    // The fixture's entries, absent fields included, did reach the parser.
    EXPECT_EQ(4 + 1 + 4, nItems);  // Corvo 4, Extras 1, corvo 4, Missing none
    {
        CVRGpcInstallationMgr c(nullptr);
        int n = 0;
        ReadSection(signedPath, "Corvo", &c, &n);
        ASSERT_EQ(4, c.GetItemCount());
        EXPECT_TRUE(c.GetItem(2)->Target.IsNull());           // "data.bin;data.bin"
        EXPECT_STREQ("", c.GetItem(3)->Url.GetText());       // "a.dll;;x"
        EXPECT_TRUE(c.GetItem(3)->FailureControl.IsNull());
    }

    // Plain keys read the same, and what is absent stays absent.
    struct {
        const char* section;
        const char* key;
    } keys[] = {{"Corvo", "Note"}, {"Corvo", "Count"}, {"Corvo", "File5"}, {"Extras", "Note"},
                {"Extras", "File2"}, {"Corvo", "Serial"}, {"Corvo", "Signature"}, {"Extras", "bin/viewer.dll"}};
    for (const auto& k : keys) {
        char achA[256], achB[256];
        IniGetString(k.section, k.key, "<absent>", achA, sizeof(achA), plain.c_str());
        IniGetString(k.section, k.key, "<absent>", achB, sizeof(achB), signedPath.c_str());
        EXPECT_STREQ(achA, achB) << k.section << "/" << k.key;
    }
    // The trust sections hold no item list, whatever a page asks for.
    for (const char* lpszSection : {"GpcManifestInfo", "GpcManifestHashes", "GpcManifestSignature"}) {
        EXPECT_EQ(-1, IniGetInt(lpszSection, "Count", -1, signedPath.c_str())) << lpszSection;
    }
}

}  // namespace
