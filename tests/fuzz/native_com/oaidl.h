// The VARIANT subset the call-script parser uses (see windows.h here):
// empty, 32-bit integer and boolean results, and one kind that has no
// integer form.
#pragma once

#include "windows.h"

enum { VT_EMPTY = 0, VT_I4 = 3, VT_BOOL = 11, VT_UNKNOWN = 13 };

struct VARIANT {
    VARTYPE vt;
    union {
        LONG lVal;
        short boolVal;
        void* punkVal;
    };
};

#define V_VT(p) ((p)->vt)
#define V_I4(p) ((p)->lVal)

inline void VariantInit(VARIANT* p)
{
    p->vt = VT_EMPTY;
    p->punkVal = nullptr;
}

inline HRESULT VariantClear(VARIANT* p)
{
    VariantInit(p);
    return S_OK;
}

// Conversion to VT_I4 with the platform's answers for these kinds: empty is
// 0, a boolean is -1 or 0, an object has no integer form.
inline HRESULT VariantChangeType(VARIANT* pDest, const VARIANT* pSrc, unsigned short, VARTYPE vt)
{
    if (vt != VT_I4) return DISP_E_TYPEMISMATCH;
    LONG lValue = 0;
    switch (pSrc->vt) {
    case VT_EMPTY: lValue = 0; break;
    case VT_I4: lValue = pSrc->lVal; break;
    case VT_BOOL: lValue = pSrc->boolVal ? -1 : 0; break;
    default: return DISP_E_TYPEMISMATCH;
    }
    pDest->vt = VT_I4;
    pDest->lVal = lValue;
    return S_OK;
}
