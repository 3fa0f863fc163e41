// Shared set-up of the extension suite: a fake host with the page of an
// ordinary start-up, a trace capture, a private folder and private registry
// key names per test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "extension/extension.h"
#include "npvrgpc/module_state.h"
#include "support/environment.h"
#include "support/fake_host.h"
#include "support/registry.h"
#include "support/trace_capture.h"
#include "vrgpcext/exports.h"

// One notice of an on-demand request, as the caller's callback saw it.
struct OdeNotice {
    void* context;
    int kind;
    std::string file;     // "<null>" when absent
    std::string section;  // "<null>" when absent
    int result;
    bool hasInfo;
    GpcOdeFileInfo info;  // strings are not valid after the callback
    std::string unpackedFile;
    bool unpackedExisted = false;
    std::string unpackedBytes;
};

// Collects the notices; the context of each request points at its own list.
std::vector<OdeNotice>& OdeNotices();
void WINAPI RecordOdeNotice(void* pContext, int nKind, const char* lpszFileName, const char* lpszSectionName,
                            int nResult, GpcOdeFileInfo* pInfo);

class ExtensionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The page of an ordinary start-up: url root, component, a manifest
    // name of its own, product root and version of its own, both version
    // parameters (so the plug-in host takes the manifest path).
    void SetOrdinaryPage();
    // Failure reports go to a closed local port, so that each one leaves
    // its request, with its ErrorCode, in the trace.
    void EnableReports();
    std::vector<int> ReportedCodes() const;

    int Init();
    CVRGpcExtension* Ext();
    void Beat(int nTimes = 1);
    void Exit();

    // A file in this test's folder.
    std::string WriteWorkFile(const std::string& name, const std::string& bytes);
    // Completes download i with a file of that content.
    void CompleteWith(size_t i, const std::string& bytes);
    // The manifest download of an ordinary start-up, completed with text.
    void DeliverManifest(const std::string& text);
    std::string ProductDir() const;  // host dir \ product root \ 1.0

    // HKCU or HKLM "Software\<product root>\1.0" with a string value.
    void SetUpdateSetting(HKEY hRoot, const std::string& name, const std::string& value);

    static std::string UserDirMarkName();

    std::unique_ptr<FakeHost> m_pHost;
    std::unique_ptr<TraceCapture> m_pTrace;
    std::string m_strWork;
    std::string m_strProductRoot;  // unique per test: registry and folders
    std::string m_strIniName;      // unique per test: the copy beside the program
    std::vector<std::unique_ptr<ScopedEnv>> m_Env;  // undone last to first in TearDown
    void SetEnv(const char* lpszName, const char* lpszValue);  // null unsets; restored in TearDown
};
