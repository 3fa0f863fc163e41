#include "script/parse_engine.h"

CVRParseEngine::CVRParseEngine(CVRGpcNameValuePairs* pVariables, ScriptCallFn pfnCall, void* pContext)
    : m_pVariables(pVariables), m_pContext(pContext), m_pfnCall(pfnCall)
{
}

CVRParseEngine::~CVRParseEngine()
{
    ResetLists();
}

int CVRParseEngine::Parse(const char* lpszScript)
{
    (void)lpszScript;
    return 0;
}

const char* CVRParseEngine::SkipWhiteSpace(const char* p) { return p; }
const char* CVRParseEngine::ScanToken(const char* p) { return p; }
const char* CVRParseEngine::ParseStatement(const char* p) { return p; }
const char* CVRParseEngine::ParseArguments(const char* p) { return p; }
void CVRParseEngine::ResetLists() {}
void CVRParseEngine::RaiseSyntaxError(const char*, const char*) { throw m_LastFailure; }
void CVRParseEngine::RaiseCallError(const char*, HRESULT) { throw m_LastFailure; }
