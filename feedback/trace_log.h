// The log an administrator can switch on: every trace line also appended,
// after the local date and time, to the file the policy value "LogFile"
// names (HKLM\Software\Policies\VRGpcExt, REG_SZ, a full path), capped at
// "LogFileMaxKB" (REG_DWORD, default 1,024) with one previous file kept as
// "<name>.old". Off by default. A file that cannot be opened or written turns
// the log off for the rest of the process, with one trace line.
#pragma once

constexpr char GPC_LOG_POLICY_KEY[] = "Software\\Policies\\VRGpcExt";  // under HKLM
constexpr char GPC_LOG_POLICY_FILE[] = "LogFile";                      // REG_SZ, a full path
constexpr char GPC_LOG_POLICY_MAX_KB[] = "LogFileMaxKB";               // REG_DWORD
constexpr char GPC_LOG_PREVIOUS_SUFFIX[] = ".old";
enum : unsigned long {
    GPC_LOG_DEFAULT_MAX_KB = 1024,
    GPC_LOG_LIMIT_MAX_KB = 1024 * 1024,  // a larger cap is taken as this one
};

// Appends one whole trace line (without its line end) when the log is on.
// The policy is read at the first line of the process.
void WriteTraceLog(const char* lpszLine);

// Forgets what was read (and a log turned off): the next line reads the
// policy again. For tests, which change the policy between cases.
void ForgetTraceLogForTesting();
