// Support library: owned strings, pointer arrays, name/value lists, text
// routines, the INI reader, file/version/registry helpers and OS tests.
//
// The text processing here (CGpcString, CGpcPtrArray, CVRGpcNameValuePairs,
// TrimWhitespace, DecodeSpaces, NormalizeList, IniFindValue) touches the
// operating system only through npvrgpc/text_seam.h, so it can be built
// natively for fuzzing.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

// Path buffers everywhere in the system hold 260 bytes (259 characters).
enum { GPC_MAX_PATH = 260 };
// Manifest lines and entries are read in pieces of at most 2,047 characters.
enum { GPC_INI_LINE = 2048 };

// Owned heap text. A never-assigned string (or one assigned null) holds a
// null text, which differs from an empty text: manifest fields rely on it.
class CGpcString {
public:
    CGpcString();
    CGpcString(const CGpcString& other);
    CGpcString& operator=(const CGpcString& other);
    ~CGpcString();

    // Copies text; null empties. On allocation failure the old value stays
    // and 0 is returned.
    int Assign(const char* lpszText);
    int Assign(const CGpcString& other) { return Assign(other.m_pszText); }

    const char* GetText() const { return m_pszText; }
    int GetLength() const { return m_nLength; }
    bool IsNull() const { return m_pszText == nullptr; }
    bool IsEmpty() const { return m_pszText == nullptr || m_pszText[0] == '\0'; }

    // Case-insensitive equality where "%20" counts as a space (either side).
    int CompareNoCaseDecoded(const char* lpszText) const;
    // True when this text is exactly n characters long and equals the first
    // n characters of lpszText, ignoring case.
    int ComparePrefixNoCase(const char* lpszText, int n) const;

private:
    char* m_pszText;
    int m_nLength;
};

// Growable array of untyped pointers; does not own what they point to.
// Grows by 16 slots at a time and never shrinks.
class CGpcPtrArray {
public:
    CGpcPtrArray();
    ~CGpcPtrArray();
    CGpcPtrArray(const CGpcPtrArray&) = delete;
    CGpcPtrArray& operator=(const CGpcPtrArray&) = delete;

    int Add(void* lpv, int bUnique = 0);
    int Remove(void* lpv);
    int Find(void* lpv) const;
    void* GetAt(int nIndex) const;
    int GetCount() const { return m_nCount; }
    void Free();
    // Drops every slot but keeps the storage.
    void RemoveAll() { m_nCount = 0; }
    // Exchanges the contents (storage, capacity, count) with another array.
    void Swap(CGpcPtrArray& other)
    {
        std::swap(m_ppHead, other.m_ppHead);
        std::swap(m_nCapacity, other.m_nCapacity);
        std::swap(m_nCount, other.m_nCount);
    }
    // Slots allocated, and the storage itself (null before the first Add).
    int GetCapacity() const { return m_nCapacity; }
    const void* const* GetStorage() const { return m_ppHead; }

private:
    // Lets the tests fake a full array of any size without allocating it.
    friend struct GpcPtrArrayTestAccess;

    void** m_ppHead;
    int m_nCapacity;
    int m_nCount;
};

class CVRGpcNameValuePair {
public:
    CGpcString m_strName;
    CGpcString m_strValue;
};

// Ordered list of named texts; names match case-insensitively with "%20"
// standing for a space. Setting an existing name replaces its value.
class CVRGpcNameValuePairs {
public:
    CVRGpcNameValuePairs();
    virtual ~CVRGpcNameValuePairs();
    CVRGpcNameValuePairs(const CVRGpcNameValuePairs&) = delete;
    CVRGpcNameValuePairs& operator=(const CVRGpcNameValuePairs&) = delete;

    int SetValue(const char* lpszName, const char* lpszValue);
    int GetValue(const char* lpszName, const char** ppValue);
    // Matches entries whose name is exactly the first n characters of lpszName.
    int GetValue(const char* lpszName, int n, const char** ppValue);
    CVRGpcNameValuePair* FindPair(const char* lpszName);
    void RemoveAll();
    int GetCount() const { return m_Pairs.GetCount(); }
    CVRGpcNameValuePair* GetAt(int i) const { return static_cast<CVRGpcNameValuePair*>(m_Pairs.GetAt(i)); }

private:
    CGpcPtrArray m_Pairs;
};

// Text routines. All work in place on the caller's buffer.
char* TrimWhitespace(char* lpszString);
void DecodeSpaces(char* lpszText);
// Writes the tokens of lpszSrc (first 255 characters) joined by single commas.
// lpszDest must hold at least 256 bytes.
void NormalizeList(char* lpszDest, const char* lpszSrc);
// A page parameter that switches something on ("GpcDownloadOnly",
// "GpcSuppressInstallation", "GpcSuppressProgressBar"): "True" in any letter
// case. Absent, empty or any other text ("1", "yes", " True") leaves it off.
bool GpcIsTrueParam(const char* lpszValue);

// Bounded copy: copies at most nSize - 1 bytes and always terminates (when
// nSize > 0). Returns the number of bytes copied.
int GpcCopyString(char* lpszDest, int nSize, const char* lpszSrc);
// Bounded append with the same rules: appends what fits of lpszSrc and
// returns 1 when all of it fitted, 0 when the text was cut (or the buffer
// was unusable). nSize is the size of the whole buffer lpszDest.
int GpcAppendString(char* lpszDest, int nSize, const char* lpszSrc);
// Bounded printf (the system C library's format rules, as TraceMessage):
// never writes past nSize, always terminates; returns the length written,
// or -1 when the output was cut.
int GpcFormat(char* lpszDest, int nSize, const char* lpszFormat, ...)
#ifdef __GNUC__
#ifdef _WIN32
    __attribute__((format(ms_printf, 3, 4)))
#else
    __attribute__((format(printf, 3, 4)))
#endif
#endif
    ;

// True when the last byte of lpszPath is a "\" that really is a separator: a
// "\" that is the trail byte of a double-byte character does not count.
int EndsWithSeparator(const char* lpszPath);
// The last separator of a path: its last byte that is one of lpszSeparators
// and not the trail byte of a double-byte character. Null when there is none
// (or either text is null).
const char* GpcFindLastSeparator(const char* lpszPath, const char* lpszSeparators);
inline char* GpcFindLastSeparator(char* lpszPath, const char* lpszSeparators)
{
    return const_cast<char*>(GpcFindLastSeparator(static_cast<const char*>(lpszPath), lpszSeparators));
}
// Appends "\" unless EndsWithSeparator; then the component. Bounded by nSize
// (260 for paths); returns 0 when the result would not fit (nothing is
// appended then).
int AppendPathComponent(char* lpszPath, int nSize, const char* lpszComponent);

// INI reader over an open text stream; see IniGetInt/IniGetString for files.
// Returns 1 and the value (bounded by nSize, always terminated) when the key
// is found in the first section of that name; lpszOut is untouched otherwise.
int IniFindValue(FILE* pStream, const char* lpszSection, const char* lpszKey,
                 char* lpszOut, int nSize);
int IniGetInt(const char* lpszSection, const char* lpszKey, int nDefault, const char* lpszPath);
int IniGetString(const char* lpszSection, const char* lpszKey, const char* lpszDefault,
                 char* lpszOut, int nSize, const char* lpszPath);

// Manifests are held in memory up to this size; a larger one is read from
// its file for every key instead.
enum { GPC_INI_MAX_TEXT = 4 * 1024 * 1024 };

// A manifest read once into memory: a pass over it (its count, then each
// of its items) asks for many keys, and each is answered from the copy by
// the rules of IniFindValue. The copy is taken when the object is made and
// never refreshed: make a new one for every pass, so that a manifest that
// arrived since is read again. A file that cannot be held (too large, no
// memory) is read key by key as IniGetInt and IniGetString read it.
class CGpcIniText {
public:
    explicit CGpcIniText(const char* lpszPath);
    // The text itself, as a file in text mode would give it.
    CGpcIniText(const char* pText, size_t nSize);
    CGpcIniText(const CGpcIniText&) = delete;
    CGpcIniText& operator=(const CGpcIniText&) = delete;

    // As IniFindValue over the whole file.
    int FindValue(const char* lpszSection, const char* lpszKey, char* lpszOut, int nSize);
    // As IniGetInt and IniGetString.
    int GetInt(const char* lpszSection, const char* lpszKey, int nDefault);
    int GetString(const char* lpszSection, const char* lpszKey, const char* lpszDefault, char* lpszOut,
                  int nSize);
    bool IsHeld() const { return m_bLoaded; }

private:
    // Collects the key lines of the first section of that name, in their
    // order, unless it is the section collected last. False when there is
    // no memory for it.
    bool IndexSection(const char* lpszSection);

    CGpcString m_Path;
    std::unique_ptr<char[]> m_pText;
    size_t m_nSize = 0;
    bool m_bLoaded = false;
    // The indexed section's keys and values, each terminated, one after
    // the other.
    CGpcString m_Section;
    std::unique_ptr<char[]> m_pEntries;
    size_t m_nEntries = 0;
    size_t m_nEntryCapacity = 0;
};

#ifdef _WIN32
// File routines.
// 1 for an existing file (a directory does not count).
int FileExists(const char* lpszPath);
void RemoveFile(const char* lpszPath);
void CreateDirectoryPath(const char* lpszPath);
DWORD GetFileSizeByName(const char* lpszPath);
// Writes "%u,%u,%u,%u" of the file version (at most nSize bytes, 256 usual).
// Returns 1 when a version was written; 0 with an empty text when the file
// has none (or it would not fit).
int GetFileVersionString(const char* lpszPath, char* lpszVersion, int nSize = 256);

// Registry key holder; every operation returns the system error code.
class CGpcRegKey {
public:
    CGpcRegKey() : m_hKey(nullptr) {}
    ~CGpcRegKey() { Close(); }
    CGpcRegKey(const CGpcRegKey&) = delete;
    CGpcRegKey& operator=(const CGpcRegKey&) = delete;

    LONG Close();
    LONG Create(HKEY hParent, const char* lpszSubKey, char* lpszClass = nullptr,
                DWORD dwOptions = REG_OPTION_NON_VOLATILE, REGSAM samDesired = KEY_ALL_ACCESS,
                LPSECURITY_ATTRIBUTES lpSecAttr = nullptr, DWORD* lpdwDisposition = nullptr);
    LONG Open(HKEY hParent, const char* lpszSubKey, REGSAM samDesired = KEY_ALL_ACCESS);
    LONG QueryValue(void* pBuffer, const char* lpszName, DWORD* pdwSize, DWORD* pdwType = nullptr);
    LONG SetStringValue(const char* lpszValue, const char* lpszName);
    HKEY GetHandle() const { return m_hKey; }
    operator HKEY() const { return m_hKey; }

private:
    HKEY m_hKey;
};

// Operating-system tests.
int IsWindowsNT();
int IsWindows2000OrLater();
// 1 when this 32-bit process runs on 64-bit Windows (WOW64): the system
// folder and HKLM\Software it sees are redirected to their 32-bit copies.
int IsWow64();
// Tests give the answer of IsWow64 themselves (1 or 0); -1 puts the
// system's answer back. Returns the setting before.
int SetWow64ForTesting(int nAnswer);
#endif

// now - start as an unsigned 32-bit difference: right across one wrap of the
// millisecond tick count.
inline unsigned long TickDelta(unsigned long dwStart, unsigned long dwNow)
{
    return static_cast<unsigned long>(static_cast<unsigned int>(dwNow) - static_cast<unsigned int>(dwStart));
}
