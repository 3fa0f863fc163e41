// The text and path routines, with the lead-byte seam answering like a
// single-byte code page or like code page 932. Input: one byte for the
// code page, one for a buffer size (1..300), then two texts separated by
// the first zero byte.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "npvrgpc/npbase.h"
#include "npvrgpc/text_seam.h"

namespace {

const char GPC_GUARD = 0x5A;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsListSeparator(char c)
{
    return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n';
}

// A buffer of nSize bytes followed by guard bytes no bounded routine may touch.
struct Guarded {
    Guarded(int nSize, const std::string& initial) : m_nSize(nSize), m_Bytes(static_cast<size_t>(nSize) + 16, GPC_GUARD)
    {
        size_t n = initial.size() < static_cast<size_t>(nSize - 1) ? initial.size() : static_cast<size_t>(nSize - 1);
        memcpy(m_Bytes.data(), initial.data(), n);
        m_Bytes[n] = '\0';
    }
    char* Data() { return m_Bytes.data(); }
    void CheckGuard() const
    {
        for (size_t i = static_cast<size_t>(m_nSize); i < m_Bytes.size(); ++i) FUZZ_CHECK(m_Bytes[i] == GPC_GUARD);
    }
    int m_nSize;
    std::vector<char> m_Bytes;
};

std::string Decoded(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, 3, "%20") == 0) {
            out += ' ';
            i += 3;
        } else {
            out += s[i++];
        }
    }
    return out;
}

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Whether the last character of a path is a "\" of its own, read from the
// start so that trail bytes are told from separators.
bool EndsWithOwnBackslash(const std::string& s)
{
    bool bSeparator = false;
    for (size_t i = 0; i < s.size();) {
        if (GpcIsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
            bSeparator = false;
            i += 2;
        } else {
            bSeparator = s[i] == '\\';
            ++i;
        }
    }
    return bSeparator;
}

void CheckTrim(const std::string& a)
{
    std::string buffer = a;
    char* p = TrimWhitespace(&buffer[0]);
    FUZZ_CHECK(p >= &buffer[0] && p <= &buffer[0] + a.size());
    size_t n = strlen(p);
    if (n > 0) FUZZ_CHECK(!IsBlank(p[0]) && !IsBlank(p[n - 1]));
    FUZZ_CHECK(a.find(std::string(p, n)) != std::string::npos);
}

void CheckDecode(const std::string& a)
{
    std::string buffer = a;
    DecodeSpaces(&buffer[0]);
    std::string out(buffer.c_str());
    // One pass decodes all: no "%20" survives, and each one cost two bytes.
    FUZZ_CHECK(out.find("%20") == std::string::npos);
    FUZZ_CHECK(out == Decoded(a));
    FUZZ_CHECK(out.size() <= a.size());
}

void CheckNormalize(const std::string& a)
{
    char achOut[256 + 16];
    memset(achOut, GPC_GUARD, sizeof(achOut));
    NormalizeList(achOut, a.c_str());
    for (size_t i = 256; i < sizeof(achOut); ++i) FUZZ_CHECK(achOut[i] == GPC_GUARD);
    FUZZ_CHECK(TerminatedWithin(achOut, 256));
    size_t n = strlen(achOut);
    FUZZ_CHECK(strpbrk(achOut, " \t\r\n") == nullptr);
    FUZZ_CHECK(strstr(achOut, ",,") == nullptr);
    if (n > 0) FUZZ_CHECK(achOut[0] != ',' && achOut[n - 1] != ',');
    // The tokens of the first 255 characters, in order.
    std::string expected;
    std::string src = a.substr(0, 255);
    for (size_t i = 0; i < src.size();) {
        while (i < src.size() && IsListSeparator(src[i])) ++i;
        if (i >= src.size()) break;
        if (!expected.empty()) expected += ',';
        while (i < src.size() && !IsListSeparator(src[i])) expected += src[i++];
    }
    FUZZ_CHECK(expected == achOut);
}

void CheckBounded(const std::string& a, const std::string& b, int nSize)
{
    {
        Guarded out(nSize, "");
        memset(out.Data(), GPC_GUARD, static_cast<size_t>(nSize));
        int n = GpcCopyString(out.Data(), nSize, a.c_str());
        out.CheckGuard();
        FUZZ_CHECK(n == static_cast<int>(strlen(out.Data())));
        FUZZ_CHECK(n < nSize);
        FUZZ_CHECK(a.compare(0, static_cast<size_t>(n), out.Data()) == 0);
    }
    {
        Guarded out(nSize, a);
        size_t nBefore = strlen(out.Data());
        int bWhole = GpcAppendString(out.Data(), nSize, b.c_str());
        out.CheckGuard();
        size_t n = strlen(out.Data());
        FUZZ_CHECK(n < static_cast<size_t>(nSize));
        FUZZ_CHECK(bWhole == (nBefore + b.size() < static_cast<size_t>(nSize) ? 1 : 0));
        FUZZ_CHECK(b.compare(0, n - nBefore, out.Data() + nBefore) == 0);
    }
    {
        Guarded out(nSize, "");
        int n = GpcFormat(out.Data(), nSize, "%s|%s", a.c_str(), b.c_str());
        out.CheckGuard();
        FUZZ_CHECK(TerminatedWithin(out.Data(), static_cast<size_t>(nSize)));
        size_t nWhole = a.size() + 1 + b.size();
        if (nWhole < static_cast<size_t>(nSize))
            FUZZ_CHECK(n == static_cast<int>(nWhole) && out.Data() == a + "|" + b);
        else
            FUZZ_CHECK(n == -1);
    }
    {
        Guarded path(nSize, a);
        std::string before = path.Data();
        int bSeparator = EndsWithSeparator(before.c_str());
        FUZZ_CHECK(bSeparator == (EndsWithOwnBackslash(before) ? 1 : 0));
        int ok = AppendPathComponent(path.Data(), nSize, b.c_str());
        path.CheckGuard();
        std::string after = path.Data();
        std::string expected = before + (bSeparator ? "" : "\\") + b;
        if (ok)
            FUZZ_CHECK(after == expected && after.size() < static_cast<size_t>(nSize));
        else
            FUZZ_CHECK(after == before && expected.size() >= static_cast<size_t>(nSize));
    }
}

void CheckCompare(const std::string& a, const std::string& b)
{
    CGpcString sa, sb;
    FUZZ_CHECK(sa.Assign(a.c_str()) == 1 && sb.Assign(b.c_str()) == 1);
    FUZZ_CHECK(sa.GetLength() == static_cast<int>(a.size()));
    int nAB = sa.CompareNoCaseDecoded(b.c_str());
    FUZZ_CHECK(nAB == sb.CompareNoCaseDecoded(a.c_str()));
    FUZZ_CHECK(nAB == (LowerAscii(Decoded(a)) == LowerAscii(Decoded(b)) ? 1 : 0));
    FUZZ_CHECK(sa.CompareNoCaseDecoded(a.c_str()) == 1);
    for (int n = -1; n <= static_cast<int>(b.size()) + 1; n += (b.size() > 8 ? static_cast<int>(b.size()) / 4 : 1)) {
        int nPrefix = sa.ComparePrefixNoCase(b.c_str(), n);
        bool bExpected = n >= 0 && static_cast<size_t>(n) <= b.size() && a.size() == static_cast<size_t>(n) &&
                         LowerAscii(a) == LowerAscii(b.substr(0, static_cast<size_t>(n)));
        FUZZ_CHECK(nPrefix == (bExpected ? 1 : 0));
    }
    CGpcString copy(sa);
    FUZZ_CHECK(copy.GetLength() == sa.GetLength());
    const CGpcString& same = copy;
    copy = same;  // assignment to itself keeps the text
    FUZZ_CHECK(copy.GetLength() == sa.GetLength() && a == copy.GetText());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 2) return 0;
    FuzzSetCodePage(FuzzCodePageFrom(pData[0]));
    int nBuffer = 1 + (pData[1] * 299) / 255;
    const char* pText = reinterpret_cast<const char*>(pData + 2);
    size_t nText = nSize - 2;
    const char* pZero = static_cast<const char*>(memchr(pText, '\0', nText));
    std::string a(pText, pZero ? static_cast<size_t>(pZero - pText) : nText);
    std::string b;
    if (pZero) b = FuzzText(reinterpret_cast<const uint8_t*>(pZero + 1), nText - a.size() - 1);

    CheckTrim(a);
    CheckDecode(a);
    CheckNormalize(a);
    CheckBounded(a, b, nBuffer);
    CheckCompare(a, b);
    return 0;
}
