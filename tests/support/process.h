// Running other programs from a test: a helper program, or a copy of one
// under another Windows version.
#pragma once

#include <windows.h>

#include <string>

// What RunProgram and RunCopyUnderWindowsVersion answer instead of an exit
// code when the program did not run to its end.
enum : int {
    GPC_RUN_NOT_STARTED = -1,
    GPC_RUN_NO_COPY = -2,
    GPC_RUN_NO_VERSION_KEY = -3,
};

// Wine's per-program settings key under HKEY_CURRENT_USER
// (Software\Wine\AppDefaults\<file name>) for a program's path or file
// name. Wine reads it when the program starts: the Windows version in its
// "Version" value, the X11 driver's settings in its "X11 Driver" subkey.
std::string WineAppDefaultsKey(const std::string& program);

// The full path of the running program.
std::string OwnProgramPath();

// Runs a command line and waits for it; returns its exit code. A program
// still running after the timeout is ended and answers -1 (GPC_RUN_NOT_STARTED
// answers a program that could not start).
int RunProgram(const std::string& commandLine, DWORD dwTimeoutMs = 120000);

// Wine takes the Windows version per program name
// (HKCU\Software\Wine\AppDefaults\<name>\Version), so the program is copied
// to copyPath, a name no other run uses, and run there with the version
// ("" keeps Wine's default). The copy and its key are removed afterwards.
int RunCopyUnderWindowsVersion(const std::string& program, const std::string& copyPath, const std::string& version,
                               const std::string& arguments = "", DWORD dwTimeoutMs = 120000);
