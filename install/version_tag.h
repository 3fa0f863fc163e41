// The version tag some files carry instead of a version resource: the text
// after the marker "#~@CorvoVersionTag@~#". The scan works on bytes in
// memory, so it needs no operating system (and builds natively).
#pragma once

#include <cstddef>

// Looks for the first marker in the nData bytes at pData and copies the
// text after it, up to a zero byte or the end of the data, cut at 255
// characters and at nSize - 1, into lpszOut (always terminated). Returns 1
// when a marker was found, 0 otherwise (lpszOut untouched then).
int FindTaggedVersion(const char* pData, size_t nData, char* lpszOut, int nSize);
