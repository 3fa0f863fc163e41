// The delta decoder: deltas written by Debian's xdelta3 rebuild their new
// files byte for byte, and hostile deltas are refused with their reason
// before any byte lands outside the output.
//
// The pairs of files are made at build time by make_deltas.py (the same
// bytes on every machine) into <bin>\delta\; their deltas were written once
// by xdelta3 -S none and are committed in tests/delta/data/.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "install/vcdiff.h"
#include "support/case_names.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string DeltaDir()
{
    char ach[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, ach, sizeof(ach));
    std::string s(ach, n);
    return s.substr(0, s.find_last_of('\\') + 1) + "delta\\";
}

Bytes ReadFile(const std::string& name)
{
    Bytes b;
    FILE* f = fopen((DeltaDir() + name).c_str(), "rb");
    if (f == nullptr) {
        ADD_FAILURE() << "missing fixture " << name;
        return b;
    }
    unsigned char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) b.insert(b.end(), buf, buf + n);
    fclose(f);
    return b;
}

// Decodes into a buffer of exactly nOutSize bytes; the result's bytes in
// *pOut on success.
int Decode(const Bytes& source, const Bytes& delta, size_t nOutSize, Bytes* pOut = nullptr)
{
    Bytes out(nOutSize);
    size_t nOut = 999;
    int nResult = GpcVcdiffDecode(source.empty() ? nullptr : source.data(), source.size(),
                                  delta.empty() ? reinterpret_cast<const unsigned char*>("") : delta.data(),
                                  delta.size(), out.empty() ? nullptr : out.data(), out.size(), &nOut);
    if (nResult != GPC_VCDIFF_OK) {
        EXPECT_EQ(0u, nOut) << "a refusal reports no result";
    } else if (pOut != nullptr) {
        out.resize(nOut);
        *pOut = out;
    }
    return nResult;
}

// --- Deltas as xdelta3 writes them.

struct EncoderCase {
    const char* name;
    const char* file;  // <file>.old, <file>.new, <file>.vcdiff
    friend void PrintTo(const EncoderCase& c, std::ostream* os) { *os << c.name; }
};

class EncoderDelta : public testing::TestWithParam<EncoderCase> {};

TEST_P(EncoderDelta, RebuildsTheNewFileWithinExactlyItsSize)
{
    const std::string file = GetParam().file;
    Bytes old = ReadFile(file + ".old");
    Bytes expected = ReadFile(file + ".new");
    Bytes delta = ReadFile(file + ".vcdiff");
    ASSERT_FALSE(delta.empty());

    Bytes result;
    ASSERT_EQ(GPC_VCDIFF_OK, Decode(old, delta, expected.size(), &result));
    EXPECT_TRUE(result == expected) << "the result differs from " << file << ".new";
    // A larger buffer changes nothing; one byte too few is refused.
    ASSERT_EQ(GPC_VCDIFF_OK, Decode(old, delta, expected.size() + 4096, &result));
    EXPECT_EQ(expected.size(), result.size());
    if (!expected.empty()) {
        EXPECT_EQ(GPC_VCDIFF_TOO_LARGE, Decode(old, delta, expected.size() - 1));
    }
}

const EncoderCase GPC_ENCODER_CASES[] = {
    {"changed version resource", "version_resource"},
    {"a few bytes changed", "few_bytes"},
    {"bytes inserted and removed", "insert_delete"},
    {"blocks moved", "moved_blocks"},
    {"several windows", "several_windows"},
    {"no source, copies from the result itself", "no_source"},
    {"empty result", "empty_result"},
};

INSTANTIATE_TEST_SUITE_P(, EncoderDelta, testing::ValuesIn(GPC_ENCODER_CASES), CaseName());

// Every window xdelta3 writes carries a checksum of its output: a delta
// applied to other bytes than its base, or damaged in its data, is found
// at once even when every copy stays in range.
TEST(EncoderDeltaMisapplied, OtherBaseOrChangedDataFailsTheWindowChecksum)
{
    Bytes delta = ReadFile("few_bytes.vcdiff");
    Bytes base = ReadFile("few_bytes.old");
    Bytes other = ReadFile("moved_blocks.old");
    ASSERT_EQ(base.size(), other.size());
    EXPECT_EQ(GPC_VCDIFF_BAD_CHECKSUM, Decode(other, delta, 8192));

    Bytes changedBase = base;
    changedBase[4000] ^= 1;
    EXPECT_EQ(GPC_VCDIFF_BAD_CHECKSUM, Decode(changedBase, delta, 8192));

    // Any one byte of the window changed: refused, or (where the change
    // means the same, as another spelling of an address) the same file.
    Bytes expected = ReadFile("few_bytes.new");
    const size_t nWindow = 6 + delta[5];
    for (size_t i = nWindow; i < delta.size(); ++i) {
        for (unsigned char bFlip : {0x01, 0x80}) {
            Bytes changed = delta;
            changed[i] ^= bFlip;
            Bytes result;
            if (Decode(base, changed, 8192, &result) == GPC_VCDIFF_OK) {
                EXPECT_TRUE(result == expected) << "byte " << i << " changed gave other bytes";
            }
        }
    }

    // A base shorter than the window's source segment is out of range.
    Bytes shortBase(base.begin(), base.begin() + 4096);
    EXPECT_EQ(GPC_VCDIFF_BAD_SEGMENT, Decode(shortBase, delta, 8192));
}

// A delta cut anywhere is refused as truncated, except where it ends at a
// window's boundary: VCDIFF has no end mark, so a delta that lost whole
// windows decodes into a shorter result, which the full file's hash then
// refuses. The cut just after the header is that case with no window.
TEST(EncoderDeltaTruncated, EveryCutInsideTheHeaderOrAWindowIsRefused)
{
    Bytes base = ReadFile("few_bytes.old");
    Bytes delta = ReadFile("few_bytes.vcdiff");
    // Magic, version, indicator 0x04 (xdelta3's application header), its
    // length (one byte here) and its bytes: then the one window.
    ASSERT_GT(delta.size(), 6u);
    ASSERT_EQ(0x04, delta[4]);
    ASSERT_LT(delta[5], 0x80);
    const size_t nHeader = 6 + delta[5];
    ASSERT_EQ(GPC_VCDIFF_NOT_VCDIFF, Decode(base, Bytes(), 8192));
    for (size_t nCut = 1; nCut < delta.size(); ++nCut) {
        Bytes cut(delta.begin(), delta.begin() + nCut);
        Bytes result;
        int nResult = Decode(base, cut, 8192, &result);
        if (nCut == nHeader) {
            EXPECT_EQ(GPC_VCDIFF_OK, nResult);
            EXPECT_TRUE(result.empty());
        } else {
            EXPECT_EQ(GPC_VCDIFF_TRUNCATED, nResult) << "cut at " << nCut << " of " << delta.size();
        }
    }
}

// --- Deltas built by hand, one field at a time.

enum {
    VCD_SOURCE = 0x01,
    VCD_TARGET = 0x02,
    VCD_ADLER32 = 0x04,
    // Codes of the default code table.
    RUN_N = 0,             // RUN, size follows
    ADD_N = 1,             // ADD, size follows; ADD of 1..17 bytes is 1 + size
    COPY_SELF_N = 19,      // COPY, size follows, address as it is
    COPY_SELF_4 = 20,      // COPY 4 bytes, address as it is (sizes 4..18: 16 + size)
    COPY_HERE_4 = 36,      // COPY 4 bytes, address counted back from here
    COPY_NEAR0_4 = 52,     // COPY 4 bytes, address after the last one
    COPY_SAME0_4 = 116,    // COPY 4 bytes, address from the same cache
};

unsigned char Add(int nSize) { return static_cast<unsigned char>(1 + nSize); }

Bytes Int(uint64_t v)
{
    Bytes digits;
    do {
        digits.insert(digits.begin(), static_cast<unsigned char>((v & 0x7F) | (digits.empty() ? 0 : 0x80)));
        v >>= 7;
    } while (v != 0);
    return digits;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& b : parts) all.insert(all.end(), b.begin(), b.end());
    return all;
}

Bytes Text(const char* lpsz)
{
    return Bytes(lpsz, lpsz + strlen(lpsz));
}

const Bytes GPC_HEADER = {0xD6, 0xC3, 0xC4, 0x00, 0x00};

struct Window {
    int nIndicator;       // VCD_SOURCE, VCD_TARGET, VCD_ADLER32
    uint32_t nSegment;    // with VCD_SOURCE or VCD_TARGET
    uint32_t nPosition;
    uint64_t qwTarget;
    Bytes data, inst, addr;
    uint32_t dwAdler;     // with VCD_ADLER32
    int nDeltaIndicator;
};

// A window whose lengths agree with its sections.
Bytes Win(int nIndicator, uint32_t nSegment, uint32_t nPosition, uint64_t qwTarget, const Bytes& data,
          const Bytes& inst, const Bytes& addr, uint32_t dwAdler = 0, int nDeltaIndicator = 0)
{
    const Window w = {nIndicator, nSegment, nPosition, qwTarget, data, inst, addr, dwAdler, nDeltaIndicator};
    Bytes body = Cat({Int(w.qwTarget), Bytes{static_cast<unsigned char>(w.nDeltaIndicator)}, Int(w.data.size()),
                      Int(w.inst.size()), Int(w.addr.size())});
    if (w.nIndicator & VCD_ADLER32) {
        body.insert(body.end(), {static_cast<unsigned char>(w.dwAdler >> 24), static_cast<unsigned char>(w.dwAdler >> 16),
                                 static_cast<unsigned char>(w.dwAdler >> 8), static_cast<unsigned char>(w.dwAdler)});
    }
    body = Cat({body, w.data, w.inst, w.addr});
    Bytes head{static_cast<unsigned char>(w.nIndicator)};
    if (w.nIndicator & (VCD_SOURCE | VCD_TARGET)) head = Cat({head, Int(w.nSegment), Int(w.nPosition)});
    return Cat({head, Int(body.size()), body});
}

struct HandCase {
    const char* name;
    Bytes delta;
    const char* source;
    size_t nOutSize;
    int expected;
    const char* output;  // with GPC_VCDIFF_OK
    friend void PrintTo(const HandCase& c, std::ostream* os) { *os << c.name; }
};

class HandBuiltDelta : public testing::TestWithParam<HandCase> {};

TEST_P(HandBuiltDelta, DecodesOrIsRefusedForItsReason)
{
    const HandCase& c = GetParam();
    Bytes result;
    int nResult = Decode(Text(c.source), c.delta, c.nOutSize, &result);
    EXPECT_EQ(c.expected, nResult) << GpcVcdiffResultName(nResult);
    if (c.expected == GPC_VCDIFF_OK) {
        EXPECT_EQ(std::string(c.output), std::string(result.begin(), result.end()));
    }
}

const char GPC_SRC[] = "0123456789";
// zlib's Adler-32 of "hello".
const uint32_t GPC_ADLER_HELLO = 0x062C0215;

const HandCase GPC_HAND_CASES[] = {
    // Forms of the format that a delta may use.
    {"add run and copy from the source",
     Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 9, Text("ab-"), {Add(2), COPY_SELF_4, RUN_N, 3}, {3})}),
     GPC_SRC, 16, GPC_VCDIFF_OK, "ab3456---"},
    {"checksum of the window matches",
     Cat({GPC_HEADER, Win(VCD_ADLER32, 0, 0, 5, Text("hello"), {Add(5)}, {}, GPC_ADLER_HELLO)}), "", 5,
     GPC_VCDIFF_OK, "hello"},
    {"copy runs from the source segment into the output",
     Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 4, {}, {COPY_SELF_N, 4}, {8})}), GPC_SRC, 4, GPC_VCDIFF_OK, "8989"},
    {"copy overlapping what it writes repeats a pattern",
     Cat({GPC_HEADER, Win(0, 0, 0, 9, Text("xy"), {Add(2), COPY_SELF_N, 7}, {0})}), "", 9, GPC_VCDIFF_OK,
     "xyxyxyxyx"},
    {"second window copies the first window's output",
     Cat({GPC_HEADER, Win(0, 0, 0, 5, Text("hello"), {Add(5)}, {}),
          Win(VCD_TARGET, 5, 0, 5, {}, {COPY_SELF_N, 5}, {0})}),
     "", 10, GPC_VCDIFF_OK, "hellohello"},
    {"near and same caches and here",
     Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 16, {}, {COPY_SELF_4, COPY_NEAR0_4, COPY_SAME0_4, COPY_HERE_4},
                           {2, 1, 3, 12})}),
     GPC_SRC, 16, GPC_VCDIFF_OK, "2345345634562345"},
    {"secondary compressor named but not used",
     Cat({Bytes{0xD6, 0xC3, 0xC4, 0x00, 0x01, 0x02}, Win(0, 0, 0, 2, Text("ok"), {Add(2)}, {})}), "", 2,
     GPC_VCDIFF_OK, "ok"},
    {"header alone is an empty result", GPC_HEADER, GPC_SRC, 0, GPC_VCDIFF_OK, ""},

    // Not a delta, or not one this decoder reads.
    {"other magic", Text("PK\x03\x04 not a delta"), GPC_SRC, 16, GPC_VCDIFF_NOT_VCDIFF, ""},
    {"version 1", Bytes{0xD6, 0xC3, 0xC4, 0x01, 0x00}, GPC_SRC, 16, GPC_VCDIFF_NOT_VCDIFF, ""},
    {"own code table", Bytes{0xD6, 0xC3, 0xC4, 0x00, 0x02, 0x01, 0x00}, GPC_SRC, 16, GPC_VCDIFF_UNSUPPORTED, ""},
    {"unknown header bit", Bytes{0xD6, 0xC3, 0xC4, 0x00, 0x08}, GPC_SRC, 16, GPC_VCDIFF_UNSUPPORTED, ""},
    {"compressed data section",
     Cat({GPC_HEADER, Win(0, 0, 0, 2, Text("ok"), {Add(2)}, {}, 0, 0x01)}), "", 2, GPC_VCDIFF_UNSUPPORTED, ""},
    {"unknown window bit", Cat({GPC_HEADER, Win(0x08, 0, 0, 2, Text("ok"), {Add(2)}, {})}), "", 2,
     GPC_VCDIFF_UNSUPPORTED, ""},

    // Sizes beyond the output or the cap.
    {"window larger than the output", Cat({GPC_HEADER, Win(0, 0, 0, 5, Text("hello"), {Add(5)}, {})}), "", 4,
     GPC_VCDIFF_TOO_LARGE, ""},
    {"windows together larger than the output",
     Cat({GPC_HEADER, Win(0, 0, 0, 3, Text("abc"), {Add(3)}, {}), Win(0, 0, 0, 3, Text("abc"), {Add(3)}, {})}),
     "", 5, GPC_VCDIFF_TOO_LARGE, ""},
    {"window above the fixed cap",
     Cat({GPC_HEADER, Win(0, 0, 0, GPC_VCDIFF_MAX_WINDOW + 1, {0}, {RUN_N, 0x88, 0x80, 0x80, 0x01}, {})}), "",
     GPC_VCDIFF_MAX_WINDOW + 1, GPC_VCDIFF_TOO_LARGE, ""},
    {"integer beyond 32 bits",
     Cat({GPC_HEADER, Bytes{0x00, 0x07, 0x90, 0x80, 0x80, 0x80, 0x00, 0x00, 0x00}}), "", 16, GPC_VCDIFF_MALFORMED,
     ""},

    // Segments and copies out of range.
    {"source segment beyond the source", Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 1, 4, {}, {COPY_SELF_4}, {0})}),
     GPC_SRC, 16, GPC_VCDIFF_BAD_SEGMENT, ""},
    {"source segment far beyond the source",
     Cat({GPC_HEADER, Win(VCD_SOURCE, 0xFFFFFFFF, 0xFFFFFFFF, 4, {}, {COPY_SELF_4}, {0})}), GPC_SRC, 16,
     GPC_VCDIFF_BAD_SEGMENT, ""},
    {"target segment before any output", Cat({GPC_HEADER, Win(VCD_TARGET, 1, 0, 4, {}, {COPY_SELF_4}, {0})}), "",
     16, GPC_VCDIFF_BAD_SEGMENT, ""},
    {"source and target segment at once", Cat({GPC_HEADER, Win(VCD_SOURCE | VCD_TARGET, 0, 0, 2, Text("ok"),
                                                               {Add(2)}, {})}),
     GPC_SRC, 16, GPC_VCDIFF_MALFORMED, ""},
    {"copy from the position being written", Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 4, {}, {COPY_SELF_4}, {10})}),
     GPC_SRC, 16, GPC_VCDIFF_BAD_COPY, ""},
    {"copy before any byte exists", Cat({GPC_HEADER, Win(0, 0, 0, 4, {}, {COPY_SAME0_4}, {0})}), "", 16,
     GPC_VCDIFF_BAD_COPY, ""},
    {"copy counted back beyond the start", Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 4, {}, {COPY_HERE_4}, {11})}),
     GPC_SRC, 16, GPC_VCDIFF_BAD_COPY, ""},
    {"copy counted back by nothing", Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 4, {}, {COPY_HERE_4}, {0})}), GPC_SRC,
     16, GPC_VCDIFF_BAD_COPY, ""},
    {"copy after the last address beyond here",
     Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 8, {}, {COPY_SELF_4, COPY_NEAR0_4}, {6, 9})}), GPC_SRC, 16,
     GPC_VCDIFF_BAD_COPY, ""},
    {"copy address at 4 GB", Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 4, {}, {COPY_SELF_4}, Int(0xFFFFFFFF))}),
     GPC_SRC, 16, GPC_VCDIFF_BAD_COPY, ""},

    // Lengths that disagree.
    {"window longer than the delta",
     Cat({GPC_HEADER, Bytes{0x00, 0x40, 0x05, 0x00, 0x05, 0x01, 0x00}, Text("hello"), Bytes{Add(5)}}), "", 16,
     GPC_VCDIFF_TRUNCATED, ""},
    {"sections longer than the window",
     Cat({GPC_HEADER, Bytes{0x00, 0x0B, 0x05, 0x00, 0x06, 0x01, 0x00}, Text("hello"), Bytes{Add(5)}}), "", 16,
     GPC_VCDIFF_MALFORMED, ""},
    {"instruction beyond the window", Cat({GPC_HEADER, Win(0, 0, 0, 4, Text("hello"), {Add(5)}, {})}), "", 16,
     GPC_VCDIFF_MALFORMED, ""},
    {"add beyond the data", Cat({GPC_HEADER, Win(0, 0, 0, 5, Text("hel"), {Add(5)}, {})}), "", 16,
     GPC_VCDIFF_MALFORMED, ""},
    {"run without its byte", Cat({GPC_HEADER, Win(0, 0, 0, 5, {}, {RUN_N, 5}, {})}), "", 16, GPC_VCDIFF_MALFORMED,
     ""},
    {"size missing after the code", Cat({GPC_HEADER, Win(0, 0, 0, 5, Text("hello"), {ADD_N}, {})}), "", 16,
     GPC_VCDIFF_MALFORMED, ""},
    {"copy without its address", Cat({GPC_HEADER, Win(VCD_SOURCE, 10, 0, 4, {}, {COPY_SELF_4}, {})}), GPC_SRC, 16,
     GPC_VCDIFF_MALFORMED, ""},
    {"result shorter than the window", Cat({GPC_HEADER, Win(0, 0, 0, 5, Text("hel"), {Add(3)}, {})}), "", 16,
     GPC_VCDIFF_MALFORMED, ""},
    {"data left over", Cat({GPC_HEADER, Win(0, 0, 0, 3, Text("hello"), {Add(3)}, {})}), "", 16,
     GPC_VCDIFF_MALFORMED, ""},

    // Checksums.
    {"checksum of the window differs",
     Cat({GPC_HEADER, Win(VCD_ADLER32, 0, 0, 5, Text("hello"), {Add(5)}, {}, GPC_ADLER_HELLO ^ 1)}), "", 5,
     GPC_VCDIFF_BAD_CHECKSUM, ""},
    {"checksum cut short", Cat({GPC_HEADER, Bytes{0x04, 0x07, 0x05, 0x00, 0x05, 0x01, 0x00, 0x06, 0x2C}}), "", 5,
     GPC_VCDIFF_MALFORMED, ""},
};

INSTANTIATE_TEST_SUITE_P(, HandBuiltDelta, testing::ValuesIn(GPC_HAND_CASES), CaseName());

TEST(DeltaDecoderArguments, RefusesMissingBuffersAndOutputsAboveTheCap)
{
    const unsigned char abDelta[] = {0xD6, 0xC3, 0xC4, 0x00, 0x00};
    unsigned char abOut[4];
    size_t nOut = 7;
    EXPECT_EQ(GPC_VCDIFF_BAD_ARGUMENT, GpcVcdiffDecode(nullptr, 0, nullptr, 0, abOut, sizeof(abOut), &nOut));
    EXPECT_EQ(0u, nOut);
    EXPECT_EQ(GPC_VCDIFF_BAD_ARGUMENT, GpcVcdiffDecode(nullptr, 5, abDelta, sizeof(abDelta), abOut, sizeof(abOut), &nOut));
    EXPECT_EQ(GPC_VCDIFF_BAD_ARGUMENT, GpcVcdiffDecode(nullptr, 0, abDelta, sizeof(abDelta), nullptr, 4, &nOut));
    EXPECT_EQ(GPC_VCDIFF_BAD_ARGUMENT, GpcVcdiffDecode(nullptr, 0, abDelta, sizeof(abDelta), abOut, sizeof(abOut), nullptr));
    // Refused before the buffer is touched, so a small one can stand for it.
    EXPECT_EQ(GPC_VCDIFF_BAD_ARGUMENT,
              GpcVcdiffDecode(nullptr, 0, abDelta, sizeof(abDelta), abOut, GPC_VCDIFF_MAX_TARGET + 1u, &nOut));
    EXPECT_EQ(GPC_VCDIFF_OK, GpcVcdiffDecode(nullptr, 0, abDelta, sizeof(abDelta), nullptr, 0, &nOut));
}

TEST(DeltaDecoderResults, EveryResultHasAName)
{
    for (int n = GPC_VCDIFF_OK; n <= GPC_VCDIFF_BAD_CHECKSUM; ++n) EXPECT_STRNE("unknown", GpcVcdiffResultName(n)) << n;
    EXPECT_STREQ("copy out of range", GpcVcdiffResultName(GPC_VCDIFF_BAD_COPY));
}

}  // namespace
