// The text side of manifest items: cutting an item into its fields, reading
// the numbers in them and cutting an item list into items. No operating
// system here: tracing comes in as a function, so this part also builds
// natively (the fuzz targets use it).
#pragma once

#include "npvrgpc/npbase.h"

// printf-style trace sink; the extension passes TraceMessage.
typedef void (*GpcTraceFn)(const char* lpszFormat, ...);

// The item's words, read once when the item is parsed (ReadItemWords); the
// code below the parser asks these, never the texts. Words compare without
// case; a word nobody knows acts as the table's last row says.
enum GpcUpdateKind {
    GPC_UPDATE_ABSENT,     // no eighth field: download every time
    GPC_UPDATE_VERSION,    // "version": the version resource equals Version
    GPC_UPDATE_SIZE,       // "size": the file size equals FileSize
    GPC_UPDATE_EXISTENCE,  // "existence": current once there
    GPC_UPDATE_VERTAG,     // "vertag": the version tag equals Version
    GPC_UPDATE_OTHER,      // empty or unknown: never current
};
enum GpcFailureKind {
    GPC_FAILURE_ABSENT,    // no ninth field: fail quietly
    GPC_FAILURE_IGNORE,    // "ignore"
    GPC_FAILURE_REBOOT,    // "reboot"
    GPC_FAILURE_REDIRECT,  // "redirect"
    GPC_FAILURE_OTHER,     // empty or unknown: fail, and say so
};
enum GpcActionKind {
    GPC_ACTION_NONE,       // absent, empty or unknown: nothing runs
    GPC_ACTION_SERVER,     // "r": register as a COM server
    GPC_ACTION_RUN_R,      // "e": run the file with " /r"
    GPC_ACTION_RUN_P,      // "p": run the file with " /p"
};

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
    // UpdateControl, FailureControl and Action as read by ReadItemWords.
    GpcUpdateKind Update = GPC_UPDATE_ABSENT;
    GpcFailureKind Failure = GPC_FAILURE_ABSENT;
    GpcActionKind ActionKind = GPC_ACTION_NONE;
};

// Cuts lpszItem (changed in place) at every ";" and stores each trimmed
// field by its position, tracing each one through pfnTrace (may be null).
// Fields after the tenth are ignored. A null item stores nothing. Ends with
// ReadItemWords.
void ParseItemFields(char* lpszItem, GpcItemFields* pFields, GpcTraceFn pfnTrace);

// Reads UpdateControl, FailureControl and Action into their kinds. A word
// that is not empty and not known is traced once, with the item's name:
// "unknown failure control 'redirct' for viewer.dll".
void ReadItemWords(GpcItemFields* pFields, GpcTraceFn pfnTrace);

// Cuts an item list at every "|" and adds a heap copy (new[]) of every
// piece that is not blank after trimming to pPieces. Returns 0 when the
// list could not be copied; a piece that cannot be stored is dropped.
int SplitItemList(const char* lpszList, CGpcPtrArray* pPieces);
