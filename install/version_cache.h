// What a file's version resource or version tag said, read at most once per
// pass. A start-up asks about every installed file twice (whether anything
// needs an update, then what to download) and a busy file's redirected copy
// once more; reading a version resource is the dearest part of each.
//
// What was read is also kept for the next start, per product, in a key of
// its own beside the installation log ("VersionCache", one value per full
// path). A kept answer is taken only while the file keeps the size, the
// last-write time and the creation time it had when it was read; a missing
// file, a changed one or a damaged entry means the file is read again and
// the entry written anew. A file whose times the library sets itself
// (HasTimesSetByLibrary) is never kept: its stamp is the same in every
// version, so it is read again at every start.
#pragma once

#include <windows.h>

#include "npvrgpc/npbase.h"

// The call that reads a file's size and times for the stamp of its kept
// entry. Tests put in one that presents other times (Wine cannot set a
// creation time apart from the last-write time); null puts
// GetFileAttributesExA back. Returns the call used before.
typedef BOOL(WINAPI* PFN_GpcGetFileAttributesEx)(const char*, GET_FILEEX_INFO_LEVELS, void*);
PFN_GpcGetFileAttributesEx SetFileStampReaderForTesting(PFN_GpcGetFileAttributesEx pfnRead);

enum GpcVersionKind {
    GPC_VERSION_RESOURCE = 1,  // the file's version resource, "a,b,c,d"
    GPC_VERSION_TAG = 2,       // the text after the version tag marker
};

class CVRGpcVersionCache {
public:
    CVRGpcVersionCache() = default;
    ~CVRGpcVersionCache() { Release(); }
    CVRGpcVersionCache(const CVRGpcVersionCache&) = delete;
    CVRGpcVersionCache& operator=(const CVRGpcVersionCache&) = delete;

    // A new pass: nothing read before it is answered again, except what the
    // kept entries under hStoreParent (may be null: nothing is kept) still
    // vouch for.
    void BeginPass(HKEY hStoreParent = nullptr);
    // The version of the file at lpszPath into lpszOut (nSize bytes, at most
    // 256 used): what this pass read before, or what the file says now.
    // Returns 1 when the file has one, as the read itself would.
    int Read(GpcVersionKind nKind, const char* lpszPath, char* lpszOut, int nSize);
    // The library writes, replaces or removes the file at lpszPath: what
    // was read of it no longer stands.
    void Forget(const char* lpszPath);
    // Frees every entry and closes the kept entries' key.
    void Release();

    // The key under the installation log that keeps the entries.
    static const char* StoreKeyName();

private:
    struct GpcEntry;
    enum { GPC_BUCKETS = 512, GPC_ENTRY_LIMIT = 4096 };

    GpcEntry* Find(const char* lpszKey, unsigned int nHash, GpcVersionKind nKind) const;
    void Remember(const char* lpszKey, unsigned int nHash, GpcVersionKind nKind, int bFound, const char* lpszValue);

    GpcEntry* m_apBuckets[GPC_BUCKETS] = {};
    int m_nEntries = 0;
    CGpcRegKey m_keyStore;
    // The kept entries' key had no value when the pass began and this pass
    // wrote none: there is nothing in it to delete.
    bool m_bStoreEmpty = false;
    // It had no value when the pass began: all it holds, this pass wrote and
    // remembers in memory, so nothing is looked up in it.
    bool m_bStoreEmptyAtStart = false;
};
