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
