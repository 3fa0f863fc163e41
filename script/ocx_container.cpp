// The extension's minimal OLE container for the main component's control.
//
// The container and its two sites count no references: they are members of
// the extension object, which outlives the control (ReleaseObject runs at
// unload and again from the destructor).
#include "script/ocx_container.h"

CVRGpcOcxContainer::CVRGpcOcxContainer()
    : m_hWnd(nullptr),
      m_pLockBytes(nullptr),
      m_pStorage(nullptr),
      m_ClientSite(this),
      m_InPlaceSite(this),
      m_pObject(nullptr)
{
}

CVRGpcOcxContainer::~CVRGpcOcxContainer()
{
    ReleaseObject();
}

STDMETHODIMP CVRGpcOcxContainer::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
    } else if (IsEqualIID(riid, IID_IOleClientSite)) {
        *ppv = static_cast<IOleClientSite*>(&m_ClientSite);
    } else if (IsEqualIID(riid, IID_IOleInPlaceSite)) {
        *ppv = static_cast<IOleInPlaceSite*>(&m_InPlaceSite);
    } else {
        // Controls probe for many optional container interfaces; the
        // container has always answered E_FAIL to all of them.
        return E_FAIL;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CVRGpcOcxContainer::AddRef()
{
    return 0;
}

STDMETHODIMP_(ULONG) CVRGpcOcxContainer::Release()
{
    return 0;
}

int CVRGpcOcxContainer::CreateObject(REFCLSID clsid, HWND hWnd, const RECT* pRect)
{
    if (m_pObject) return 1;

    m_hWnd = hWnd;
    IStorage* pStorage = GetStorage();

    IOleObject* pObject = nullptr;
    // The result code is not what decides: some servers report a warning
    // with a usable object, so the object pointer is tested instead.
    OleCreate(clsid, IID_IOleObject, OLERENDER_DRAW, nullptr, &m_ClientSite, pStorage,
              reinterpret_cast<void**>(&pObject));
    if (!pObject) return 0;
    m_pObject = pObject;

    OleRun(m_pObject);

    MSG msg;
    ZeroMemory(&msg, sizeof(msg));
    RECT rcPos;
    if (pRect) {
        rcPos = *pRect;
    } else {
        SetRectEmpty(&rcPos);
    }
    // A control that cannot show itself is still hosted; scripts may reach it.
    m_pObject->DoVerb(OLEIVERB_SHOW, &msg, &m_ClientSite, 0, hWnd, &rcPos);
    return 1;
}

void CVRGpcOcxContainer::ReleaseObject()
{
    if (m_pObject) {
        IOleObject* pObject = m_pObject;
        // Cleared first: a control that calls back into its sites while it
        // closes must find the container already empty.
        m_pObject = nullptr;
        pObject->Close(OLECLOSE_NOSAVE);
        pObject->Release();
    }
    if (m_pStorage) {
        m_pStorage->Release();
        m_pStorage = nullptr;
    }
    if (m_pLockBytes) {
        m_pLockBytes->Release();
        m_pLockBytes = nullptr;
    }
    m_hWnd = nullptr;
}

IStorage* CVRGpcOcxContainer::GetStorage()
{
    if (m_pStorage) return m_pStorage;

    if (!m_pLockBytes) {
        if (FAILED(CreateILockBytesOnHGlobal(nullptr, TRUE, &m_pLockBytes))) {
            m_pLockBytes = nullptr;
            return nullptr;
        }
    }
    if (SUCCEEDED(StgCreateDocfileOnILockBytes(m_pLockBytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                               0, &m_pStorage)) &&
        m_pStorage) {
        return m_pStorage;
    }
    m_pStorage = nullptr;
    m_pLockBytes->Release();
    m_pLockBytes = nullptr;
    return nullptr;
}

// --- Client site -------------------------------------------------------------

STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::QueryInterface(REFIID riid, void** ppv)
{
    return m_pContainer->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CVRGpcOcxContainer::CImpIOleClientSite::AddRef()
{
    return m_pContainer->AddRef();
}

STDMETHODIMP_(ULONG) CVRGpcOcxContainer::CImpIOleClientSite::Release()
{
    return m_pContainer->Release();
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::SaveObject()
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::GetMoniker(DWORD, DWORD, IMoniker** ppmk)
{
    if (ppmk) *ppmk = nullptr;
    return E_FAIL;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::GetContainer(IOleContainer** ppContainer)
{
    if (ppContainer) *ppContainer = nullptr;
    return E_FAIL;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::ShowObject()
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::OnShowWindow(BOOL)
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleClientSite::RequestNewObjectLayout()
{
    return S_OK;
}

// --- In-place site -----------------------------------------------------------

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::QueryInterface(REFIID riid, void** ppv)
{
    return m_pContainer->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CVRGpcOcxContainer::CImpIOleInPlaceSite::AddRef()
{
    return m_pContainer->AddRef();
}

STDMETHODIMP_(ULONG) CVRGpcOcxContainer::CImpIOleInPlaceSite::Release()
{
    return m_pContainer->Release();
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::GetWindow(HWND* phwnd)
{
    if (!phwnd) return E_POINTER;
    *phwnd = m_pContainer->m_hWnd;
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::ContextSensitiveHelp(BOOL)
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::CanInPlaceActivate()
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnInPlaceActivate()
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnUIActivate()
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::GetWindowContext(IOleInPlaceFrame** ppFrame,
                                                                       IOleInPlaceUIWindow** ppDoc, LPRECT,
                                                                       LPRECT, LPOLEINPLACEFRAMEINFO)
{
    // No frame and no document window: the control stays in the host window
    // and negotiates no menus or tool space.
    if (ppFrame) *ppFrame = nullptr;
    if (ppDoc) *ppDoc = nullptr;
    return E_FAIL;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::Scroll(SIZE)
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnUIDeactivate(BOOL)
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnInPlaceDeactivate()
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::DiscardUndoState()
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::DeactivateAndUndo()
{
    return S_OK;
}

STDMETHODIMP CVRGpcOcxContainer::CImpIOleInPlaceSite::OnPosRectChange(LPCRECT)
{
    return S_OK;
}
