// Helpers shared by the installation-manager item tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "install/installation_mgr.h"
#include "npvrgpc/module_state.h"
#include "support/fake_host.h"
#include "support/fake_install_owner.h"

// A manager owned by a stand-in owner over a fake host, for the operations
// that look at their owner (the OS filter, "%uninstall%").
class OwnedManager {
public:
    OwnedManager() : m_Owner(m_Host.Cookie()), m_Manager(&m_Owner)
    {
        ResetModuleStateForTesting();
        g_pHostTable = m_Host.Table();
        g_pGpcCookie = m_Host.Cookie();
    }
    ~OwnedManager() { ResetModuleStateForTesting(); }
    FakeInstallOwner& Owner() { return m_Owner; }
    CVRGpcInstallationMgr& Manager() { return m_Manager; }

private:
    FakeHost m_Host;
    FakeInstallOwner m_Owner;
    CVRGpcInstallationMgr m_Manager;
};

// Parses one item text through a writable copy, as the manifest reader does.
inline int ParseText(CVRGpcInstallationMgr& mgr, const std::string& text)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return mgr.ParseItem(buffer.data());
}

// Absent fields read as null here, so expectations can say which is which.
inline const char* Field(const CGpcString& s)
{
    return s.GetText();
}

// Sets an environment variable for the life of the object, then puts the
// old value (or its absence) back.
class ScopedEnv {
public:
    ScopedEnv(const char* lpszName, const char* lpszValue) : m_strName(lpszName)
    {
        char achOld[32768];
        DWORD n = GetEnvironmentVariableA(lpszName, achOld, sizeof(achOld));
        m_bHadValue = n > 0 && n < sizeof(achOld);
        if (m_bHadValue) m_strOld = achOld;
        SetEnvironmentVariableA(lpszName, lpszValue);
    }
    ~ScopedEnv() { SetEnvironmentVariableA(m_strName.c_str(), m_bHadValue ? m_strOld.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_strName;
    std::string m_strOld;
    bool m_bHadValue = false;
};

// Runs a program and returns its exit code (or -1 when it could not start).
inline int RunProgram(const std::string& commandLine, DWORD dwTimeoutMs = 120000)
{
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    DWORD dwCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, dwTimeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &dwCode);
    else
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(dwCode);
}
