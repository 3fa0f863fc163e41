// Carries out script calls against a loaded library's exports or a
// control's IDispatch methods, and owns the script variables.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "npvrgpc/npbase.h"
#include "script/parse_engine.h"

#include "script/script_site.h"

class CVRScriptCall {
public:
    CVRScriptCall();
    virtual ~CVRScriptCall();
    CVRScriptCall(const CVRScriptCall&) = delete;
    CVRScriptCall& operator=(const CVRScriptCall&) = delete;

    virtual HRESULT CallLibraryMethod(HMODULE hLibrary, const char* lpszMethod, CGpcPtrArray* pArgs,
                                      VARIANT* pResult);
    virtual HRESULT CallDispatchMethod(IDispatch* pControl, const char* lpszMethod, CGpcPtrArray* pArgs,
                                       VARIANT* pResult);

    int SetVariable(const char* lpszName, const char* lpszValue);
    const char* GetVariable(const char* lpszName);

    int RunDispatchScript(IDispatch* pControl, const char* lpszScript, CVRScriptException* pFailure);
    int RunLibraryScript(HMODULE hLibrary, const char* lpszScript, CVRScriptException* pFailure);

    // The ScriptCallFn of every run: forwards to the virtual operations.
    static HRESULT ForwardScriptCall(void* pContext, const char* lpszMethod, CGpcPtrArray* pArgs,
                                     VARIANT* pResult);

    CVRGpcNameValuePairs m_Variables;

private:
    int RunScript(int bUseDispatch, void* hHandle, const char* lpszScript, CVRScriptException* pFailure);
};

struct ScriptCallContext {
    CVRScriptCall* pEngine;
    int bUseDispatch;
    void* hHandle;  // HMODULE or IDispatch*
};

// The extension's engine: adds the built-ins "GpcChangeLocation" and
// "GpcOpenLocation" and resolves every other argument through the extension.
class CVRGpcCallEngine : public CVRScriptCall {
public:
    explicit CVRGpcCallEngine(IGpcScriptSite* pSite);
    ~CVRGpcCallEngine() override;

    HRESULT CallLibraryMethod(HMODULE hLibrary, const char* lpszMethod, CGpcPtrArray* pArgs,
                              VARIANT* pResult) override;
    HRESULT CallDispatchMethod(IDispatch* pControl, const char* lpszMethod, CGpcPtrArray* pArgs,
                               VARIANT* pResult) override;

    IGpcScriptSite* m_pSite;
};

// Converts ANSI text to a new BSTR with the thread's code page; null gives
// null. Throws CGpcComException(E_OUTOFMEMORY) when a non-null text yields none.
BSTR GpcAnsiToBstr(const char* lpszText);

// The exception that carries an HRESULT out of a COM string allocation.
struct CGpcComException {
    HRESULT m_hr;
};
