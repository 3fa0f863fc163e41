// What the call engine needs of the instance whose scripts it runs: the two
// built-in methods that change or open a location, and the resolution of a
// "$name" or "%name" argument. The extension implements it.
#pragma once

#include <windows.h>

#include "npvrgpc/npbase.h"

class IGpcScriptSite {
public:
    virtual HRESULT ChangeLocation(CGpcPtrArray* pArgs) = 0;
    virtual HRESULT OpenLocation(CGpcPtrArray* pArgs) = 0;
    // The text an argument stands for, or the argument itself.
    virtual const char* ResolveParameter(const char* lpszValue) = 0;

protected:
    ~IGpcScriptSite() = default;
};
