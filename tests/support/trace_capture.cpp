#include "trace_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "feedback/trace.h"
#include "npvrgpc/text_seam.h"

DebugOutputCapture* DebugOutputCapture::s_pCurrent = nullptr;

namespace {
int s_nTempSerial = 0;

void RemoveTreeQuietly(const std::string& path)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesA(full.c_str(), fd.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTreeQuietly(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

// The folders MakeTempDir made; removed, not only emptied, when the program
// ends (a file a test still holds then stays, and so does its folder).
struct TempDirs {
    std::vector<std::string> paths;
    ~TempDirs()
    {
        for (auto it = paths.rbegin(); it != paths.rend(); ++it) RemoveTreeQuietly(*it);
    }
};

TempDirs& MadeTempDirs()
{
    static TempDirs s_Dirs;
    return s_Dirs;
}

// Wine makes the short name of a long one from a small hash of it, so two
// folders can share a short name; the short path of one then opens the
// other (a component loaded by its short path comes from a folder of some
// other test). A folder is only kept while no other entry beside it has its
// short name; the "gpct" it begins with is all that may differ from it.
bool ShortNameIsItsOwn(const std::string& parent, const std::string& name)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((parent + name).c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return false;
    FindClose(hFind);
    const std::string shortName = fd.cAlternateFileName;
    if (shortName.empty()) return true;  // the name is a short one itself
    int nSame = 0;
    hFind = FindFirstFileA((parent + name.substr(0, 4) + "*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) return false;
    do {
        const char* lpszShort = fd.cAlternateFileName[0] ? fd.cAlternateFileName : fd.cFileName;
        if (lstrcmpiA(lpszShort, shortName.c_str()) == 0) ++nSame;
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    return nSame == 1;
}
}  // namespace

TraceCapture::TraceCapture()
{
    static bool s_bRegistered = false;
    if (!s_bRegistered) {
        WNDCLASSA wc;
        std::memset(&wc, 0, sizeof(wc));
        wc.lpfnWndProc = &TraceCapture::WndProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = GPC_TRACER_CLASS;
        wc.cbWndExtra = sizeof(LONG_PTR);
        RegisterClassA(&wc);
        s_bRegistered = true;
    }
    // A top-level (hidden) window: the extension finds tracers by class.
    m_hWnd = CreateWindowA(GPC_TRACER_CLASS, "tracer", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
    if (m_hWnd) SetWindowLongPtrA(m_hWnd, 0, reinterpret_cast<LONG_PTR>(this));
}

TraceCapture::~TraceCapture()
{
    if (m_hWnd) DestroyWindow(m_hWnd);
}

LRESULT CALLBACK TraceCapture::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_COPYDATA) {
        TraceCapture* pSelf = reinterpret_cast<TraceCapture*>(GetWindowLongPtrA(hWnd, 0));
        const COPYDATASTRUCT* pCds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (pSelf && pCds && pCds->lpData && pCds->cbData > 0) {
            const char* p = static_cast<const char*>(pCds->lpData);
            pSelf->m_Lines.emplace_back(p, strnlen(p, pCds->cbData));
            pSelf->m_Codes.push_back(pCds->dwData);
            if (pSelf->m_OnLine) pSelf->m_OnLine(pSelf->m_Lines.back());
        }
        return TRUE;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

std::vector<std::string> TraceCapture::Texts() const
{
    std::vector<std::string> texts;
    for (const auto& line : m_Lines) {
        size_t pos = line.find(')');
        texts.push_back(pos == std::string::npos ? line : line.substr(pos + 1));
    }
    return texts;
}

bool TraceCapture::Contains(const std::string& text) const
{
    return IndexOf(text) >= 0;
}

bool TraceCapture::HasLine(const std::string& text) const
{
    for (const auto& t : Texts()) {
        if (t == text) return true;
    }
    return false;
}

int TraceCapture::IndexOf(const std::string& text, int from) const
{
    std::vector<std::string> texts = Texts();
    for (int i = from < 0 ? 0 : from; i < static_cast<int>(texts.size()); ++i) {
        if (texts[i].find(text) != std::string::npos) return i;
    }
    return -1;
}

std::string TraceCapture::Dump() const
{
    std::ostringstream os;
    for (const auto& t : Texts()) os << "  | " << t << "\n";
    return os.str();
}

bool WaitForDebugListener(bool bListening)
{
    DWORD dwStart = GetTickCount();
    while ((GpcDebugListenerPresent() != 0) != bListening) {
        if (GetTickCount() - dwStart > 2000) return false;
        Sleep(5);
    }
    return true;
}

DebugOutputCapture::DebugOutputCapture(Listener listener)
{
    if (listener == WITH_MONITOR) {
        m_pMonitor.reset(new CGpcDebugMonitor());
        EXPECT_TRUE(m_pMonitor->IsRunning()) << "another debug-output monitor runs";
    }
    EXPECT_TRUE(WaitForDebugListener(listener == WITH_MONITOR));
    s_pCurrent = this;
    m_pHandler = AddVectoredExceptionHandler(1, &DebugOutputCapture::Handler);
}

DebugOutputCapture::~DebugOutputCapture()
{
    if (m_pHandler) RemoveVectoredExceptionHandler(m_pHandler);
    if (s_pCurrent == this) s_pCurrent = nullptr;
}

LONG CALLBACK DebugOutputCapture::Handler(PEXCEPTION_POINTERS p)
{
    // OutputDebugStringA raises DBG_PRINTEXCEPTION_C with (length incl. NUL, text).
    if (p && p->ExceptionRecord && p->ExceptionRecord->ExceptionCode == 0x40010006 &&
        p->ExceptionRecord->NumberParameters >= 2 && s_pCurrent) {
        ULONG_PTR n = p->ExceptionRecord->ExceptionInformation[0];
        const char* text = reinterpret_cast<const char*>(p->ExceptionRecord->ExceptionInformation[1]);
        if (text) s_pCurrent->m_Lines.emplace_back(text, n > 0 ? strnlen(text, n) : 0);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

bool DebugOutputCapture::Contains(const std::string& text) const
{
    for (const auto& l : m_Lines) {
        if (l.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string TestBinDir()
{
    char achPath[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, achPath, MAX_PATH);
    std::string s(achPath, n);
    size_t pos = s.find_last_of('\\');
    return pos == std::string::npos ? std::string() : s.substr(0, pos + 1);
}

std::string MakeTempDir(const std::string& tag)
{
    char achTemp[MAX_PATH];
    GetTempPathA(MAX_PATH, achTemp);
    std::string base;
    for (int nTry = 0; nTry < 100; ++nTry) {
        std::string name = "gpctest_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetTickCount()) +
                           "_" + std::to_string(++s_nTempSerial) + "_" + tag;
        base = achTemp + name;
        if (!CreateDirectoryA(base.c_str(), nullptr)) continue;
        if (ShortNameIsItsOwn(achTemp, name)) break;
        RemoveDirectoryA(base.c_str());
    }
    MadeTempDirs().paths.push_back(base);
    return base;
}

std::string ProcessTag()
{
    char achSlot[16] = "";
    DWORD n = GetEnvironmentVariableA("GPC_TEST_SLOT", achSlot, sizeof(achSlot));
    std::string tag = std::to_string(GetCurrentProcessId());
    if (n > 0 && n < sizeof(achSlot) && std::strcmp(achSlot, "0") != 0) tag = "s" + std::string(achSlot) + "_" + tag;
    return tag;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream os;
    os << f.rdbuf();
    return os.str();
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ShortPath(const std::string& path)
{
    char achShort[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(path.c_str(), achShort, sizeof(achShort));
    return n && n < sizeof(achShort) ? std::string(achShort) : std::string();
}
