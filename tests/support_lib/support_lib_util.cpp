#include "support_lib_util.h"

#include <vector>

namespace {
int s_nKeySerial = 0;
}  // namespace

void DeleteKeyTree(HKEY hParent, const std::string& subKey)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hParent, subKey.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) return;
    for (;;) {
        char achName[256];
        DWORD cch = sizeof(achName);
        if (RegEnumKeyExA(hKey, 0, achName, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteKeyTree(hKey, achName);
    }
    RegCloseKey(hKey);
    RegDeleteKeyA(hParent, subKey.c_str());
}

ScopedTempFolder::ScopedTempFolder(const std::string& tag) : m_strPath(MakeTempDir(tag)) {}

ScopedTempFolder::~ScopedTempFolder()
{
    RemoveTree(m_strPath);
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(hFind, &fd));
        FindClose(hFind);
    }
    RemoveDirectoryA(path.c_str());
}

ScopedTestKey::ScopedTestKey(const std::string& tag)
    : m_strSubKey("Software\\GpcTest\\support_" + std::to_string(GetCurrentProcessId()) + "_" +
                  std::to_string(GetTickCount()) + "_" + std::to_string(++s_nKeySerial) + "_" + tag)
{
    DeleteKeyTree(HKEY_CURRENT_USER, m_strSubKey);
}

ScopedTestKey::~ScopedTestKey()
{
    DeleteKeyTree(HKEY_CURRENT_USER, m_strSubKey);
}

bool ReportedAssert(const DebugOutputCapture& capture, const std::string& expression)
{
    return capture.Contains("ASSERT " + expression + " failed at file ..\\npvrgpc\\npbase, line ");
}

int RunProgram(const std::string& commandLine)
{
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD dwCode = static_cast<DWORD>(-1);
    GetExitCodeProcess(pi.hProcess, &dwCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(dwCode);
}

bool IsCodePage932()
{
    return GetACP() == 932;
}
