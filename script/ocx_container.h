// A minimal OLE container that hosts the main component's ActiveX control in
// the host's plug-in window. It counts no references: it lives exactly as
// long as the extension object that holds it by value.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleidl.h>

class CVRGpcOcxContainer : public IUnknown {
public:
    CVRGpcOcxContainer();
    virtual ~CVRGpcOcxContainer();
    CVRGpcOcxContainer(const CVRGpcOcxContainer&) = delete;
    CVRGpcOcxContainer& operator=(const CVRGpcOcxContainer&) = delete;

    // IUnknown: only IUnknown, IOleClientSite and IOleInPlaceSite; E_FAIL
    // (not E_NOINTERFACE) for everything else.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    int CreateObject(REFCLSID clsid, HWND hWnd, const RECT* pRect);
    void ReleaseObject();
    IStorage* GetStorage();

    class CImpIOleClientSite : public IOleClientSite {
    public:
        explicit CImpIOleClientSite(CVRGpcOcxContainer* pContainer) : m_pContainer(pContainer) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP SaveObject() override;
        STDMETHODIMP GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
        STDMETHODIMP GetContainer(IOleContainer** ppContainer) override;
        STDMETHODIMP ShowObject() override;
        STDMETHODIMP OnShowWindow(BOOL fShow) override;
        STDMETHODIMP RequestNewObjectLayout() override;
        CVRGpcOcxContainer* m_pContainer;
    };

    class CImpIOleInPlaceSite : public IOleInPlaceSite {
    public:
        explicit CImpIOleInPlaceSite(CVRGpcOcxContainer* pContainer) : m_pContainer(pContainer) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP GetWindow(HWND* phwnd) override;
        STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override;
        STDMETHODIMP CanInPlaceActivate() override;
        STDMETHODIMP OnInPlaceActivate() override;
        STDMETHODIMP OnUIActivate() override;
        STDMETHODIMP GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                      LPRECT lprcPosRect, LPRECT lprcClipRect,
                                      LPOLEINPLACEFRAMEINFO lpFrameInfo) override;
        STDMETHODIMP Scroll(SIZE scrollExtent) override;
        STDMETHODIMP OnUIDeactivate(BOOL fUndoable) override;
        STDMETHODIMP OnInPlaceDeactivate() override;
        STDMETHODIMP DiscardUndoState() override;
        STDMETHODIMP DeactivateAndUndo() override;
        STDMETHODIMP OnPosRectChange(LPCRECT lprcPosRect) override;
        CVRGpcOcxContainer* m_pContainer;
    };

    HWND m_hWnd;
    ILockBytes* m_pLockBytes;
    IStorage* m_pStorage;
    CImpIOleClientSite m_ClientSite;
    CImpIOleInPlaceSite m_InPlaceSite;
    IOleObject* m_pObject;
};
