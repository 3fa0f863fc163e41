#include "feedback/trace_log.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "feedback/trace.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/npbase.h"

namespace {

// Read once per process. Lines traced by another thread while the first one
// reads the policy are not logged: the library takes no locks, and the host
// traces from one thread anyway.
enum { LOG_UNREAD, LOG_READING, LOG_OFF, LOG_ON };
std::atomic<int> s_nLogState{LOG_UNREAD};
char s_achLogFile[GPC_MAX_PATH];
char s_achPreviousFile[GPC_MAX_PATH + sizeof(GPC_LOG_PREVIOUS_SUFFIX)];
DWORD s_dwMaxBytes = GPC_LOG_DEFAULT_MAX_KB * 1024;

// "C:\..." or "\\server\share\...": a relative path would depend on the
// host's current directory, which the library itself changes.
bool IsFullPath(const char* lpszPath)
{
    bool bDrive = ((lpszPath[0] >= 'A' && lpszPath[0] <= 'Z') || (lpszPath[0] >= 'a' && lpszPath[0] <= 'z')) &&
                  lpszPath[1] == ':' && (lpszPath[2] == '\\' || lpszPath[2] == '/');
    bool bUnc = lpszPath[0] == '\\' && lpszPath[1] == '\\' && lpszPath[2] != '\0';
    return bDrive || bUnc;
}

// Turns the log off before saying so: the trace line below comes back here.
void TurnOff(const char* lpszWhy, const char* lpszPath, DWORD dwError)
{
    s_nLogState.store(LOG_OFF, std::memory_order_release);
    TraceMessage("vrgpcext: log file off: %s %s, GetLastError() = %lu", lpszWhy, lpszPath,
                 static_cast<unsigned long>(dwError));
}

// The policy's answer: LOG_ON with the path and cap set, or LOG_OFF.
int ReadPolicy()
{
    CGpcRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, GPC_LOG_POLICY_KEY, KEY_QUERY_VALUE) != ERROR_SUCCESS) return LOG_OFF;
    char achPath[GPC_MAX_PATH] = "";
    DWORD dwSize = sizeof(achPath) - 1;
    DWORD dwType = 0;
    if (key.QueryValue(achPath, GPC_LOG_POLICY_FILE, &dwSize, &dwType) != ERROR_SUCCESS || dwType != REG_SZ)
        return LOG_OFF;
    achPath[sizeof(achPath) - 1] = '\0';
    if (!achPath[0]) return LOG_OFF;

    DWORD dwKb = 0;
    DWORD dwKbSize = sizeof(dwKb);
    DWORD dwKbType = 0;
    if (key.QueryValue(&dwKb, GPC_LOG_POLICY_MAX_KB, &dwKbSize, &dwKbType) != ERROR_SUCCESS ||
        dwKbType != REG_DWORD || dwKb == 0)
        dwKb = GPC_LOG_DEFAULT_MAX_KB;
    if (dwKb > GPC_LOG_LIMIT_MAX_KB) dwKb = GPC_LOG_LIMIT_MAX_KB;

    GpcCopyString(s_achLogFile, sizeof(s_achLogFile), achPath);
    GpcFormat(s_achPreviousFile, sizeof(s_achPreviousFile), "%s%s", achPath, GPC_LOG_PREVIOUS_SUFFIX);
    s_dwMaxBytes = dwKb * 1024;
    if (!IsFullPath(achPath)) {
        TurnOff("not a full path:", achPath, 0);
        return LOG_OFF;
    }
    return LOG_ON;
}

// Opened for each line and closed again: the file stays free to be read,
// moved or deleted between lines, and several processes can append to it.
HANDLE OpenForAppend()
{
    return CreateFileA(s_achLogFile, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

void WriteTraceLog(const char* lpszLine)
{
    if (!lpszLine) return;
    int nState = s_nLogState.load(std::memory_order_acquire);
    if (nState == LOG_UNREAD) {
        if (!s_nLogState.compare_exchange_strong(nState, LOG_READING, std::memory_order_acq_rel)) return;
        nState = ReadPolicy();
        // TurnOff may already have said LOG_OFF; keep that.
        int nExpected = LOG_READING;
        s_nLogState.compare_exchange_strong(nExpected, nState, std::memory_order_acq_rel);
    }
    if (nState != LOG_ON) return;

    SYSTEMTIME st;
    GetLocalTime(&st);
    char achEntry[2048 + 32];
    int nLength = GpcFormat(achEntry, sizeof(achEntry), "%04u-%02u-%02u %02u:%02u:%02u.%03u %s\r\n", st.wYear,
                            st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, lpszLine);
    if (nLength < 0) return;

    CGpcHandle hFile(OpenForAppend());
    if (!hFile) {
        TurnOff("cannot open", s_achLogFile, GetLastError());
        return;
    }
    // At its cap the file becomes the previous one in one rename (any
    // older previous file goes), and a new file begins.
    DWORD dwSize = GetFileSize(hFile.Get(), nullptr);
    if (dwSize != INVALID_FILE_SIZE && dwSize > 0 && dwSize + static_cast<DWORD>(nLength) > s_dwMaxBytes) {
        hFile.Reset();
        if (!MoveFileExA(s_achLogFile, s_achPreviousFile, MOVEFILE_REPLACE_EXISTING)) {
            TurnOff("cannot rename", s_achLogFile, GetLastError());
            return;
        }
        hFile.Reset(OpenForAppend());
        if (!hFile) {
            TurnOff("cannot open", s_achLogFile, GetLastError());
            return;
        }
    }
    DWORD dwWritten = 0;
    if (!WriteFile(hFile.Get(), achEntry, static_cast<DWORD>(nLength), &dwWritten, nullptr) ||
        dwWritten != static_cast<DWORD>(nLength))
        TurnOff("cannot write", s_achLogFile, GetLastError());
}

void ForgetTraceLogForTesting()
{
    s_nLogState.store(LOG_UNREAD, std::memory_order_release);
}
