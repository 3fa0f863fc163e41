// Makes the library take this process for a 32-bit one on 64-bit Windows
// (or not) for one scope; the system's answer comes back at its end.
#pragma once

#include "npvrgpc/npbase.h"

class ScopedWow64 {
public:
    explicit ScopedWow64(bool bWow64) : m_nBefore(SetWow64ForTesting(bWow64 ? 1 : 0)) {}
    ~ScopedWow64() { SetWow64ForTesting(m_nBefore); }
    ScopedWow64(const ScopedWow64&) = delete;
    ScopedWow64& operator=(const ScopedWow64&) = delete;

private:
    int m_nBefore;
};
