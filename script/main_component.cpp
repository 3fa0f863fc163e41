// Loading and unloading the main component: a control in the host window or
// a library from its install directory.
#include "extension/extension.h"

void CVRGpcExtension::LoadMainComponent() {}
void CVRGpcExtension::UnloadMainComponent() {}
int CVRGpcExtension::CreateMainControl(REFCLSID) { return 0; }
void CVRGpcExtension::RemoveObject() { m_OcxContainer.ReleaseObject(); }
IOleObject* CVRGpcExtension::GetControlObject() { return m_OcxContainer.m_pObject; }
void CVRGpcExtension::GetComponentClsid(const char*, CLSID* pClsid)
{
    if (pClsid) *pClsid = CLSID_NULL;
}
