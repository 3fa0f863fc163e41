// Just enough of the platform's types for the call-script parser to build
// natively: HRESULTs and the VARIANT result of a call. Only the fuzz build
// sees this folder; the library itself always builds against the real headers.
#pragma once

#include <cstdint>
#include <cstdio>

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef unsigned short VARTYPE;

#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005u)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)

// The parser formats only "%ld" of a LONG with it.
#define wsprintfA std::sprintf
