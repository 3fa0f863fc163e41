// The thin seam between the pure text routines and the operating system.
// Windows builds use the ANSI code page and the debugger output; a native
// build (for fuzzing) gets single-byte answers and stderr.
#pragma once

// Nonzero when c is the lead byte of a double-byte character in the
// system's ANSI code page.
int GpcIsLeadByte(unsigned char c);
// Writes one text to the debugger output.
void GpcDebugOutput(const char* lpszText);
