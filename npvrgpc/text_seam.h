// The thin seam between the pure text routines and the operating system.
// Windows builds use the ANSI code page and the debugger output; a native
// build (for fuzzing) gets single-byte answers and stderr.
#pragma once

// Nonzero when c is the lead byte of a double-byte character in the
// system's ANSI code page.
int GpcIsLeadByte(unsigned char c);
// Writes one text to the debugger output, when someone can receive it (see
// GpcDebugListenerPresent); otherwise the text is dropped.
void GpcDebugOutput(const char* lpszText);
// Nonzero while a debugger is attached to the process or a system-wide
// debug-output monitor runs. Writing to the debugger output costs a raised
// exception and a look for the monitor's objects on every call, listener
// or not; so the monitor is looked for at most once per 100 ms and that
// answer kept in between (a monitor that appears is served within 100 ms).
int GpcDebugListenerPresent();
