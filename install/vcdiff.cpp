// The VCDIFF decoder. Every number read from a delta is at most 32 bits and
// is checked against the bytes that are really there (the delta's sections,
// the source, the output written so far) before it moves a byte; sums are
// made in 64 bits, so nothing wraps on a 32-bit build.
#include "install/vcdiff.h"

#include <cstdint>
#include <cstring>

namespace {

const unsigned char GPC_VCDIFF_MAGIC[3] = {0xD6, 0xC3, 0xC4};

// Header and window indicator bits.
enum {
    VCD_DECOMPRESS = 0x01,  // header: a secondary compressor's id follows
    VCD_CODETABLE = 0x02,   // header: the encoder's own code table follows
    VCD_APPHEADER = 0x04,   // header: application data (xdelta3 names the files)
    VCD_SOURCE = 0x01,      // window: the segment comes from the source
    VCD_TARGET = 0x02,      // window: the segment comes from earlier output
    VCD_ADLER32 = 0x04,     // window: xdelta3's checksum of the window's output
};

enum { VCD_NOOP = 0, VCD_ADD = 1, VCD_RUN = 2, VCD_COPY = 3 };
// The address caches of the default code table.
enum { NEAR_SIZE = 4, SAME_SIZE = 3, MODE_COUNT = 2 + NEAR_SIZE + SAME_SIZE };

struct CodeEntry {
    unsigned char nType1, nSize1, nMode1;
    unsigned char nType2, nSize2, nMode2;
};

struct CodeTable {
    CodeEntry a[256];
};

// The default instruction code table: every code is one or two of RUN,
// ADD and COPY with a size (0: the size follows in the instruction
// section) and an address mode. Built at compile time, so no first-use
// initialisation (and no guard) runs inside the library.
constexpr CodeTable BuildDefaultCodeTable()
{
    CodeTable t{};
    int i = 0;
    t.a[i++] = CodeEntry{VCD_RUN, 0, 0, VCD_NOOP, 0, 0};
    for (int nSize = 0; nSize <= 17; ++nSize) t.a[i++] = CodeEntry{VCD_ADD, static_cast<unsigned char>(nSize), 0,
                                                                   VCD_NOOP, 0, 0};
    for (int nMode = 0; nMode < MODE_COUNT; ++nMode) {
        t.a[i++] = CodeEntry{VCD_COPY, 0, static_cast<unsigned char>(nMode), VCD_NOOP, 0, 0};
        for (int nSize = 4; nSize <= 18; ++nSize) {
            t.a[i++] = CodeEntry{VCD_COPY, static_cast<unsigned char>(nSize), static_cast<unsigned char>(nMode),
                                 VCD_NOOP, 0, 0};
        }
    }
    for (int nMode = 0; nMode < 6; ++nMode) {
        for (int nAdd = 1; nAdd <= 4; ++nAdd) {
            for (int nCopy = 4; nCopy <= 6; ++nCopy) {
                t.a[i++] = CodeEntry{VCD_ADD, static_cast<unsigned char>(nAdd), 0,
                                     VCD_COPY, static_cast<unsigned char>(nCopy), static_cast<unsigned char>(nMode)};
            }
        }
    }
    for (int nMode = 6; nMode < MODE_COUNT; ++nMode) {
        for (int nAdd = 1; nAdd <= 4; ++nAdd) {
            t.a[i++] = CodeEntry{VCD_ADD, static_cast<unsigned char>(nAdd), 0,
                                 VCD_COPY, 4, static_cast<unsigned char>(nMode)};
        }
    }
    for (int nMode = 0; nMode < MODE_COUNT; ++nMode) {
        t.a[i++] = CodeEntry{VCD_COPY, 4, static_cast<unsigned char>(nMode), VCD_ADD, 1, 0};
    }
    return t;
}

constexpr CodeTable GPC_DEFAULT_CODE_TABLE = BuildDefaultCodeTable();
static_assert(GPC_DEFAULT_CODE_TABLE.a[255].nType1 == VCD_COPY && GPC_DEFAULT_CODE_TABLE.a[255].nMode1 == 8 &&
                  GPC_DEFAULT_CODE_TABLE.a[255].nType2 == VCD_ADD,
              "the default code table fills all 256 codes");
static_assert(GPC_DEFAULT_CODE_TABLE.a[163].nType2 == VCD_COPY && GPC_DEFAULT_CODE_TABLE.a[162].nSize1 == 18,
              "the single copies end at code 162");

// A bounded view of the delta: each read either succeeds inside it or
// reports how it failed, and never moves past its end.
class CVRGpcDeltaReader {
public:
    CVRGpcDeltaReader(const unsigned char* p, size_t n, int nShortResult)
        : m_p(p), m_n(n), m_i(0), m_nShortResult(nShortResult) {}

    size_t Remaining() const { return m_n - m_i; }
    const unsigned char* Here() const { return m_p + m_i; }

    int Byte(unsigned* pb)
    {
        if (m_i >= m_n) return m_nShortResult;
        *pb = m_p[m_i++];
        return GPC_VCDIFF_OK;
    }

    // A VCDIFF integer: base-128 digits, most significant first, the high
    // bit set on every digit but the last. Values beyond 32 bits are
    // refused: no length or position the decoder accepts is that large.
    int Integer(uint32_t* pv)
    {
        uint64_t v = 0;
        for (;;) {
            if (m_i >= m_n) return m_nShortResult;
            unsigned b = m_p[m_i++];
            v = (v << 7) | (b & 0x7F);
            if (v > 0xFFFFFFFFull) return GPC_VCDIFF_MALFORMED;
            if (!(b & 0x80)) break;
        }
        *pv = static_cast<uint32_t>(v);
        return GPC_VCDIFF_OK;
    }

    int Skip(size_t n)
    {
        if (n > Remaining()) return m_nShortResult;
        m_i += n;
        return GPC_VCDIFF_OK;
    }

private:
    const unsigned char* m_p;
    size_t m_n;
    size_t m_i;
    int m_nShortResult;  // what running out means here
};

// memcpy and memset want real pointers even for no bytes; an empty
// segment or source may be null.
void CopyBytes(unsigned char* pTo, const unsigned char* pFrom, size_t n)
{
    if (n > 0) memcpy(pTo, pFrom, n);
}

#define GPC_VCDIFF_TRY(expr)                        \
    do {                                            \
        int nTried_ = (expr);                       \
        if (nTried_ != GPC_VCDIFF_OK) return nTried_; \
    } while (0)

// The near and same caches that COPY addresses are coded against; fresh
// for every window.
class CVRGpcAddressCache {
public:
    CVRGpcAddressCache() : m_nNextSlot(0), m_aNear(), m_aSame() {}

    // The address of a COPY in mode nMode, where "here" is the size of the
    // source segment plus the window's output so far. An address must lie
    // before here: the bytes it names exist already.
    int Decode(CVRGpcDeltaReader& addr, unsigned nMode, uint64_t qwHere, uint64_t* pqwAddr)
    {
        uint64_t qw = 0;
        if (nMode < 2 + NEAR_SIZE) {
            uint32_t v = 0;
            GPC_VCDIFF_TRY(addr.Integer(&v));
            if (nMode == 0) {
                qw = v;
            } else if (nMode == 1) {
                if (v > qwHere) return GPC_VCDIFF_BAD_COPY;
                qw = qwHere - v;
            } else {
                qw = m_aNear[nMode - 2] + v;
            }
        } else {
            unsigned b = 0;
            GPC_VCDIFF_TRY(addr.Byte(&b));
            qw = m_aSame[(nMode - (2 + NEAR_SIZE)) * 256 + b];
        }
        if (qw >= qwHere) return GPC_VCDIFF_BAD_COPY;
        m_aNear[m_nNextSlot] = qw;
        m_nNextSlot = (m_nNextSlot + 1) % NEAR_SIZE;
        m_aSame[qw % (SAME_SIZE * 256)] = qw;
        *pqwAddr = qw;
        return GPC_VCDIFF_OK;
    }

private:
    int m_nNextSlot;
    uint64_t m_aNear[NEAR_SIZE];
    uint64_t m_aSame[SAME_SIZE * 256];
};

// One window's instructions, written to pTarget (nTarget bytes, all of
// which they must fill). pSegment is the window's source segment (nSegment
// bytes, already checked to lie inside the source or the earlier output,
// which pTarget does not overlap).
int RunInstructions(const unsigned char* pSegment, uint32_t nSegment, unsigned char* pTarget, uint32_t nTarget,
                    CVRGpcDeltaReader& data, CVRGpcDeltaReader& inst, CVRGpcDeltaReader& addr)
{
    CVRGpcAddressCache cache;
    uint32_t nPos = 0;
    while (inst.Remaining() > 0) {
        unsigned nCode = 0;
        GPC_VCDIFF_TRY(inst.Byte(&nCode));
        const CodeEntry& entry = GPC_DEFAULT_CODE_TABLE.a[nCode];
        const unsigned anType[2] = {entry.nType1, entry.nType2};
        const unsigned anSize[2] = {entry.nSize1, entry.nSize2};
        const unsigned anMode[2] = {entry.nMode1, entry.nMode2};
        for (int k = 0; k < 2; ++k) {
            if (anType[k] == VCD_NOOP) continue;
            uint32_t nSize = anSize[k];
            if (nSize == 0) GPC_VCDIFF_TRY(inst.Integer(&nSize));
            // The window's declared length is the bound for every instruction.
            if (nSize > nTarget - nPos) return GPC_VCDIFF_MALFORMED;
            unsigned char* pTo = pTarget + nPos;
            if (anType[k] == VCD_ADD) {
                if (nSize > data.Remaining()) return GPC_VCDIFF_MALFORMED;
                CopyBytes(pTo, data.Here(), nSize);
                GPC_VCDIFF_TRY(data.Skip(nSize));
            } else if (anType[k] == VCD_RUN) {
                unsigned b = 0;
                GPC_VCDIFF_TRY(data.Byte(&b));
                if (nSize > 0) memset(pTo, static_cast<int>(b), nSize);
            } else {
                uint64_t qwAddr = 0;
                GPC_VCDIFF_TRY(cache.Decode(addr, anMode[k], static_cast<uint64_t>(nSegment) + nPos, &qwAddr));
                uint32_t nDone = 0;
                if (qwAddr < nSegment) {
                    // The part in the segment; a copy may run on into the
                    // window's own output.
                    uint64_t qwInSegment = nSegment - qwAddr;
                    nDone = qwInSegment < nSize ? static_cast<uint32_t>(qwInSegment) : nSize;
                    CopyBytes(pTo, pSegment + qwAddr, nDone);
                    qwAddr = nSegment;
                }
                // The rest from the window's output, which lies before pTo.
                // When it overlaps what it writes, it repeats a pattern, so
                // it is copied forward one byte at a time.
                uint32_t nFrom = static_cast<uint32_t>(qwAddr - nSegment);
                uint32_t nTo = nPos + nDone;
                uint32_t nRest = nSize - nDone;
                if (nTo - nFrom >= nRest) {
                    CopyBytes(pTarget + nTo, pTarget + nFrom, nRest);
                } else {
                    for (uint32_t i = 0; i < nRest; ++i) pTarget[nTo + i] = pTarget[nFrom + i];
                }
            }
            nPos += nSize;
        }
    }
    if (nPos != nTarget) return GPC_VCDIFF_MALFORMED;
    if (data.Remaining() != 0 || addr.Remaining() != 0) return GPC_VCDIFF_MALFORMED;
    return GPC_VCDIFF_OK;
}

// One window, from its indicator on. Writes its output at pOut + nDone
// (at most nOutSize - nDone bytes) and sets its length.
int DecodeWindow(CVRGpcDeltaReader& delta, const unsigned char* pSource, size_t nSource, unsigned char* pOut,
                 size_t nOutSize, size_t nDone, uint32_t* pnWindow)
{
    unsigned nWinIndicator = 0;
    GPC_VCDIFF_TRY(delta.Byte(&nWinIndicator));
    if (nWinIndicator & ~static_cast<unsigned>(VCD_SOURCE | VCD_TARGET | VCD_ADLER32)) return GPC_VCDIFF_UNSUPPORTED;
    if ((nWinIndicator & VCD_SOURCE) && (nWinIndicator & VCD_TARGET)) return GPC_VCDIFF_MALFORMED;

    const unsigned char* pSegment = nullptr;
    uint32_t nSegment = 0;
    if (nWinIndicator & (VCD_SOURCE | VCD_TARGET)) {
        uint32_t nPosition = 0;
        GPC_VCDIFF_TRY(delta.Integer(&nSegment));
        GPC_VCDIFF_TRY(delta.Integer(&nPosition));
        uint64_t qwEnd = static_cast<uint64_t>(nPosition) + nSegment;
        if (nWinIndicator & VCD_SOURCE) {
            if (qwEnd > nSource) return GPC_VCDIFF_BAD_SEGMENT;
            pSegment = pSource + nPosition;
        } else {
            if (qwEnd > nDone) return GPC_VCDIFF_BAD_SEGMENT;
            pSegment = pOut + nPosition;
        }
    }

    uint32_t nEncoding = 0;
    GPC_VCDIFF_TRY(delta.Integer(&nEncoding));
    if (nEncoding > delta.Remaining()) return GPC_VCDIFF_TRUNCATED;
    // Inside the window, running out early means its lengths disagree.
    CVRGpcDeltaReader encoding(delta.Here(), nEncoding, GPC_VCDIFF_MALFORMED);
    GPC_VCDIFF_TRY(delta.Skip(nEncoding));

    uint32_t nTarget = 0;
    GPC_VCDIFF_TRY(encoding.Integer(&nTarget));
    if (nTarget > GPC_VCDIFF_MAX_WINDOW || nTarget > nOutSize - nDone) return GPC_VCDIFF_TOO_LARGE;
    unsigned nDeltaIndicator = 0;
    GPC_VCDIFF_TRY(encoding.Byte(&nDeltaIndicator));
    // Sections packed by a secondary compressor.
    if (nDeltaIndicator != 0) return GPC_VCDIFF_UNSUPPORTED;
    uint32_t nData = 0, nInst = 0, nAddr = 0;
    GPC_VCDIFF_TRY(encoding.Integer(&nData));
    GPC_VCDIFF_TRY(encoding.Integer(&nInst));
    GPC_VCDIFF_TRY(encoding.Integer(&nAddr));
    unsigned long dwChecksum = 0;
    if (nWinIndicator & VCD_ADLER32) {
        for (int i = 0; i < 4; ++i) {
            unsigned b = 0;
            GPC_VCDIFF_TRY(encoding.Byte(&b));
            dwChecksum = (dwChecksum << 8) | b;
        }
    }
    if (static_cast<uint64_t>(nData) + nInst + nAddr != encoding.Remaining()) return GPC_VCDIFF_MALFORMED;
    CVRGpcDeltaReader data(encoding.Here(), nData, GPC_VCDIFF_MALFORMED);
    CVRGpcDeltaReader inst(encoding.Here() + nData, nInst, GPC_VCDIFF_MALFORMED);
    CVRGpcDeltaReader addr(encoding.Here() + nData + nInst, nAddr, GPC_VCDIFF_MALFORMED);

    unsigned char* pTarget = pOut + nDone;
    GPC_VCDIFF_TRY(RunInstructions(pSegment, nSegment, pTarget, nTarget, data, inst, addr));
    if ((nWinIndicator & VCD_ADLER32) && GpcAdler32(1, pTarget, nTarget) != dwChecksum) {
        return GPC_VCDIFF_BAD_CHECKSUM;
    }
    *pnWindow = nTarget;
    return GPC_VCDIFF_OK;
}

int DecodeAll(const unsigned char* pSource, size_t nSource, const unsigned char* pDelta, size_t nDelta,
              unsigned char* pOut, size_t nOutSize, size_t* pnOut)
{
    CVRGpcDeltaReader delta(pDelta, nDelta, GPC_VCDIFF_TRUNCATED);
    for (size_t i = 0; i < sizeof(GPC_VCDIFF_MAGIC); ++i) {
        unsigned b = 0;
        if (delta.Byte(&b) != GPC_VCDIFF_OK) return i == 0 ? GPC_VCDIFF_NOT_VCDIFF : GPC_VCDIFF_TRUNCATED;
        if (b != GPC_VCDIFF_MAGIC[i]) return GPC_VCDIFF_NOT_VCDIFF;
    }
    unsigned nVersion = 0;
    GPC_VCDIFF_TRY(delta.Byte(&nVersion));
    if (nVersion != 0) return GPC_VCDIFF_NOT_VCDIFF;

    unsigned nHdrIndicator = 0;
    GPC_VCDIFF_TRY(delta.Byte(&nHdrIndicator));
    if (nHdrIndicator & ~static_cast<unsigned>(VCD_DECOMPRESS | VCD_CODETABLE | VCD_APPHEADER)) {
        return GPC_VCDIFF_UNSUPPORTED;
    }
    if (nHdrIndicator & VCD_CODETABLE) return GPC_VCDIFF_UNSUPPORTED;
    if (nHdrIndicator & VCD_DECOMPRESS) {
        // The compressor's id; only a window that asks for it is refused.
        unsigned nCompressor = 0;
        GPC_VCDIFF_TRY(delta.Byte(&nCompressor));
    }
    if (nHdrIndicator & VCD_APPHEADER) {
        uint32_t nApp = 0;
        GPC_VCDIFF_TRY(delta.Integer(&nApp));
        GPC_VCDIFF_TRY(delta.Skip(nApp));
    }

    size_t nDone = 0;
    while (delta.Remaining() > 0) {
        uint32_t nWindow = 0;
        GPC_VCDIFF_TRY(DecodeWindow(delta, pSource, nSource, pOut, nOutSize, nDone, &nWindow));
        nDone += nWindow;
    }
    *pnOut = nDone;
    return GPC_VCDIFF_OK;
}

}  // namespace

const char* GpcVcdiffResultName(int nResult)
{
    switch (nResult) {
    case GPC_VCDIFF_OK: return "ok";
    case GPC_VCDIFF_BAD_ARGUMENT: return "bad argument";
    case GPC_VCDIFF_NOT_VCDIFF: return "not a VCDIFF delta";
    case GPC_VCDIFF_TRUNCATED: return "truncated delta";
    case GPC_VCDIFF_UNSUPPORTED: return "unsupported delta feature";
    case GPC_VCDIFF_MALFORMED: return "malformed delta";
    case GPC_VCDIFF_TOO_LARGE: return "delta result too large";
    case GPC_VCDIFF_BAD_SEGMENT: return "source segment out of range";
    case GPC_VCDIFF_BAD_COPY: return "copy out of range";
    case GPC_VCDIFF_BAD_CHECKSUM: return "window checksum mismatch";
    default: return "unknown";
    }
}

unsigned long GpcAdler32(unsigned long dwAdler, const unsigned char* p, size_t n)
{
    const uint32_t nBase = 65521;
    uint32_t a = static_cast<uint32_t>(dwAdler & 0xFFFF);
    uint32_t b = static_cast<uint32_t>((dwAdler >> 16) & 0xFFFF);
    while (n > 0) {
        // 5,552 bytes is the most that can be summed before b could pass 32 bits.
        size_t nBlock = n < 5552 ? n : 5552;
        n -= nBlock;
        while (nBlock-- > 0) {
            a += *p++;
            b += a;
        }
        a %= nBase;
        b %= nBase;
    }
    return (static_cast<unsigned long>(b) << 16) | a;
}

int GpcVcdiffDecode(const unsigned char* pSource, size_t nSource, const unsigned char* pDelta, size_t nDelta,
                    unsigned char* pOut, size_t nOutSize, size_t* pnOut)
{
    if (pnOut == nullptr) return GPC_VCDIFF_BAD_ARGUMENT;
    *pnOut = 0;
    if (pDelta == nullptr || (pSource == nullptr && nSource != 0) || (pOut == nullptr && nOutSize != 0)) {
        return GPC_VCDIFF_BAD_ARGUMENT;
    }
    if (nOutSize > GPC_VCDIFF_MAX_TARGET) return GPC_VCDIFF_BAD_ARGUMENT;
    size_t nResult = 0;
    int nError = DecodeAll(pSource, nSource, pDelta, nDelta, pOut, nOutSize, &nResult);
    if (nError == GPC_VCDIFF_OK) *pnOut = nResult;
    return nError;
}
