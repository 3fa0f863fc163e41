// Actions, notifications and location changes.
#include "extension/extension.h"

int CVRGpcExtension::ExecuteScript(const char*) { return 1; }
void CVRGpcExtension::HandleNotification(DWORD, DWORD) {}
const char* CVRGpcExtension::ResolveParameter(const char* lpszValue) { return lpszValue; }
HRESULT CVRGpcExtension::ChangeLocation(CGpcPtrArray*) { return E_FAIL; }
HRESULT CVRGpcExtension::OpenLocation(CGpcPtrArray*) { return E_FAIL; }
