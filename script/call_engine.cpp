// The script call engine: runs call scripts against a loaded library's
// exports or a control's IDispatch methods, and keeps the script variables.
#include "script/call_engine.h"

#include <cstdlib>
#include <cstring>

#include "feedback/trace.h"
#include "script/call_export.h"

namespace {

// An owned BSTR, freed when it goes out of scope.
class CScopedBstr {
public:
    explicit CScopedBstr(BSTR bstr = nullptr) : m_bstr(bstr) {}
    ~CScopedBstr() { SysFreeString(m_bstr); }
    CScopedBstr(const CScopedBstr&) = delete;
    CScopedBstr& operator=(const CScopedBstr&) = delete;
    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr;
};

// The VARIANT array of one Invoke: every element is cleared and the array
// freed however the call ends.
class CVariantArray {
public:
    CVariantArray() : m_pVariants(nullptr), m_nCount(0) {}
    ~CVariantArray()
    {
        for (int i = 0; i < m_nCount; ++i)
            VariantClear(&m_pVariants[i]);
        free(m_pVariants);
    }
    CVariantArray(const CVariantArray&) = delete;
    CVariantArray& operator=(const CVariantArray&) = delete;

    // Zero-filled: every element starts as VT_EMPTY.
    bool Allocate(int nCount)
    {
        m_pVariants = static_cast<VARIANT*>(calloc(static_cast<size_t>(nCount), sizeof(VARIANT)));
        if (m_pVariants == nullptr)
            return false;
        m_nCount = nCount;
        return true;
    }
    VARIANT* Get() const { return m_pVariants; }

private:
    VARIANT* m_pVariants;
    int m_nCount;
};

// ANSI text to a new BSTR without throwing: false only when a non-null
// text yields no string.
bool TryAnsiToBstr(const char* lpszText, BSTR* pbstr)
{
    *pbstr = nullptr;
    if (lpszText == nullptr)
        return true;
    size_t cchText = strlen(lpszText);
    if (cchText > 0x3FFFFFFF)
        return false;
    int cchWide = 0;
    if (cchText > 0) {
        cchWide = MultiByteToWideChar(CP_THREAD_ACP, 0, lpszText, static_cast<int>(cchText), nullptr, 0);
        if (cchWide <= 0)
            return false;
    }
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cchWide));
    if (bstr == nullptr)
        return false;
    if (cchWide > 0)
        MultiByteToWideChar(CP_THREAD_ACP, 0, lpszText, static_cast<int>(cchText), bstr, cchWide);
    bstr[cchWide] = L'\0';
    *pbstr = bstr;
    return true;
}

// Copies of the texts one call passes on. The engine's own argument
// resolution may set variables (the copied "$LPARAM" text) while it walks
// the arguments, and setting a variable frees its old value: an argument
// that pointed at it, or a value resolved earlier in the same call, would
// then point at freed memory. Passing copies keeps every argument intact
// until the call has returned.
class CArgumentCopies {
public:
    CArgumentCopies() {}
    ~CArgumentCopies()
    {
        for (int i = 0; i < m_Owned.GetCount(); ++i)
            free(m_Owned.GetAt(i));
        m_Owned.Free();
        m_List.Free();
    }
    CArgumentCopies(const CArgumentCopies&) = delete;
    CArgumentCopies& operator=(const CArgumentCopies&) = delete;

    // Appends a copy of the text (null stays null); false when out of memory.
    bool Add(const char* lpszText)
    {
        char* lpszCopy = nullptr;
        if (lpszText != nullptr) {
            size_t cb = strlen(lpszText) + 1;
            lpszCopy = static_cast<char*>(malloc(cb));
            if (lpszCopy == nullptr)
                return false;
            memcpy(lpszCopy, lpszText, cb);
            if (!m_Owned.Add(lpszCopy)) {
                free(lpszCopy);
                return false;
            }
        }
        return m_List.Add(lpszCopy) != 0;
    }
    // Copies every entry of a list.
    bool AddAll(const CGpcPtrArray* pArgs)
    {
        int nCount = pArgs ? pArgs->GetCount() : 0;
        for (int i = 0; i < nCount; ++i)
            if (!Add(static_cast<const char*>(pArgs->GetAt(i))))
                return false;
        return true;
    }
    CGpcPtrArray* List() { return &m_List; }
    const char* GetAt(int i) const { return static_cast<const char*>(m_List.GetAt(i)); }
    int GetCount() const { return m_List.GetCount(); }

private:
    CGpcPtrArray m_Owned;  // the copies, freed here
    CGpcPtrArray m_List;   // what the call sees, nulls included
};

const char GPC_CHANGE_LOCATION_METHOD[] = "GpcChangeLocation";
const char GPC_OPEN_LOCATION_METHOD[] = "GpcOpenLocation";

}  // namespace

BSTR GpcAnsiToBstr(const char* lpszText)
{
    BSTR bstr = nullptr;
    if (!TryAnsiToBstr(lpszText, &bstr))
        throw CGpcComException{E_OUTOFMEMORY};
    return bstr;
}

// --- CVRScriptCall -----------------------------------------------------------

CVRScriptCall::CVRScriptCall()
{
}

CVRScriptCall::~CVRScriptCall()
{
}

int CVRScriptCall::SetVariable(const char* lpszName, const char* lpszValue)
{
    return m_Variables.SetValue(lpszName, lpszValue);
}

const char* CVRScriptCall::GetVariable(const char* lpszName)
{
    const char* lpszValue = nullptr;
    if (lpszName == nullptr || !m_Variables.GetValue(lpszName, &lpszValue))
        return nullptr;
    return lpszValue;
}

int CVRScriptCall::RunDispatchScript(IDispatch* pControl, const char* lpszScript, CVRScriptException* pFailure)
{
    return RunScript(1, pControl, lpszScript, pFailure);
}

int CVRScriptCall::RunLibraryScript(HMODULE hLibrary, const char* lpszScript, CVRScriptException* pFailure)
{
    return RunScript(0, hLibrary, lpszScript, pFailure);
}

int CVRScriptCall::RunScript(int bUseDispatch, void* hHandle, const char* lpszScript, CVRScriptException* pFailure)
{
    // Nothing to run against, or nothing to run: the caller shows its
    // generic failure.
    if (hHandle == nullptr || lpszScript == nullptr)
        return 0;
    ScriptCallContext context = {this, bUseDispatch, hHandle};
    CVRParseEngine parser(&m_Variables, &CVRScriptCall::ForwardScriptCall, &context);
    if (parser.Parse(lpszScript))
        return 1;
    // The caller shows the user a message; the trace says which script was
    // refused or stopped, and why.
    const CVRScriptException& failure = parser.GetLastFailure();
    if (failure.m_nKind == CVRScriptException::KIND_SYNTAX)
        TraceMessage("ScriptCall: script refused: %s",
                     failure.m_strMessage.IsNull() ? "" : failure.m_strMessage.GetText());
    else if (!failure.m_strMethod.IsEmpty())
        TraceMessage("ScriptCall: script stopped: %s failed with 0x%08lx", failure.m_strMethod.GetText(),
                     static_cast<unsigned long>(failure.m_hrResult));
    else
        TraceMessage("ScriptCall: script stopped: error 0x%08lx", static_cast<unsigned long>(failure.m_hrResult));
    if (pFailure != nullptr)
        *pFailure = failure;
    return 0;
}

HRESULT CVRScriptCall::ForwardScriptCall(void* pContext, const char* lpszMethod, CGpcPtrArray* pArgs,
                                         VARIANT* pResult)
{
    ScriptCallContext* pCall = static_cast<ScriptCallContext*>(pContext);
    if (pCall == nullptr || pCall->pEngine == nullptr)
        return E_POINTER;
    // Virtual: the extension's engine gets its built-ins and resolution.
    if (pCall->bUseDispatch)
        return pCall->pEngine->CallDispatchMethod(static_cast<IDispatch*>(pCall->hHandle), lpszMethod, pArgs,
                                                  pResult);
    return pCall->pEngine->CallLibraryMethod(static_cast<HMODULE>(pCall->hHandle), lpszMethod, pArgs, pResult);
}

HRESULT CVRScriptCall::CallLibraryMethod(HMODULE hLibrary, const char* lpszMethod, CGpcPtrArray* pArgs,
                                         VARIANT* pResult)
{
    FARPROC pfnMethod = nullptr;
    if (hLibrary != nullptr && lpszMethod != nullptr)
        pfnMethod = GetProcAddress(hLibrary, lpszMethod);
    TraceMessage("ScriptCall:hModule:%x,lpszMethod:%s,pfnMethod:%x",
                 static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(hLibrary)), lpszMethod ? lpszMethod : "",
                 static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(pfnMethod)));
    // A library without the export skips the call: the script goes on.
    if (pfnMethod == nullptr)
        return S_OK;

    int nArgs = pArgs ? pArgs->GetCount() : 0;
    // The export gets its parameters on this thread's stack; a list longer
    // than the stack can hold ends the run instead of the process.
    if (!GpcStackHasRoomFor(nArgs)) {
        TraceMessage("ScriptCall: %x not called: %d arguments do not fit on the stack",
                     static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(pfnMethod)), nArgs);
        return HRESULT_FROM_WIN32(ERROR_STACK_OVERFLOW);
    }
    ULONG_PTR* rgArgs = nullptr;
    if (nArgs > 0) {
        rgArgs = static_cast<ULONG_PTR*>(malloc(static_cast<size_t>(nArgs) * sizeof(ULONG_PTR)));
        if (rgArgs == nullptr)
            return E_OUTOFMEMORY;
        for (int i = 0; i < nArgs; ++i)
            rgArgs[i] = reinterpret_cast<ULONG_PTR>(pArgs->GetAt(i));
    }
    LONG lReturn = GpcCallExport(pfnMethod, rgArgs, nArgs);
    free(rgArgs);

    if (pResult != nullptr) {
        VariantClear(pResult);
        V_VT(pResult) = VT_I4;
        V_I4(pResult) = lReturn;
    }
    TraceMessage("ScriptCall: %x ends. Return: %d", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(pfnMethod)),
                 static_cast<int>(lReturn));
    return S_OK;
}

HRESULT CVRScriptCall::CallDispatchMethod(IDispatch* pControl, const char* lpszMethod, CGpcPtrArray* pArgs,
                                          VARIANT* pResult)
{
    if (pControl == nullptr)
        return E_POINTER;
    // A method without a name is one the control cannot know: skipped like
    // any unknown method, without handing the control a null name.
    if (lpszMethod == nullptr)
        return S_OK;

    BSTR bstrName = nullptr;
    if (!TryAnsiToBstr(lpszMethod, &bstrName))
        return E_OUTOFMEMORY;
    CScopedBstr name(bstrName);
    LPOLESTR rgszNames[1] = {name.Get()};
    DISPID dispid = DISPID_UNKNOWN;
    if (FAILED(pControl->GetIDsOfNames(IID_NULL, rgszNames, 1, 0, &dispid)))
        return S_OK;  // a method the control does not know is skipped

    int nArgs = pArgs ? pArgs->GetCount() : 0;
    CVariantArray args;
    if (nArgs > 0) {
        if (!args.Allocate(nArgs))
            return E_OUTOFMEMORY;
        // IDispatch takes its arguments last first: element 0 holds the
        // last entry of the list.
        for (int i = 0; i < nArgs; ++i) {
            VARIANT* pArg = &args.Get()[nArgs - 1 - i];
            BSTR bstrArg = nullptr;
            if (!TryAnsiToBstr(static_cast<const char*>(pArgs->GetAt(i)), &bstrArg))
                return E_OUTOFMEMORY;
            V_VT(pArg) = VT_BSTR;
            V_BSTR(pArg) = bstrArg;  // null entry: a null string
        }
    }
    DISPPARAMS params = {args.Get(), nullptr, static_cast<UINT>(nArgs), 0};
    return pControl->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, pResult, nullptr, nullptr);
}

// --- CVRGpcCallEngine -------------------------------------------------------

CVRGpcCallEngine::CVRGpcCallEngine(IGpcScriptSite* pSite) : m_pSite(pSite)
{
}

CVRGpcCallEngine::~CVRGpcCallEngine()
{
    m_Variables.RemoveAll();
}

namespace {

// The steps both overrides share: the built-ins act on the host page; any
// other method gets its arguments resolved by the extension first.
// Returns true when the call was a built-in (its result in *phr).
bool DispatchBuiltIn(IGpcScriptSite* pSite, const char* lpszMethod, CArgumentCopies* pArgs,
                     HRESULT* phr)
{
    if (lpszMethod == nullptr)
        return false;
    // Letter case counts: "gpcchangelocation" is an ordinary method.
    if (strcmp(lpszMethod, GPC_CHANGE_LOCATION_METHOD) == 0) {
        *phr = pSite ? pSite->ChangeLocation(pArgs->List()) : E_FAIL;
        return true;
    }
    if (strcmp(lpszMethod, GPC_OPEN_LOCATION_METHOD) == 0) {
        *phr = pSite ? pSite->OpenLocation(pArgs->List()) : E_FAIL;
        return true;
    }
    return false;
}

// Resolves every argument through the extension ("#LPARAM", "$LPARAM") into
// copies; traces each value (dispatch form) or only the null ones (library
// form). False when out of memory.
bool ResolveArguments(IGpcScriptSite* pSite, const CArgumentCopies& args, CArgumentCopies* pResolved,
                      bool bTraceValues)
{
    for (int i = 0; i < args.GetCount(); ++i) {
        const char* lpszValue = args.GetAt(i);
        if (pSite != nullptr)
            lpszValue = pSite->ResolveParameter(lpszValue);
        // Copied at once: resolving the next argument may replace the
        // variable this value lives in.
        if (!pResolved->Add(lpszValue))
            return false;
        if (lpszValue == nullptr)
            TraceMessage("Parameter %d = NULL", i + 1);
        else if (bTraceValues)
            TraceMessage("Parameter %d = %s", i + 1, lpszValue);
    }
    return true;
}

}  // namespace

HRESULT CVRGpcCallEngine::CallLibraryMethod(HMODULE hLibrary, const char* lpszMethod, CGpcPtrArray* pArgs,
                                            VARIANT* pResult)
{
    CArgumentCopies args;
    if (!args.AddAll(pArgs))
        return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    if (DispatchBuiltIn(m_pSite, lpszMethod, &args, &hr))
        return hr;
    CArgumentCopies resolved;
    if (!ResolveArguments(m_pSite, args, &resolved, false))
        return E_OUTOFMEMORY;
    return CVRScriptCall::CallLibraryMethod(hLibrary, lpszMethod, resolved.List(), pResult);
}

HRESULT CVRGpcCallEngine::CallDispatchMethod(IDispatch* pControl, const char* lpszMethod, CGpcPtrArray* pArgs,
                                             VARIANT* pResult)
{
    CArgumentCopies args;
    if (!args.AddAll(pArgs))
        return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    if (DispatchBuiltIn(m_pSite, lpszMethod, &args, &hr))
        return hr;
    CArgumentCopies resolved;
    if (!ResolveArguments(m_pSite, args, &resolved, true))
        return E_OUTOFMEMORY;
    return CVRScriptCall::CallDispatchMethod(pControl, lpszMethod, resolved.List(), pResult);
}
