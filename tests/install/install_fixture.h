// What the installation tests share: an extension with a fake host as the
// items' owner, a fresh install directory per test, item texts, busy files,
// registry helpers and the records the fixture programs leave behind.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "extension/extension.h"
#include "install/installation_mgr.h"
#include "npvrgpc/module_state.h"
#include "support/fake_host.h"
#include "support/module_host.h"
#include "support/registry.h"
#include "support/trace_capture.h"

class InstallTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Parses one item text into the manager's list and returns the item.
    GpcInstallItem* Add(const std::string& text);
    std::string InstallPath(GpcInstallItem* pItem);
    std::string InstallDir(GpcInstallItem* pItem);
    std::string RedirectPath(GpcInstallItem* pItem);
    // A downloaded file with the given content, beside the install directory.
    std::string Download(const std::string& content, const std::string& name = "download.bin");

    FakeHost host;
    TraceCapture trace;
    std::unique_ptr<CVRGpcExtension> ext;
    CVRGpcInstallationMgr* mgr = nullptr;
    std::string dir;       // DefaultInstallDir, fresh for each test
    std::string workDir;   // downloads and other scratch files
    char savedCurDir[MAX_PATH] = "";
};

// Holds a file open for reading without write sharing, as a running program
// holds its image: the file is busy for every writer.
class BusyFile {
public:
    explicit BusyFile(const std::string& path);
    ~BusyFile();
    BusyFile(const BusyFile&) = delete;
    BusyFile& operator=(const BusyFile&) = delete;
    bool IsOpen() const { return m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

// The entries of HKLM\...\Session Manager\PendingFileRenameOperations, and a
// guard that puts the value back as it was.
std::vector<std::string> PendingRenames();
class PendingRenamesGuard {
public:
    PendingRenamesGuard();
    ~PendingRenamesGuard();

private:
    bool m_bExisted = false;
    std::vector<BYTE> m_Data;
};

// Waits until a file exists (fixture programs run on their own).
bool WaitForFile(const std::string& path, DWORD dwTimeoutMs = 15000);
std::vector<std::string> ReadLines(const std::string& path);
std::string UniqueName(const std::string& stem);
bool CopyFixture(const std::string& name, const std::string& dest);
// The spooler's printer-driver directory of this machine.
std::string PrinterDriverDir();
