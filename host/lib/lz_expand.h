// Expands an SZDD-compressed file (the classic "expand" format) into a new
// file with Windows' LZ32 API; a plain file is copied unchanged.
#pragma once

// 0 on success, -1 when either file cannot be opened or the expansion fails.
int GpcExpandFile(const char* lpszSource, const char* lpszDest);
