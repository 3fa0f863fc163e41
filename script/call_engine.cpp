#include "script/call_engine.h"

CVRScriptCall::CVRScriptCall() {}
CVRScriptCall::~CVRScriptCall() {}
HRESULT CVRScriptCall::CallLibraryMethod(HMODULE, const char*, CGpcPtrArray*, VARIANT*) { return E_NOTIMPL; }
HRESULT CVRScriptCall::CallDispatchMethod(IDispatch*, const char*, CGpcPtrArray*, VARIANT*) { return E_NOTIMPL; }
int CVRScriptCall::SetVariable(const char*, const char*) { return 0; }
const char* CVRScriptCall::GetVariable(const char*) { return nullptr; }
int CVRScriptCall::RunDispatchScript(IDispatch*, const char*, CVRScriptException*) { return 0; }
int CVRScriptCall::RunLibraryScript(HMODULE, const char*, CVRScriptException*) { return 0; }
HRESULT CVRScriptCall::ForwardScriptCall(void*, const char*, CGpcPtrArray*, VARIANT*) { return E_NOTIMPL; }
int CVRScriptCall::RunScript(int, void*, const char*, CVRScriptException*) { return 0; }

CVRGpcCallEngine::CVRGpcCallEngine(CVRGpcExtension* pExtension) : m_pExtension(pExtension) {}
CVRGpcCallEngine::~CVRGpcCallEngine() {}
HRESULT CVRGpcCallEngine::CallLibraryMethod(HMODULE, const char*, CGpcPtrArray*, VARIANT*) { return E_NOTIMPL; }
HRESULT CVRGpcCallEngine::CallDispatchMethod(IDispatch*, const char*, CGpcPtrArray*, VARIANT*) { return E_NOTIMPL; }

BSTR GpcAnsiToBstr(const char*) { return nullptr; }
