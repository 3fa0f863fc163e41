// The log an administrator switches on with the policy value "LogFile": each
// trace line lands in the file after the local date and time, the file is
// capped with one previous file kept, and a file that cannot be written
// turns the log off once, with one trace line.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "feedback/trace.h"
#include "feedback/trace_log.h"
#include "registry.h"
#include "trace_capture.h"

namespace {

std::vector<std::string> FileLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(path);
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the file ends with a whole line";
    return lines;
}

// The text after the date, time and trace prefix of a logged line.
std::string TextOf(const std::string& line)
{
    size_t close = line.find(')');
    return close == std::string::npos ? line : line.substr(close + 1);
}

class TraceLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = MakeTempDir("tracelog");
        m_file = m_dir + "\\vrgpcext.log";
        ClearPolicy();
    }
    void TearDown() override
    {
        ClearPolicy();
        ForgetTraceLogForTesting();
    }
    void ClearPolicy()
    {
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, GPC_LOG_POLICY_KEY, 0, KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
            RegDeleteValueA(hKey, GPC_LOG_POLICY_FILE);
            RegDeleteValueA(hKey, GPC_LOG_POLICY_MAX_KB);
            RegCloseKey(hKey);
        }
        ForgetTraceLogForTesting();
    }
    void SetPolicy(const std::string& file, DWORD dwMaxKb = 0)
    {
        ASSERT_TRUE(WriteRegString(HKEY_LOCAL_MACHINE, GPC_LOG_POLICY_KEY, GPC_LOG_POLICY_FILE, file));
        if (dwMaxKb) {
            HKEY hKey = nullptr;
            ASSERT_EQ(ERROR_SUCCESS,
                      RegOpenKeyExA(HKEY_LOCAL_MACHINE, GPC_LOG_POLICY_KEY, 0, KEY_SET_VALUE, &hKey));
            RegSetValueExA(hKey, GPC_LOG_POLICY_MAX_KB, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwMaxKb),
                           sizeof(dwMaxKb));
            RegCloseKey(hKey);
        }
        ForgetTraceLogForTesting();
    }
    std::string m_dir;
    std::string m_file;
};

TEST_F(TraceLog, OffWithoutThePolicyValue)
{
    TraceMessage("vrgpcext: nobody asked for a log");
    EXPECT_FALSE(PathExists(m_file));
    EXPECT_FALSE(PathExists(m_file + GPC_LOG_PREVIOUS_SUFFIX));
}

TEST_F(TraceLog, EveryLineGoesToTheFileAfterTheLocalDateAndTime)
{
    SetPolicy(m_file);
    SYSTEMTIME before;
    GetLocalTime(&before);
    TraceMessage("first line %d", 1);
    TraceMessage("second line with %s", "an argument");
    std::vector<std::string> lines = FileLines(m_file);
    ASSERT_EQ(2u, lines.size());
    const std::regex shape(R"((\d{4})-(\d\d)-(\d\d) \d\d:\d\d:\d\d\.\d{3} \([^:]+:\d+:\d+\).*)");
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        EXPECT_EQ(before.wYear, std::stoi(m[1]));
        EXPECT_EQ(before.wMonth, std::stoi(m[2]));
    }
    EXPECT_EQ("first line 1", TextOf(lines[0]));
    EXPECT_EQ("second line with an argument", TextOf(lines[1]));
}

TEST_F(TraceLog, AnExistingFileIsAppendedTo)
{
    WriteFileBytes(m_file, "kept from before\r\n");
    SetPolicy(m_file);
    TraceMessage("appended");
    std::vector<std::string> lines = FileLines(m_file);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("kept from before", lines[0]);
    EXPECT_EQ("appended", TextOf(lines[1]));
}

TEST_F(TraceLog, AtItsCapTheFileBecomesThePreviousOneAndANewOneBegins)
{
    SetPolicy(m_file, 1);
    const std::string filler(100, 'x');
    for (int i = 0; i < 30; ++i)
        TraceMessage("line %02d %s", i, filler.c_str());

    const std::string previous = m_file + GPC_LOG_PREVIOUS_SUFFIX;
    ASSERT_TRUE(PathExists(previous));
    EXPECT_LE(ReadFileBytes(m_file).size(), 1024u);
    EXPECT_LE(ReadFileBytes(previous).size(), 1024u);
    // No line is lost between the two files, and only one previous file is
    // kept: the newest lines are the last ones traced.
    std::vector<std::string> older = FileLines(previous);
    std::vector<std::string> newer = FileLines(m_file);
    ASSERT_FALSE(older.empty());
    ASSERT_FALSE(newer.empty());
    EXPECT_EQ("line 29 " + filler, TextOf(newer.back()));
    int nLast = std::stoi(TextOf(older.back()).substr(5, 2));
    EXPECT_EQ("line " + std::string(nLast + 1 < 10 ? "0" : "") + std::to_string(nLast + 1) + " " + filler,
              TextOf(newer.front()));
    EXPECT_GT(std::stoi(TextOf(older.front()).substr(5, 2)), 0) << "the first previous file was replaced";
}

TEST_F(TraceLog, AFileThatCannotBeOpenedTurnsTheLogOffWithOneLine)
{
    SetPolicy(m_dir + "\\no such folder\\vrgpcext.log");
    TraceCapture trace;
    for (int i = 0; i < 5; ++i)
        TraceMessage("line %d", i);
    int nOff = 0;
    for (const std::string& text : trace.Texts())
        nOff += text.rfind("vrgpcext: log file off: cannot open ", 0) == 0;
    EXPECT_EQ(1, nOff) << trace.Dump();
    // Every line still reaches the other outputs.
    EXPECT_TRUE(trace.HasLine("line 4")) << trace.Dump();
}

TEST_F(TraceLog, ARelativePathTurnsTheLogOffWithOneLine)
{
    SetPolicy("vrgpcext.log");
    TraceCapture trace;
    TraceMessage("line 1");
    TraceMessage("line 2");
    std::vector<std::string> texts = trace.Texts();
    EXPECT_EQ(1, std::count_if(texts.begin(), texts.end(), [](const std::string& t) {
                  return t.find("vrgpcext: log file off: not a full path: vrgpcext.log") == 0;
              })) << trace.Dump();
    EXPECT_FALSE(PathExists("vrgpcext.log"));
}

}  // namespace
