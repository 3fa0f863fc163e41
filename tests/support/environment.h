// Environment overrides for tests.
#pragma once

#include <windows.h>

#include <string>

// Sets an environment variable (null unsets it) for the life of the object,
// then puts the old value, or its absence, back.
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
