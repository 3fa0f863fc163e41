// Support library (placeholder definitions so the extension links while the
// real routines are written).
#include "npvrgpc/npbase.h"

#include <cstdarg>
#include <cstring>

CGpcString::CGpcString() : m_pszText(nullptr), m_nLength(0) {}
CGpcString::CGpcString(const CGpcString& other) : m_pszText(nullptr), m_nLength(0) { Assign(other.m_pszText); }
CGpcString& CGpcString::operator=(const CGpcString& other) { Assign(other.m_pszText); return *this; }
CGpcString::~CGpcString() { delete[] m_pszText; }
int CGpcString::Assign(const char* lpszText)
{
    if (!lpszText) { delete[] m_pszText; m_pszText = nullptr; m_nLength = 0; return 1; }
    size_t n = strlen(lpszText);
    char* p = new char[n + 1];
    memcpy(p, lpszText, n + 1);
    delete[] m_pszText;
    m_pszText = p;
    m_nLength = static_cast<int>(n);
    return 1;
}
int CGpcString::CompareNoCaseDecoded(const char*) const { return 0; }
int CGpcString::ComparePrefixNoCase(const char*, int) const { return 0; }

CGpcPtrArray::CGpcPtrArray() : m_ppHead(nullptr), m_nCapacity(0), m_nCount(0) {}
CGpcPtrArray::~CGpcPtrArray() { Free(); }
int CGpcPtrArray::Add(void*, int) { return 0; }
int CGpcPtrArray::Remove(void*) { return 0; }
int CGpcPtrArray::Find(void*) const { return -1; }
void* CGpcPtrArray::GetAt(int) const { return nullptr; }
void CGpcPtrArray::Free() { delete[] m_ppHead; m_ppHead = nullptr; m_nCapacity = 0; m_nCount = 0; }

CVRGpcNameValuePairs::CVRGpcNameValuePairs() {}
CVRGpcNameValuePairs::~CVRGpcNameValuePairs() { RemoveAll(); }
int CVRGpcNameValuePairs::SetValue(const char*, const char*) { return 0; }
int CVRGpcNameValuePairs::GetValue(const char*, const char** pp) { if (pp) *pp = nullptr; return 0; }
int CVRGpcNameValuePairs::GetValue(const char*, int, const char** pp) { if (pp) *pp = nullptr; return 0; }
CVRGpcNameValuePair* CVRGpcNameValuePairs::FindPair(const char*) { return nullptr; }
void CVRGpcNameValuePairs::RemoveAll() { m_Pairs.Free(); }

char* TrimWhitespace(char* s) { return s; }
void DecodeSpaces(char*) {}
void NormalizeList(char* d, const char*) { if (d) d[0] = 0; }
int GpcCopyString(char* d, int n, const char*) { if (d && n > 0) d[0] = 0; return 0; }
int GpcAppendString(char*, int, const char*) { return 0; }
int GpcFormat(char* d, int n, const char*, ...) { if (d && n > 0) d[0] = 0; return -1; }
int EndsWithSeparator(const char*) { return 0; }
int AppendPathComponent(char*, int, const char*) { return 0; }
int IniFindValue(FILE*, const char*, const char*, char*, int) { return 0; }
int IniGetInt(const char*, const char*, int nDefault, const char*) { return nDefault; }
int IniGetString(const char*, const char*, const char*, char* o, int n, const char*) { if (o && n > 0) o[0] = 0; return 0; }

#ifdef _WIN32
int FileExists(const char*) { return 0; }
void RemoveFile(const char*) {}
void CreateDirectoryPath(const char*) {}
DWORD GetFileSizeByName(const char*) { return 0; }
int GetFileVersionString(const char*, char* v, int n) { if (v && n > 0) v[0] = 0; return 0; }
LONG CGpcRegKey::Close() { return 0; }
LONG CGpcRegKey::Create(HKEY, const char*, char*, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, DWORD*) { return ERROR_CALL_NOT_IMPLEMENTED; }
LONG CGpcRegKey::Open(HKEY, const char*, REGSAM) { return ERROR_CALL_NOT_IMPLEMENTED; }
LONG CGpcRegKey::QueryValue(void*, const char*, DWORD*, DWORD*) { return ERROR_CALL_NOT_IMPLEMENTED; }
LONG CGpcRegKey::SetStringValue(const char*, const char*) { return ERROR_CALL_NOT_IMPLEMENTED; }
int IsWindowsNT() { return 1; }
int IsWindows2000OrLater() { return 1; }
#endif
