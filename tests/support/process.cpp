#include "process.h"

#include <vector>

#include "registry.h"

std::string WineAppDefaultsKey(const std::string& program)
{
    const size_t slash = program.find_last_of("\\/");
    return "Software\\Wine\\AppDefaults\\" + (slash == std::string::npos ? program : program.substr(slash + 1));
}

std::string OwnProgramPath()
{
    char achPath[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(nullptr, achPath, sizeof(achPath));
    return n && n < sizeof(achPath) ? std::string(achPath, n) : std::string();
}

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
    const std::string key = WineAppDefaultsKey(copyPath);
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
