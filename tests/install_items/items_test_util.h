// Helpers shared by the installation-manager item tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "install/installation_mgr.h"
#include "npvrgpc/module_state.h"
#include "support/environment.h"
#include "support/fake_host.h"
#include "support/fake_install_owner.h"
#include "support/module_host.h"
#include "support/process.h"

// A manager owned by a stand-in owner over a fake host, for the operations
// that look at their owner (the OS filter, "%uninstall%").
class OwnedManager {
public:
    OwnedManager() : m_Owner(m_Host.Cookie()), m_Manager(&m_Owner)
    {
        InstallFakeHost(m_Host);
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
