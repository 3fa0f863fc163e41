// Pieces the progress-window owners share (not part of the library's
// interface between rooms).
#pragma once

#include <windows.h>

#include "feedback/progress.h"

// The colour of the filled part of the bar (dark blue).
enum : COLORREF { GPC_PROGRESS_FILL_COLOR = 0x00800000 };

// Time texts are loaded and formatted in buffers of this size.
enum { GPC_TIME_TEXT_SIZE = 256 };

// Creates dialog template 102 from a found resource, modeless and without
// parent. Null when there is no resource or no window could be made.
HWND CreateProgressDialog(HRSRC hResource, DLGPROC pfnProc, LPARAM lOwner);

// Counts the bytes and refreshes the rate (64-bit product, wrap-safe
// elapsed time, never a division by zero).
void CountProgressBytes(GpcProgressCounters& counters, DWORD dwBytes);
// The same at a given tick count.
void CountProgressBytesAt(GpcProgressCounters& counters, DWORD dwBytes, DWORD dwNow);

// Whole minutes for a number of seconds, rounded up.
DWORD MinutesLeft(DWORD dwSeconds);


// What every owner's dialog procedure does on WM_INITDIALOG / WM_DESTROY:
// keeps the owner in the dialog's user data, hands the bar its counters,
// and on destruction clears the owner's handle so it never points at a
// dead window.
void AttachProgressOwner(HWND hDlg, void* pOwner, GpcProgressCounters* pCounters, bool bTraceBar);
void DetachProgressOwner(HWND hDlg, GpcProgressCounters* pCounters);

// Puts the time text into control 1005 when there is an estimate; returns
// the text set (empty when none). lpszText holds GPC_TIME_TEXT_SIZE bytes.
void ShowTimeLeft(HWND hDlg, WORD wLang, DWORD dwSeconds, char* lpszText);

// Asks the bar (control 1002) to repaint its fill.
void RefreshProgressBar(HWND hDlg, bool bNow);


