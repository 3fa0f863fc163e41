#include "support_lib_util.h"

#include <vector>

namespace {
int s_nKeySerial = 0;
}  // namespace

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
    DeleteRegTree(HKEY_CURRENT_USER, m_strSubKey);
}

ScopedTestKey::~ScopedTestKey()
{
    DeleteRegTree(HKEY_CURRENT_USER, m_strSubKey);
}

bool ReportedAssert(const DebugOutputCapture& capture, const std::string& expression)
{
    return capture.Contains("ASSERT " + expression + " failed at file ..\\npvrgpc\\npbase, line ");
}

bool IsCodePage932()
{
    return GetACP() == 932;
}
