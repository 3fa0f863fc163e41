#include "extension_fixture.h"

#include <cstdlib>
#include <cstring>

namespace {
int s_nSerial = 0;
std::vector<OdeNotice> s_Notices;
}  // namespace

std::vector<OdeNotice>& OdeNotices()
{
    return s_Notices;
}

void WINAPI RecordOdeNotice(void* pContext, int nKind, const char* lpszFileName, const char* lpszSectionName,
                            int nResult, GpcOdeFileInfo* pInfo)
{
    OdeNotice n;
    n.context = pContext;
    n.kind = nKind;
    n.file = lpszFileName ? lpszFileName : "<null>";
    n.section = lpszSectionName ? lpszSectionName : "<null>";
    n.result = nResult;
    n.hasInfo = pInfo != nullptr;
    std::memset(&n.info, 0, sizeof(n.info));
    if (pInfo) {
        n.info = *pInfo;
        if (pInfo->lpszUnpackedFile) {
            n.unpackedFile = pInfo->lpszUnpackedFile;
            n.unpackedExisted = PathExists(n.unpackedFile);
            if (n.unpackedExisted) n.unpackedBytes = ReadFileBytes(n.unpackedFile);
        }
    }
    s_Notices.push_back(n);
}

std::string ExtensionTest::UserDirMarkName()
{
    return "UH" + std::to_string(GetCurrentProcessId());
}

void ExtensionTest::SetUp()
{
    ResetModuleStateForTesting();
    // The user-directory mark outlives instances on purpose; tests start
    // without it unless they set it themselves.
    RemovePropA(GetDesktopWindow(), UserDirMarkName().c_str());
    s_Notices.clear();
    m_pHost.reset(new FakeHost());
    m_pTrace.reset(new TraceCapture());
    ++s_nSerial;
    m_strWork = MakeTempDir("ext" + std::to_string(s_nSerial));
    m_strProductRoot = "GpcExtTest" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(s_nSerial);
    // Beside the test program, in the build tree every test slot shares.
    m_strIniName = "gpcext" + ProcessTag() + "_" + std::to_string(s_nSerial) + ".ini";
}

void ExtensionTest::TearDown()
{
    Exit();
    m_pTrace.reset();
    m_pHost.reset();
    RemovePropA(GetDesktopWindow(), UserDirMarkName().c_str());
    DeleteFileA((TestBinDir() + m_strIniName).c_str());
    DeleteRegTree(HKEY_CURRENT_USER, "Software\\" + m_strProductRoot);
    DeleteRegTree(HKEY_LOCAL_MACHINE, "Software\\" + m_strProductRoot);
    while (!m_Env.empty()) m_Env.pop_back();
    ResetModuleStateForTesting();
}

void ExtensionTest::SetEnv(const char* lpszName, const char* lpszValue)
{
    m_Env.emplace_back(new ScopedEnv(lpszName, lpszValue));
}

void ExtensionTest::SetOrdinaryPage()
{
    m_pHost->SetParam("GpcUrlRoot", "http://127.0.0.1/files");
    m_pHost->SetParam("GpcComponentName", "main.dll");
    m_pHost->SetParam("GpcIniFileName", m_strIniName);
    m_pHost->SetParam("GpcProductRoot", m_strProductRoot);
    m_pHost->SetParam("GpcProductVersion", "1.0");
    m_pHost->SetParam("GpcUnpackVersion", "3");
    m_pHost->SetParam("GpcExtVersion", "3");
    m_pHost->SetParam("GpcDownloadOnly", "TRUE");
    m_pHost->SetParam("GpcSuppressProgressBar", "True");
}

void ExtensionTest::EnableReports()
{
    m_pHost->SetParam("LoggingURL", "http://127.0.0.1:9/log");
    m_pHost->SetParam("MeetingID", "m1");
    m_pHost->SetParam("SessionID", "s1");
}

std::vector<int> ExtensionTest::ReportedCodes() const
{
    std::vector<int> codes;
    for (const std::string& line : m_pTrace->Texts()) {
        if (line.find("Save the error message log to [") == std::string::npos) continue;
        size_t pos = line.find("ErrorCode=");
        if (pos == std::string::npos) continue;
        codes.push_back(std::atoi(line.c_str() + pos + 10));
    }
    return codes;
}

int ExtensionTest::Init()
{
    return GpcInitInstance(m_pHost->Cookie(), m_pHost->Table());
}

CVRGpcExtension* ExtensionTest::Ext()
{
    if (!m_pHost) return nullptr;
    auto it = m_pHost->instances.find(m_pHost->Cookie());
    return it == m_pHost->instances.end() ? nullptr : static_cast<CVRGpcExtension*>(it->second);
}

void ExtensionTest::Beat(int nTimes)
{
    for (int i = 0; i < nTimes; ++i) GpcHeartbeat(m_pHost->Cookie());
}

void ExtensionTest::Exit()
{
    if (m_pHost && Ext()) {
        GpcExitInstance(m_pHost->Cookie());
        m_pHost->instances.erase(m_pHost->Cookie());
    }
}

std::string ExtensionTest::WriteWorkFile(const std::string& name, const std::string& bytes)
{
    std::string path = m_strWork + "\\" + name;
    WriteFileBytes(path, bytes);
    return path;
}

void ExtensionTest::CompleteWith(size_t i, const std::string& bytes)
{
    std::string path = WriteWorkFile("download" + std::to_string(i) + ".bin", bytes);
    m_pHost->Complete(i, path.c_str());
}

void ExtensionTest::DeliverManifest(const std::string& text)
{
    ASSERT_FALSE(m_pHost->downloads.empty());
    std::string path = WriteWorkFile("manifest_download.ini", text);
    m_pHost->Complete(0, path.c_str());
}

std::string ExtensionTest::ProductDir() const
{
    return m_pHost->directory + "\\" + m_strProductRoot + "\\1.0";
}

void ExtensionTest::SetUpdateSetting(HKEY hRoot, const std::string& name, const std::string& value)
{
    ASSERT_TRUE(WriteRegString(hRoot, "Software\\" + m_strProductRoot + "\\1.0", name, value));
}

