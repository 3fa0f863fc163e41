// The extension's minimal OLE container for the main component's control.
#include "script/ocx_container.h"

CVRGpcOcxContainer::CVRGpcOcxContainer()
    : m_hWnd(nullptr), m_pLockBytes(nullptr), m_pStorage(nullptr), m_ClientSite(this), m_InPlaceSite(this),
      m_pObject(nullptr)
{
}

CVRGpcOcxContainer::~CVRGpcOcxContainer() { ReleaseObject(); }

STDMETHODIMP CVRGpcOcxContainer::QueryInterface(REFIID, void** ppv)
{
    if (ppv) *ppv = nullptr;
    return E_FAIL;
}
STDMETHODIMP_(ULONG) CVRGpcOcxContainer::AddRef() { return 0; }
STDMETHODIMP_(ULONG) CVRGpcOcxContainer::Release() { return 0; }
int CVRGpcOcxContainer::CreateObject(REFCLSID, HWND, const RECT*) { return 0; }
void CVRGpcOcxContainer::ReleaseObject() {}
IStorage* CVRGpcOcxContainer::GetStorage() { return nullptr; }

STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::QueryInterface(REFIID riid, void** ppv) { return m_pContainer->QueryInterface(riid, ppv); }
STDMETHODIMP_(ULONG) CVRGpcOcxContainer::CImpIOleClientSite::AddRef() { return m_pContainer->AddRef(); }
STDMETHODIMP_(ULONG) CVRGpcOcxContainer::CImpIOleClientSite::Release() { return m_pContainer->Release(); }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::SaveObject() { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::GetMoniker(DWORD, DWORD, IMoniker**) { return E_FAIL; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::GetContainer(IOleContainer**) { return E_FAIL; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::ShowObject() { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::OnShowWindow(BOOL) { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::RequestNewObjectLayout() { return S_OK; }

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::QueryInterface(REFIID riid, void** ppv) { return m_pContainer->QueryInterface(riid, ppv); }
STDMETHODIMP_(ULONG) CVRGpcOcxContainer::CImpIOleInPlaceSite::AddRef() { return m_pContainer->AddRef(); }
STDMETHODIMP_(ULONG) CVRGpcOcxContainer::CImpIOleInPlaceSite::Release() { return m_pContainer->Release(); }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::GetWindow(HWND*) { return E_FAIL; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::ContextSensitiveHelp(BOOL) { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::CanInPlaceActivate() { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnInPlaceActivate() { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnUIActivate() { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::GetWindowContext(IOleInPlaceFrame**, IOleInPlaceUIWindow**, LPRECT, LPRECT, LPOLEINPLACEFRAMEINFO) { return E_FAIL; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::Scroll(SIZE) { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnUIDeactivate(BOOL) { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnInPlaceDeactivate() { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::DiscardUndoState() { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::DeactivateAndUndo() { return S_OK; }
STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnPosRectChange(LPCRECT) { return S_OK; }
