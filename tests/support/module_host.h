// A fake host as the process's host: what the exports do when the host
// loads the library, without going through them.
#pragma once

#include "npvrgpc/module_state.h"
#include "fake_host.h"

// The module state starts fresh and takes the host's table and cookie.
// ResetModuleStateForTesting() undoes it.
inline void InstallFakeHost(FakeHost& host)
{
    ResetModuleStateForTesting();
    g_pHostTable = host.Table();
    g_pGpcCookie = host.Cookie();
}

// The same for the life of an object: installed on construction, the module
// state reset on destruction.
class ScopedFakeHostInstall {
public:
    explicit ScopedFakeHostInstall(FakeHost& host) { InstallFakeHost(host); }
    ~ScopedFakeHostInstall() { ResetModuleStateForTesting(); }
    ScopedFakeHostInstall(const ScopedFakeHostInstall&) = delete;
    ScopedFakeHostInstall& operator=(const ScopedFakeHostInstall&) = delete;
};
