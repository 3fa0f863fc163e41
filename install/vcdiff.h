// Delta decoding: rebuilds a file from the installed version and a
// difference in the VCDIFF format (RFC 3284), as Debian's xdelta3 writes it
// without secondary compression ("xdelta3 -e -S none -s old new delta").
//
// Pure code, no operating-system calls: it builds natively for fuzzing. The
// decoder allocates nothing; it writes into the caller's buffer, whose size
// is the most the result may hold (the item's size), and refuses instead of
// overrunning: every length, every window and every copy is checked against
// the bytes really there before a byte moves.
//
// Besides the standard format it reads what xdelta3 adds: an application
// header (Hdr_Indicator 0x04, skipped) and an Adler-32 checksum of each
// target window (Win_Indicator 0x04, checked). A secondary compressor named
// in the header is tolerated as long as no window uses it; a window that
// does, and any code table of the encoder's own, is refused as unsupported.
#pragma once

#include <cstddef>

enum GpcVcdiffResult {
    GPC_VCDIFF_OK = 0,
    GPC_VCDIFF_BAD_ARGUMENT = 1,   // a null buffer, or an output larger than the fixed cap
    GPC_VCDIFF_NOT_VCDIFF = 2,     // no VCDIFF magic, or a version other than 0
    GPC_VCDIFF_TRUNCATED = 3,      // the delta ends inside a header, a window or a section
    GPC_VCDIFF_UNSUPPORTED = 4,    // secondary compression, own code table, unknown indicator bits
    GPC_VCDIFF_MALFORMED = 5,      // lengths that disagree, an integer beyond 32 bits, bytes left over
    GPC_VCDIFF_TOO_LARGE = 6,      // a window or the whole result beyond the output or the fixed cap
    GPC_VCDIFF_BAD_SEGMENT = 7,    // a window's source segment outside the source or the earlier target
    GPC_VCDIFF_BAD_COPY = 8,       // a copy address at or beyond the current position
    GPC_VCDIFF_BAD_CHECKSUM = 9,   // a window's Adler-32 differs from the bytes it produced
};

enum {
    // A target window never exceeds what xdelta3 can write (its largest
    // window, -W, is 16 MB), and the whole result never exceeds the fixed
    // cap, whatever the caller's buffer: the library's files are modules of
    // a few megabytes, and the result is held in memory.
    GPC_VCDIFF_MAX_WINDOW = 16 * 1024 * 1024,
    GPC_VCDIFF_MAX_TARGET = 64 * 1024 * 1024,
};

// A short English name of a result, for trace lines ("copy out of range").
const char* GpcVcdiffResultName(int nResult);

// Decodes pDelta against pSource (the installed file's bytes; null with
// nSource 0 when there is none) into pOut, which holds at most nOutSize
// bytes (no more than GPC_VCDIFF_MAX_TARGET). Returns GPC_VCDIFF_OK and the
// result's length in *pnOut, or the first reason for refusal; then *pnOut
// is 0 and pOut holds nothing that may be used. The result is the delta's
// word only: the caller checks it against the full file's hash.
int GpcVcdiffDecode(const unsigned char* pSource, size_t nSource, const unsigned char* pDelta, size_t nDelta,
                    unsigned char* pOut, size_t nOutSize, size_t* pnOut);

// Adler-32 as zlib computes it (initial value 1), which is what xdelta3
// stores per window.
unsigned long GpcAdler32(unsigned long dwAdler, const unsigned char* p, size_t n);
