// The call-script language: statements "name(args)" or "result = name(args)"
// separated by ";", arguments being names of variables.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "npvrgpc/npbase.h"

// The failure record of a script run; thrown by value inside a run.
class CVRScriptException {
public:
    enum { KIND_CALL = 0, KIND_SYNTAX = 1 };
    CVRScriptException() : m_nKind(KIND_CALL), m_hrResult(S_OK) {}

    int m_nKind;            // 1 syntax error; 0 a call failed (or nothing recorded)
    HRESULT m_hrResult;     // HRESULT of the failed call, 0 when none
    CGpcString m_strMessage;  // formatted syntax message; empty when none
    CGpcString m_strMethod;   // method whose call failed; empty when none
};

// One call of a script: (context, method, argument values, result or null).
typedef HRESULT (*ScriptCallFn)(void* pContext, const char* lpszMethod, CGpcPtrArray* pArgs,
                                VARIANT* pResult);

class CVRParseEngine {
public:
    CVRParseEngine(CVRGpcNameValuePairs* pVariables, ScriptCallFn pfnCall, void* pContext);
    virtual ~CVRParseEngine();
    CVRParseEngine(const CVRParseEngine&) = delete;
    CVRParseEngine& operator=(const CVRParseEngine&) = delete;

    // Runs a whole script: 1 when it ran to its end, 0 on a failure
    // (GetLastFailure then says why).
    int Parse(const char* lpszScript);
    const CVRScriptException& GetLastFailure() const { return m_LastFailure; }

    static const char* SkipWhiteSpace(const char* p);
    static const char* ScanToken(const char* p);

private:
    const char* ParseStatement(const char* p);
    const char* ParseArguments(const char* p);
    void ResetLists();
    [[noreturn]] void RaiseSyntaxError(const char* lpszFormat, const char* lpszText);
    [[noreturn]] void RaiseCallError(const char* lpszName, HRESULT hr);

    CGpcPtrArray m_Tokens;     // owned strings: the names of the current statement
    CGpcPtrArray m_Arguments;  // borrowed: values in the variable list
    CVRScriptException m_LastFailure;
    CVRGpcNameValuePairs* m_pVariables;
    void* m_pContext;
    ScriptCallFn m_pfnCall;
};
