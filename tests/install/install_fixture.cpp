#include "install_fixture.h"

#include <winspool.h>

#include <fstream>
#include <sstream>

namespace {

const char GPC_SESSION_MANAGER[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char GPC_PENDING_RENAMES[] = "PendingFileRenameOperations";

int s_nSerial = 0;

}  // namespace

void InstallTest::SetUp()
{
    GetCurrentDirectoryA(sizeof(savedCurDir), savedCurDir);
    InstallFakeHost(host);
    ext.reset(new CVRGpcExtension(host.Cookie()));
    mgr = &ext->m_InstallationMgr;
    // Short folder names: the classic file API (and the host's LZ expansion)
    // takes paths of at most 127 characters.
    std::string tag = "i" + std::to_string(++s_nSerial);
    dir = MakeTempDir(tag);
    workDir = MakeTempDir(tag + "w");
    mgr->DefaultInstallDir.Assign(dir.c_str());
    mgr->UrlRoot.Assign("http://127.0.0.1/files");
}

void InstallTest::TearDown()
{
    ext.reset();
    ResetModuleStateForTesting();
    SetCurrentDirectoryA(savedCurDir);
}

GpcInstallItem* InstallTest::Add(const std::string& text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    int nBefore = mgr->GetItemCount();
    EXPECT_EQ(1, mgr->ParseItem(buffer.data()));
    EXPECT_EQ(nBefore + 1, mgr->GetItemCount());
    return mgr->GetItem(mgr->GetItemCount() - 1);
}

std::string InstallTest::InstallPath(GpcInstallItem* pItem)
{
    char achPath[GPC_MAX_PATH];
    mgr->GetInstallPath(pItem, achPath);
    return achPath;
}

std::string InstallTest::InstallDir(GpcInstallItem* pItem)
{
    char achPath[GPC_MAX_PATH];
    mgr->GetInstallDir(pItem, achPath);
    return achPath;
}

std::string InstallTest::RedirectPath(GpcInstallItem* pItem)
{
    char achPath[GPC_MAX_PATH];
    mgr->GetRedirectPath(pItem, achPath);
    return achPath;
}

std::string InstallTest::Download(const std::string& content, const std::string& name)
{
    std::string path = workDir + "\\" + name;
    WriteFileBytes(path, content);
    return path;
}

BusyFile::BusyFile(const std::string& path)
    : m_h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr))
{
}

BusyFile::~BusyFile()
{
    if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
}

std::vector<std::string> PendingRenames()
{
    std::vector<std::string> entries;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, GPC_SESSION_MANAGER, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return entries;
    DWORD dwType = 0, cb = 0;
    if (RegQueryValueExA(hKey, GPC_PENDING_RENAMES, nullptr, &dwType, nullptr, &cb) == ERROR_SUCCESS && cb) {
        std::vector<char> data(cb + 2, '\0');
        if (RegQueryValueExA(hKey, GPC_PENDING_RENAMES, nullptr, &dwType, reinterpret_cast<BYTE*>(data.data()), &cb) ==
            ERROR_SUCCESS) {
            // Pairs of texts; an empty second text is a deletion.
            size_t i = 0;
            while (i < cb) {
                std::string s(data.data() + i);
                entries.push_back(s);
                i += s.size() + 1;
            }
            while (!entries.empty() && entries.back().empty() && entries.size() % 2) entries.pop_back();
        }
    }
    RegCloseKey(hKey);
    return entries;
}

PendingRenamesGuard::PendingRenamesGuard()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, GPC_SESSION_MANAGER, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return;
    DWORD dwType = 0, cb = 0;
    if (RegQueryValueExA(hKey, GPC_PENDING_RENAMES, nullptr, &dwType, nullptr, &cb) == ERROR_SUCCESS) {
        m_Data.resize(cb);
        m_bExisted = RegQueryValueExA(hKey, GPC_PENDING_RENAMES, nullptr, &dwType, m_Data.data(), &cb) == ERROR_SUCCESS;
    }
    RegCloseKey(hKey);
}

PendingRenamesGuard::~PendingRenamesGuard()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, GPC_SESSION_MANAGER, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) return;
    // The renames are carried out only by a restart of the prefix; the
    // tests put the list back so that no test file is moved later.
    if (m_bExisted)
        RegSetValueExA(hKey, GPC_PENDING_RENAMES, 0, REG_MULTI_SZ, m_Data.data(), static_cast<DWORD>(m_Data.size()));
    else
        RegDeleteValueA(hKey, GPC_PENDING_RENAMES);
    RegCloseKey(hKey);
}

bool WaitForFile(const std::string& path, DWORD dwTimeoutMs)
{
    DWORD dwStart = GetTickCount();
    while (!PathExists(path)) {
        if (GetTickCount() - dwStart > dwTimeoutMs) return false;
        Sleep(50);
    }
    return true;
}

std::vector<std::string> ReadLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string UniqueName(const std::string& stem)
{
    return stem + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++s_nSerial);
}

bool CopyFixture(const std::string& name, const std::string& dest)
{
    return CopyFileA((TestBinDir() + name).c_str(), dest.c_str(), FALSE) != 0;
}

std::string PrinterDriverDir()
{
    char achDir[MAX_PATH] = "";
    DWORD cb = 0;
    GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(achDir), sizeof(achDir), &cb);
    return achDir;
}
