// The call-script parser with its variable list and a call callback. Input:
// variable lines "name=value" up to a line "--", then the script. The
// callback fails for methods named "fail...", and answers an integer, an
// empty, a boolean or an object result by the method's length.
#include <cstring>
#include <set>
#include <string>

#include "fuzz_support.h"
#include "script/parse_engine.h"

namespace {

struct CallLog {
    CVRGpcNameValuePairs* pVariables;
    int nCalls;
    std::set<std::string> failedMethods;
};

bool IsNameByte(char c)
{
    return c != '\0' && !strchr(" \t\r\n~`!@^&*()-+=|\\{}[]:;\"'<>,.?/", c);
}

bool IsVariableValue(CVRGpcNameValuePairs* pVariables, const char* p)
{
    if (*p == '\0') return true;  // a variable without a text reads as ""
    for (int i = 0; i < pVariables->GetCount(); ++i)
        if (pVariables->GetAt(i)->m_strValue.GetText() == p) return true;
    return false;
}

HRESULT OnCall(void* pContext, const char* lpszMethod, CGpcPtrArray* pArgs, VARIANT* pResult)
{
    CallLog* pLog = static_cast<CallLog*>(pContext);
    ++pLog->nCalls;
    FUZZ_CHECK(lpszMethod != nullptr && lpszMethod[0] != '\0');
    for (const char* p = lpszMethod; *p; ++p) FUZZ_CHECK(IsNameByte(*p));
    FUZZ_CHECK(pArgs != nullptr);
    // Every argument is the text of a variable: the callback may keep
    // reading it for the whole call.
    for (int i = 0; i < pArgs->GetCount(); ++i) {
        const char* lpszArg = static_cast<const char*>(pArgs->GetAt(i));
        FUZZ_CHECK(lpszArg != nullptr);
        FUZZ_CHECK(IsVariableValue(pLog->pVariables, lpszArg));
    }
    if (strncmp(lpszMethod, "fail", 4) == 0) {
        pLog->failedMethods.insert(lpszMethod);
        return E_FAIL;
    }
    if (pResult) {
        FUZZ_CHECK(V_VT(pResult) == VT_EMPTY);
        switch (strlen(lpszMethod) % 4) {
        case 0: V_VT(pResult) = VT_I4; V_I4(pResult) = static_cast<LONG>(strlen(lpszMethod)) * -7919; break;
        case 1: break;
        case 2: V_VT(pResult) = VT_BOOL; pResult->boolVal = -1; break;
        case 3: V_VT(pResult) = VT_UNKNOWN; pResult->punkVal = nullptr; break;
        }
    }
    return S_OK;
}

void RunOnce(CVRGpcNameValuePairs* pVariables, const std::string& script)
{
    CallLog log{pVariables, 0, {}};
    CVRParseEngine parser(pVariables, &OnCall, &log);
    int ok = parser.Parse(script.c_str());
    const CVRScriptException& failure = parser.GetLastFailure();
    if (ok) {
        FUZZ_CHECK(failure.m_strMessage.IsNull());
        FUZZ_CHECK(failure.m_strMethod.IsNull());
        FUZZ_CHECK(log.failedMethods.empty());
        return;
    }
    if (failure.m_nKind == CVRScriptException::KIND_SYNTAX) {
        // Syntax messages are formatted in at most 1,024 bytes.
        FUZZ_CHECK(!failure.m_strMessage.IsNull());
        FUZZ_CHECK(failure.m_strMessage.GetLength() < 1024);
        FUZZ_CHECK(static_cast<int>(strlen(failure.m_strMessage.GetText())) == failure.m_strMessage.GetLength());
    } else {
        FUZZ_CHECK(failure.m_nKind == CVRScriptException::KIND_CALL);
        FUZZ_CHECK(FAILED(failure.m_hrResult));
        // A failed call names its method, and only a method that failed.
        if (!failure.m_strMethod.IsNull())
            FUZZ_CHECK(log.failedMethods.count(failure.m_strMethod.GetText()) == 1);
        else
            FUZZ_CHECK(failure.m_hrResult == E_OUTOFMEMORY);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::string text = FuzzText(pData, nSize);
    CVRGpcNameValuePairs variables;
    size_t nPos = 0;
    for (;;) {
        size_t nEnd = text.find('\n', nPos);
        if (nEnd == std::string::npos) {
            nPos = 0;  // no "--" line: all of it is script, no variables
            variables.RemoveAll();
            break;
        }
        std::string line = text.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        if (line == "--") break;
        size_t nEquals = line.find('=');
        if (nEquals != std::string::npos)
            variables.SetValue(line.substr(0, nEquals).c_str(), line.substr(nEquals + 1).c_str());
    }
    std::string script = text.substr(nPos);
    int nBefore = variables.GetCount();
    RunOnce(&variables, script);
    // A second run on the same variables (with what the first assigned).
    RunOnce(&variables, script);
    FUZZ_CHECK(variables.GetCount() >= nBefore);
    return 0;
}
