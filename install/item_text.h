// The text side of manifest items: cutting an item into its fields, reading
// the numbers in them and cutting an item list into items. No operating
// system here: tracing comes in as a function, so this part also builds
// natively (the fuzz targets use it).
#pragma once

#include "npvrgpc/npbase.h"

// printf-style trace sink; the extension passes TraceMessage.
typedef void (*GpcTraceFn)(const char* lpszFormat, ...);

// The fields a manifest item line carries, in their order. Text fields are
// absent (null) or owned text (maybe empty); numbers keep their value when
// the field does not begin with digits.
struct GpcItemFields {
    CGpcString SourceName;
    CGpcString Url;
    CGpcString Target;
    CGpcString Version;
    unsigned long FileSize = 0;
    unsigned long CompressedSize = 0;
    CGpcString Action;
    CGpcString UpdateControl;
    CGpcString FailureControl;
    int OsVersion = 0;
};

// Cuts lpszItem (changed in place) at every ";" and stores each trimmed
// field by its position, tracing each one through pfnTrace (may be null).
// Fields after the tenth are ignored. A null item stores nothing.
void ParseItemFields(char* lpszItem, GpcItemFields* pFields, GpcTraceFn pfnTrace);

// Cuts an item list at every "|" and adds a heap copy (new[]) of every
// piece that is not blank after trimming to pPieces. Returns 0 when the
// list could not be copied; a piece that cannot be stored is dropped.
int SplitItemList(const char* lpszList, CGpcPtrArray* pPieces);
