// Helpers shared by the script tests: the script_exports fixture library
// and a small IDispatch object that records its calls.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "support/trace_capture.h"

// script_exports.dll, loaded from beside the test program.
class ExportsLibrary {
public:
    ExportsLibrary() : m_hModule(LoadLibraryA((TestBinDir() + "script_exports.dll").c_str()))
    {
        if (m_hModule) Reset();
    }
    ~ExportsLibrary()
    {
        if (m_hModule) FreeLibrary(m_hModule);
    }
    ExportsLibrary(const ExportsLibrary&) = delete;
    ExportsLibrary& operator=(const ExportsLibrary&) = delete;

    HMODULE Handle() const { return m_hModule; }
    FARPROC Proc(const char* name) const { return GetProcAddress(m_hModule, name); }

    void Reset() const { reinterpret_cast<void(__cdecl*)()>(Proc("FixtureReset"))(); }
    // "Name(arg,NULL,...)" of the last export called.
    std::string LastCall() const { return ReadText("FixtureLastCall"); }
    // Every call since the last Reset, one per line.
    std::string Log() const { return ReadText("FixtureLog"); }
    long Calls() const { return reinterpret_cast<LONG(__cdecl*)()>(Proc("FixtureCallCount"))(); }
    long Misaligned() const { return reinterpret_cast<LONG(__cdecl*)()>(Proc("FixtureMisalignedCalls"))(); }

private:
    std::string ReadText(const char* name) const
    {
        std::vector<char> buffer(65536 + 16);
        reinterpret_cast<int(__cdecl*)(char*, int)>(Proc(name))(buffer.data(), static_cast<int>(buffer.size()));
        return buffer.data();
    }
    HMODULE m_hModule;
};

// An automation object with the methods "Echo" (DISPID 1), "Fail" (2,
// Invoke answers DISP_E_EXCEPTION) and "Value" (3, answers the VARIANT the
// test put in nextResult). It records every Invoke as the control sees it.
class RecordingDispatch : public IDispatch {
public:
    struct Invocation {
        DISPID dispid;
        bool nullIid;
        LCID lcid;
        WORD flags;
        UINT namedArgs;
        bool hadResult;
        std::vector<VARTYPE> types;            // element order (0 = last argument)
        std::vector<bool> nullStrings;
        std::vector<std::wstring> values;
    };

    RecordingDispatch() { VariantInit(&nextResult); }
    ~RecordingDispatch() { VariantClear(&nextResult); }

    std::vector<Invocation> invocations;
    std::vector<std::wstring> namesAsked;
    VARIANT nextResult;

    // IUnknown: lives on the test's stack; the counts only need to balance.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRefs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_nRefs; }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override
    {
        if (pctinfo) *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                            DISPID* rgDispId) override
    {
        if (cNames != 1 || !rgszNames || !rgszNames[0]) return E_INVALIDARG;
        namesAsked.push_back(rgszNames[0]);
        static const wchar_t* const GPC_NAMES[] = {L"Echo", L"Fail", L"Value"};
        for (int i = 0; i < 3; ++i) {
            if (wcscmp(rgszNames[0], GPC_NAMES[i]) == 0) {
                rgDispId[0] = i + 1;
                return S_OK;
            }
        }
        rgDispId[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pParams,
                                     VARIANT* pResult, EXCEPINFO*, UINT*) override
    {
        Invocation call;
        call.dispid = dispid;
        call.nullIid = IsEqualIID(riid, IID_NULL) != 0;
        call.lcid = lcid;
        call.flags = wFlags;
        call.namedArgs = pParams ? pParams->cNamedArgs : 0;
        call.hadResult = pResult != nullptr;
        if (pParams) {
            for (UINT i = 0; i < pParams->cArgs; ++i) {
                const VARIANT& v = pParams->rgvarg[i];
                call.types.push_back(V_VT(&v));
                bool isNull = V_VT(&v) == VT_BSTR && V_BSTR(&v) == nullptr;
                call.nullStrings.push_back(isNull);
                call.values.push_back(V_VT(&v) == VT_BSTR && !isNull ? std::wstring(V_BSTR(&v)) : L"");
            }
        }
        invocations.push_back(call);
        if (dispid == 2) return DISP_E_EXCEPTION;
        if (dispid == 3 && pResult) return VariantCopy(pResult, &nextResult);
        return S_OK;
    }

    ULONG Refs() const { return m_nRefs; }

private:
    ULONG m_nRefs = 1;
};
