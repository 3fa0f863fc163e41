#include "bench_files.h"

#include <cstring>

std::string Join(const std::string& dir, const std::string& name)
{
    return dir + "\\" + name;
}

std::string ExeDir()
{
    char achPath[MAX_PATH] = "";
    DWORD dwLen = GetModuleFileNameA(nullptr, achPath, sizeof(achPath));
    if (dwLen == 0 || dwLen >= sizeof(achPath)) return ".\\";
    std::string path(achPath, dwLen);
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? ".\\" : path.substr(0, slash + 1);
}

bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD dwWritten = 0;
    BOOL bOk = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &dwWritten, nullptr);
    CloseHandle(h);
    return bOk && dwWritten == bytes.size();
}

void RemoveTree(const std::string& dir, bool bKeepDir, const std::set<std::string>& keep)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(Join(dir, "*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == ".." || keep.count(name)) continue;
            std::string path = Join(dir, name);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(hFind, &fd));
        FindClose(hFind);
    }
    if (!bKeepDir) RemoveDirectoryA(dir.c_str());
}

void DeleteRegTree(HKEY hRoot, const std::string& path)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, path.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) return;
    for (;;) {
        char achName[512];
        DWORD dwLen = sizeof(achName);
        if (RegEnumKeyExA(hKey, 0, achName, &dwLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        size_t nBefore = dwLen;
        DeleteRegTree(hKey, achName);
        // A key that cannot go would be met again for ever.
        char achAgain[512];
        DWORD dwAgain = sizeof(achAgain);
        if (RegEnumKeyExA(hKey, 0, achAgain, &dwAgain, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            dwAgain == nBefore && std::strcmp(achAgain, achName) == 0)
            break;
    }
    RegCloseKey(hKey);
    RegDeleteKeyA(hRoot, path.c_str());
}
