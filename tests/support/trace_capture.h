// Catches what the extension writes: trace lines through a "GPCTracer"
// window in this thread (WM_COPYDATA), and raw debugger output (assertion
// reports) through a vectored exception handler.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lib/debug_monitor.h"

class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Whole trace lines, prefix included: "(module:pid:tid)text".
    const std::vector<std::string>& Lines() const { return m_Lines; }
    // The text part of each line (after the ")" of the prefix).
    std::vector<std::string> Texts() const;
    // The dwData of each WM_COPYDATA record (1000 or 999).
    const std::vector<ULONG_PTR>& Codes() const { return m_Codes; }
    bool Contains(const std::string& text) const;        // some text part contains it
    bool HasLine(const std::string& text) const;         // some text part equals it
    int IndexOf(const std::string& text, int from = 0) const;  // first text part containing it
    void Clear() { m_Lines.clear(); m_Codes.clear(); }
    // Called with each whole line as it arrives, inside the extension's
    // trace call: a test can act at the exact moment a line is written.
    void SetOnLine(std::function<void(const std::string&)> onLine) { m_OnLine = std::move(onLine); }
    HWND Window() const { return m_hWnd; }
    std::string Dump() const;

private:
    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
    HWND m_hWnd = nullptr;
    std::vector<std::string> m_Lines;
    std::vector<ULONG_PTR> m_Codes;
    std::function<void(const std::string&)> m_OnLine;
};

// Every OutputDebugStringA of this process while it lives, caught in the
// writing thread as it is raised. The library writes the debugger output
// only while someone listens: with a listener (the default) a debug-output
// monitor runs meanwhile, and the capture waits until the library (the copy
// linked into the test program) has seen it; without, nothing is started and
// the capture waits until the library has seen that nobody listens.
class DebugOutputCapture {
public:
    enum Listener { WITH_MONITOR, WITHOUT_LISTENER };
    explicit DebugOutputCapture(Listener listener = WITH_MONITOR);
    ~DebugOutputCapture();
    DebugOutputCapture(const DebugOutputCapture&) = delete;
    DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;
    const std::vector<std::string>& Lines() const { return m_Lines; }
    bool Contains(const std::string& text) const;
    // The monitor (null without a listener): what reached it, in order.
    const CGpcDebugMonitor* Monitor() const { return m_pMonitor.get(); }

private:
    static LONG CALLBACK Handler(PEXCEPTION_POINTERS p);
    std::unique_ptr<CGpcDebugMonitor> m_pMonitor;
    void* m_pHandler = nullptr;
    std::vector<std::string> m_Lines;
    static DebugOutputCapture* s_pCurrent;
};

// Waits until the library's answer to "does anybody listen" is bListening
// (it looks again at most every 100 ms); false when it was not within 2 s.
bool WaitForDebugListener(bool bListening);

// Test helpers for files and paths.
std::string TestBinDir();                          // folder of the test program, with trailing "\"
// A fresh, empty folder under %TEMP%, no trailing "\"; removed with all it
// holds when the test program ends.
std::string MakeTempDir(const std::string& tag);
// A name part no other test program running at the same time has: the
// process id, and the test slot (Wine prefix) when there are several.
// Process ids are only unique within one prefix, and the build tree (beside
// the test program) is shared by every slot.
std::string ProcessTag();
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool PathExists(const std::string& path);
std::string ShortPath(const std::string& path);  // the short form of an existing path; "" when there is none
