// Shared set-up of the component tests: a fake host with a failure-report
// address (so every message leaves an "ErrorCode=" trace line), OLE on the
// test thread, the sample control registered, and readers for the logs that
// the sample component and the sample control write.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <ole2.h>
#include <tlhelp32.h>

#include <sstream>
#include <string>
#include <vector>

#include "extension/extension.h"
#include "fake_host.h"
#include "feedback/messages.h"
#include "npvrgpc/module_state.h"
#include "trace_capture.h"
#include "vrgpcext/exports.h"

namespace component_test {

const char GPC_CONTROL_PROG_ID[] = "GpcSample.Control";
const char GPC_NO_DISPATCH_PROG_ID[] = "GpcSample.NoDispatch";
const char GPC_CONTROL_CLSID[] = "{6B1E2C40-5A0D-4C55-9E61-3A7F0C2D9B11}";
const char GPC_NO_DISPATCH_CLSID[] = "{6B1E2C41-5A0D-4C55-9E61-3A7F0C2D9B11}";

inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

inline std::string Decimal(const void* p)
{
    return std::to_string(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(p)));
}

inline std::string Hex8(const void* p)
{
    char ach[16];
    wsprintfA(ach, "%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(p)));
    return ach;
}

inline std::string CurrentDirectory()
{
    char ach[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, ach);
    return ach;
}

// Registers the sample control's two classes in the test prefix, once per
// program, the way regsvr32 would: through its own DllRegisterServer.
inline HRESULT RegisterSampleControl()
{
    static HRESULT s_hr = E_PENDING;
    if (s_hr != E_PENDING) return s_hr;
    HMODULE h = LoadLibraryA((TestBinDir() + "sample_control.dll").c_str());
    if (!h) return s_hr = HRESULT_FROM_WIN32(GetLastError());
    typedef HRESULT(STDAPICALLTYPE * PFN)();
    PFN pfn = reinterpret_cast<PFN>(GetProcAddress(h, "DllRegisterServer"));
    s_hr = pfn ? pfn() : E_NOTIMPL;
    FreeLibrary(h);
    return s_hr;
}

class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetModuleStateForTesting();
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        m_bOle = true;
        ASSERT_EQ(S_OK, RegisterSampleControl());
        m_strSavedDir = CurrentDirectory();
        host.SetParam("LoggingURL", "http://127.0.0.1:1/log");
        host.SetParam("MeetingID", "M1");
        host.SetParam("SessionID", "S1");
        m_strControlLog = host.directory + "\\control.log";
        SetEnvironmentVariableA("GPC_SAMPLE_CONTROL_LOG", m_strControlLog.c_str());
    }

    void TearDown() override
    {
        if (Instance()) GpcExitInstance(host.Cookie());
        SetEnvironmentVariableA("GPC_SAMPLE_CONTROL_LOG", nullptr);
        SetCurrentDirectoryA(m_strSavedDir.c_str());
        if (m_bOle) OleUninitialize();
    }

    // Creates the extension through the export, as the host does.
    CVRGpcExtension* Start()
    {
        EXPECT_EQ(0, GpcInitInstance(host.Cookie(), host.Table()));
        return Instance();
    }

    // An extension that only waits for on-demand requests: its heartbeat
    // does nothing, so tests drive the component operations directly.
    CVRGpcExtension* StartIdle()
    {
        host.SetParam("GpcStdDownload", "1");
        host.SetParam("GpcUrlRoot", "http://127.0.0.1:1/root/");
        CVRGpcExtension* p = Start();
        if (!p) return nullptr;
        p->m_InstallationMgr.DefaultInstallDir.Assign(host.directory.c_str());
        // What start-up itself reported is not the subject of these tests.
        p->m_bFailed = 0;
        trace.Clear();
        return p;
    }

    CVRGpcExtension* Instance()
    {
        auto it = host.instances.find(host.Cookie());
        return it == host.instances.end() ? nullptr : static_cast<CVRGpcExtension*>(it->second);
    }

    // Adds a finished manifest item for a file in the host directory.
    static void AddItem(CVRGpcExtension* p, const char* lpszName)
    {
        GpcInstallItem* pItem = new GpcInstallItem(p);
        pItem->SourceName.Assign(lpszName);
        pItem->State = ITEM_DONE;
        p->m_InstallationMgr.AddItem(pItem);
    }

    // Copies a sample library into the host directory under a name.
    void InstallSample(const char* lpszFixture, const char* lpszName)
    {
        ASSERT_TRUE(CopyFileA((TestBinDir() + lpszFixture).c_str(), (host.directory + "\\" + lpszName).c_str(),
                              FALSE));
    }

    // What the sample library wrote (it names its log after itself).
    std::vector<std::string> ComponentLog(const char* lpszBase = "sample_component")
    {
        std::string path = host.directory + "\\" + lpszBase + ".log";
        return PathExists(path) ? SplitLines(ReadFileBytes(path)) : std::vector<std::string>();
    }

    std::vector<std::string> ControlLog()
    {
        return PathExists(m_strControlLog) ? SplitLines(ReadFileBytes(m_strControlLog)) : std::vector<std::string>();
    }

    // The messages shown so far, as "<id>" or "<id>|<detail>" from the
    // failure reports that every message sends.
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> ids;
        for (const std::string& t : trace.Texts()) {
            if (t.find("Save the error message log to [") == std::string::npos) continue;
            size_t b = t.find("&ErrorCode=");
            size_t e = t.rfind("] is [");
            if (b == std::string::npos || e == std::string::npos || e < b) continue;
            std::string code = t.substr(b + 11, e - b - 11);
            size_t o = code.find("&OptInfo1=");
            if (o != std::string::npos) code = code.substr(0, o) + "|" + code.substr(o + 10);
            // The detail travels escaped; the message shown had it plain.
            std::string plain;
            for (size_t i = 0; i < code.size(); ++i) {
                if (code[i] == '%' && i + 2 < code.size()) {
                    plain += static_cast<char>(std::stoi(code.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    plain += code[i];
                }
            }
            ids.push_back(plain);
        }
        return ids;
    }

    // The text of the latest message, through the message window that the
    // extension fills when it has one.
    std::string LastMessageText(CVRGpcExtension* p)
    {
        if (!p->m_hMessageWnd) return "";
        char ach[1024] = {};
        GetDlgItemTextA(p->m_hMessageWnd, IDC_GPC_MESSAGE_TEXT, ach, sizeof(ach));
        return ach;
    }
    void OpenMessageWindow(CVRGpcExtension* p)
    {
        p->m_hMessageWnd = CreateMessageWindow(p);
        ASSERT_NE(nullptr, p->m_hMessageWnd);
    }

    FakeHost host;
    TraceCapture trace;
    std::string m_strControlLog;

private:
    std::string m_strSavedDir;
    bool m_bOle = false;
};

}  // namespace component_test
