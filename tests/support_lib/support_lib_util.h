// Helpers shared by the support library tests.
#pragma once

#include <windows.h>

#include <string>

#include "support/process.h"
#include "support/registry.h"
#include "support/trace_capture.h"

// A fresh folder under %TEMP% for one test, removed with all it holds when
// the test ends.
class ScopedTempFolder {
public:
    explicit ScopedTempFolder(const std::string& tag);
    ~ScopedTempFolder();
    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string operator/(const std::string& name) const { return m_strPath + "\\" + name; }

private:
    std::string m_strPath;
};

void RemoveTree(const std::string& path);

// A registry key of its own for one test, under HKCU\Software\GpcTest,
// deleted with its subkeys when the test ends.
class ScopedTestKey {
public:
    explicit ScopedTestKey(const std::string& tag);
    ~ScopedTestKey();
    ScopedTestKey(const ScopedTestKey&) = delete;
    ScopedTestKey& operator=(const ScopedTestKey&) = delete;
    const std::string& SubKey() const { return m_strSubKey; }  // relative to HKCU

private:
    std::string m_strSubKey;
};

// Whether a support routine reported "ASSERT <expr> failed" for this source.
bool ReportedAssert(const DebugOutputCapture& capture, const std::string& expression);

// The ANSI code page runs the double-byte cases only under code page 932.
bool IsCodePage932();
