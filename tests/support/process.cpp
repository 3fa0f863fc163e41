#include "process.h"

#include <vector>

#include "registry.h"

int RunProgram(const std::string& commandLine, DWORD dwTimeoutMs)
{
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return GPC_RUN_NOT_STARTED;
    DWORD dwCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, dwTimeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &dwCode);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(dwCode);
}

int RunCopyUnderWindowsVersion(const std::string& program, const std::string& copyPath, const std::string& version,
                               const std::string& arguments, DWORD dwTimeoutMs)
{
    if (!CopyFileA(program.c_str(), copyPath.c_str(), FALSE)) return GPC_RUN_NO_COPY;
    const size_t slash = copyPath.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? copyPath : copyPath.substr(slash + 1);
    const std::string key = "Software\\Wine\\AppDefaults\\" + name;
    int nCode = GPC_RUN_NO_VERSION_KEY;
    bool bKeyOk = true;
    if (!version.empty()) {
        bKeyOk = WriteRegString(HKEY_CURRENT_USER, key, "Version", version);
    }
    if (bKeyOk) {
        std::string cmd = "\"" + copyPath + "\"";
        if (!arguments.empty()) cmd += " " + arguments;
        nCode = RunProgram(cmd, dwTimeoutMs);
    }
    DeleteRegTree(HKEY_CURRENT_USER, key);
    DeleteFileA(copyPath.c_str());
    return nCode;
}
