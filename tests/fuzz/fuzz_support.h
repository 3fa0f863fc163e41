// Shared pieces of the fuzz targets: a check that stops the run with a
// message (libFuzzer keeps the input), the choice of code page for the
// lead-byte seam, and a trace sink that formats every line as the library's
// tracing would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#define FUZZ_CHECK(cond)                                                  \
    do {                                                                  \
        if (!(cond)) FuzzCheckFailed(#cond, __FILE__, __LINE__);          \
    } while (0)

[[noreturn]] void FuzzCheckFailed(const char* lpszCondition, const char* lpszFile, int nLine);

// The lead-byte seam answers like a single-byte code page (0) or like code
// page 932 (Japanese Shift-JIS: lead bytes 0x81-0x9F and 0xE0-0xFC).
void FuzzSetCodePage(int nCodePage);
// 0 or 932 from one byte of input.
int FuzzCodePageFrom(uint8_t b);

// Trace sink with the signature of TraceMessage: formats into the 1,024
// bytes TraceMessage uses and checks the result is terminated. Counts lines.
void FuzzTrace(const char* lpszFormat, ...);
int FuzzTraceCount();
void FuzzTraceReset();

// Input as a C string: the bytes up to the first zero byte.
std::string FuzzText(const uint8_t* pData, size_t nSize);

// True when no byte in [p, p + nSize) is a zero byte before position n and
// p[n] is the terminator, with n < nSize: a text terminated within its buffer.
bool TerminatedWithin(const char* p, size_t nSize);
