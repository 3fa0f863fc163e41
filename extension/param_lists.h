// The text side of the list page parameters: "GpcUrls" and "GpcActions" cut
// into their fields. No operating system here except the lead-byte test of
// npvrgpc/text_seam.h, so this part also builds natively.
#pragma once

#include "npvrgpc/npbase.h"

// "GpcUrls": fields between "|" (empty ones skipped); each loses its leading
// blanks but is kept even when nothing is left. Adds heap copies (new[]) to
// pList; a piece that cannot be copied or stored is dropped.
void SplitUrls(CGpcPtrArray* pList, const char* lpszText);

// "GpcActions": fields between "|" (empty ones skipped), untrimmed. A "|"
// that is the second byte of a double-byte character belongs to that
// character and does not end the field.
void SplitActions(CGpcPtrArray* pList, const char* lpszText);

// Deletes the strings of a list filled by the functions above and empties it.
void FreeStringList(CGpcPtrArray* pList);

// "GpcProductRoot" and "GpcProductVersion" are appended to the host's folder:
// 1 when the text keeps the result inside it (no path part "." or "..", no
// leading "\" or "/", no ":"), else 0. Inner separators are allowed
// ("Vendor\Product"); a "\" that is the second byte of a double-byte
// character is no separator.
int GpcIsContainedPathPart(const char* lpszText);

// "GpcIniFileName" also names the manifest's copy beside the library: 1 when
// it is a plain file name ending in ".ini" (no path part, drive or stream, no
// character a file name cannot hold, no device name such as NUL, CON, COM1),
// else 0. lpszText may be null (0).
int GpcIsPlainManifestName(const char* lpszText);
