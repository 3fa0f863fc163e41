// A system-wide debug-output monitor, as a log viewer runs one, made of the
// documented objects: the "DBWIN_BUFFER" mapping (4 KB: the writer's process
// id, then its text), "DBWIN_BUFFER_READY" (the monitor may take the next
// text) and "DBWIN_DATA_READY" (a text is waiting). A thread of its own
// reads each text. While it runs, OutputDebugString in every process of the
// session reaches it; only one monitor can run at a time.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CGpcDebugMonitor {
public:
    // bKeepTexts: keep the texts of this process (otherwise only count them).
    explicit CGpcDebugMonitor(bool bKeepTexts = true);
    ~CGpcDebugMonitor();
    CGpcDebugMonitor(const CGpcDebugMonitor&) = delete;
    CGpcDebugMonitor& operator=(const CGpcDebugMonitor&) = delete;

    // False when another monitor runs already or an object could not be made.
    bool IsRunning() const { return m_hThread != nullptr; }
    // The texts this process wrote since the monitor started, in order.
    std::vector<std::string> Texts() const;
    // How many texts this process wrote since the monitor started.
    size_t Count() const;
    // Waits until at least n texts of this process have arrived.
    bool WaitForCount(size_t n, DWORD dwTimeoutMs) const;

private:
    static DWORD WINAPI Run(void* pParam);
    void Close();

    bool m_bKeepTexts;
    HANDLE m_hMapping = nullptr;
    void* m_pView = nullptr;
    HANDLE m_hBufferReady = nullptr;
    HANDLE m_hDataReady = nullptr;
    HANDLE m_hStop = nullptr;
    HANDLE m_hThread = nullptr;
    mutable CRITICAL_SECTION m_cs;
    std::vector<std::string> m_Texts;
    size_t m_nCount = 0;
};
