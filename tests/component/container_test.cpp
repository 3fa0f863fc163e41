// The OLE container on its own: what its sites answer, and the life of one
// hosted control (the sample ActiveX control) in a real window.
#include "component_test_util.h"

#include "script/ocx_container.h"

using namespace component_test;

namespace {

class Container : public ComponentTest {
protected:
    CLSID Clsid(const char* lpszProgId)
    {
        CLSID clsid = CLSID_NULL;
        CVRGpcExtension::GetComponentClsid(lpszProgId, &clsid);
        return clsid;
    }
    RECT Rect(int r, int b)
    {
        RECT rc = {0, 0, r, b};
        return rc;
    }
};

struct QiCase {
    const char* name;
    const IID* iid;
    int expected;  // 0 none, 1 container, 2 client site, 3 in-place site
};

const QiCase GPC_QI_CASES[] = {
    {"IUnknown", &IID_IUnknown, 1},
    {"IOleClientSite", &IID_IOleClientSite, 2},
    {"IOleInPlaceSite", &IID_IOleInPlaceSite, 3},
    {"IOleInPlaceFrame", &IID_IOleInPlaceFrame, 0},
    {"IOleContainer", &IID_IOleContainer, 0},
    {"IOleWindow", &IID_IOleWindow, 0},
    {"IDispatch", &IID_IDispatch, 0},
    {"IServiceProvider", &IID_IServiceProvider, 0},
    {"IOleInPlaceUIWindow", &IID_IOleInPlaceUIWindow, 0},
};

}  // namespace

TEST_F(Container, QueryInterfaceAnswersItsThreeInterfacesAndEFailForAllOthers)
{
    CVRGpcOcxContainer container;
    void* rgExpected[] = {nullptr, static_cast<IUnknown*>(&container),
                          static_cast<IOleClientSite*>(&container.m_ClientSite),
                          static_cast<IOleInPlaceSite*>(&container.m_InPlaceSite)};
    IUnknown* rgAsked[] = {&container, &container.m_ClientSite, &container.m_InPlaceSite};
    for (const QiCase& c : GPC_QI_CASES) {
        for (IUnknown* pAsked : rgAsked) {
            void* pv = reinterpret_cast<void*>(1);
            HRESULT hr = pAsked->QueryInterface(*c.iid, &pv);
            EXPECT_EQ(c.expected ? S_OK : E_FAIL, hr) << c.name;
            EXPECT_EQ(rgExpected[c.expected], pv) << c.name;
        }
    }
    // Nothing counts references: the container lives as long as its owner.
    EXPECT_EQ(0u, container.AddRef());
    EXPECT_EQ(0u, container.m_ClientSite.AddRef());
    EXPECT_EQ(0u, container.m_InPlaceSite.Release());
}

TEST_F(Container, SitesAnswerEverySlotAsTheContainerPromises)
{
    CVRGpcOcxContainer container;
    IOleClientSite* pClient = &container.m_ClientSite;
    EXPECT_EQ(S_OK, pClient->SaveObject());
    IMoniker* pMoniker = reinterpret_cast<IMoniker*>(1);
    EXPECT_EQ(E_FAIL, pClient->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, &pMoniker));
    EXPECT_EQ(nullptr, pMoniker);
    IOleContainer* pOleContainer = reinterpret_cast<IOleContainer*>(1);
    EXPECT_EQ(E_FAIL, pClient->GetContainer(&pOleContainer));
    EXPECT_EQ(nullptr, pOleContainer);
    EXPECT_EQ(S_OK, pClient->ShowObject());
    EXPECT_EQ(S_OK, pClient->OnShowWindow(TRUE));
    EXPECT_EQ(S_OK, pClient->RequestNewObjectLayout());

    IOleInPlaceSite* pSite = &container.m_InPlaceSite;
    HWND hWnd = reinterpret_cast<HWND>(1);
    EXPECT_EQ(S_OK, pSite->GetWindow(&hWnd));
    EXPECT_EQ(nullptr, hWnd);
    EXPECT_EQ(S_OK, pSite->ContextSensitiveHelp(TRUE));
    EXPECT_EQ(S_OK, pSite->CanInPlaceActivate());
    EXPECT_EQ(S_OK, pSite->OnInPlaceActivate());
    EXPECT_EQ(S_OK, pSite->OnUIActivate());

    IOleInPlaceFrame* pFrame = reinterpret_cast<IOleInPlaceFrame*>(1);
    IOleInPlaceUIWindow* pDoc = reinterpret_cast<IOleInPlaceUIWindow*>(1);
    RECT rcPos = {1, 2, 3, 4}, rcClip = {5, 6, 7, 8};
    OLEINPLACEFRAMEINFO info;
    memset(&info, 0x5A, sizeof(info));
    EXPECT_EQ(E_FAIL, pSite->GetWindowContext(&pFrame, &pDoc, &rcPos, &rcClip, &info));
    EXPECT_EQ(nullptr, pFrame);
    EXPECT_EQ(nullptr, pDoc);
    EXPECT_EQ(1, rcPos.left);
    EXPECT_EQ(8, rcClip.bottom);
    EXPECT_EQ(0x5A5A5A5Au, info.cb);

    SIZE extent = {1, 1};
    EXPECT_EQ(S_OK, pSite->Scroll(extent));
    EXPECT_EQ(S_OK, pSite->OnUIDeactivate(FALSE));
    EXPECT_EQ(S_OK, pSite->OnInPlaceDeactivate());
    EXPECT_EQ(S_OK, pSite->DiscardUndoState());
    EXPECT_EQ(S_OK, pSite->DeactivateAndUndo());
    EXPECT_EQ(S_OK, pSite->OnPosRectChange(&rcPos));
}

TEST_F(Container, ControlIsCreatedOnStorageActivatedInPlaceAndClosedOnRelease)
{
    CVRGpcOcxContainer container;
    HWND hWnd = host.Window();
    RECT rc = Rect(120, 80);
    ASSERT_EQ(1, container.CreateObject(Clsid(GPC_CONTROL_PROG_ID), hWnd, &rc));
    ASSERT_NE(nullptr, container.m_pObject);
    EXPECT_NE(nullptr, container.m_pStorage);
    EXPECT_EQ(container.m_pStorage, container.GetStorage());

    HWND hSiteWnd = nullptr;
    container.m_InPlaceSite.GetWindow(&hSiteWnd);
    EXPECT_EQ(hWnd, hSiteWnd);
    HWND hChild = FindWindowExA(hWnd, nullptr, "Static", "GpcSampleControl");
    EXPECT_NE(nullptr, hChild);

    container.ReleaseObject();
    EXPECT_EQ(nullptr, container.m_pObject);
    EXPECT_EQ(nullptr, container.m_pStorage);
    EXPECT_EQ(nullptr, container.m_pLockBytes);
    container.m_InPlaceSite.GetWindow(&hSiteWnd);
    EXPECT_EQ(nullptr, hSiteWnd);
    EXPECT_FALSE(IsWindow(hChild));

    // The control saw the storage, the site, the show verb with the
    // rectangle, the E_FAIL probes, its window, and the close without save.
    std::vector<std::string> want = {
        "Created(Control)",
        "InitNew(storage)",
        "SetClientSite(site)",
        "DoVerb(-1,0,0,120,80)",
        "Site.QueryInterface(IOleInPlaceFrame)=80004005,null",
        "Site.QueryInterface(IOleInPlaceSite)=00000000",
        "CanInPlaceActivate=00000000",
        "OnInPlaceActivate=00000000",
        "GetWindow=00000000,parent",
        "GetWindowContext=80004005,null,null",
        "Window=created",
        "Close(1)",
        "OnInPlaceDeactivate=00000000",
        "Destroyed",
    };
    EXPECT_EQ(want, ControlLog());
}

TEST_F(Container, SecondCreateObjectKeepsTheFirstControl)
{
    CVRGpcOcxContainer container;
    RECT rc = Rect(10, 10);
    ASSERT_EQ(1, container.CreateObject(Clsid(GPC_CONTROL_PROG_ID), host.Window(), &rc));
    IOleObject* pFirst = container.m_pObject;
    EXPECT_EQ(1, container.CreateObject(Clsid(GPC_NO_DISPATCH_PROG_ID), nullptr, nullptr));
    EXPECT_EQ(pFirst, container.m_pObject);
    HWND hSiteWnd = nullptr;
    container.m_InPlaceSite.GetWindow(&hSiteWnd);
    EXPECT_EQ(host.Window(), hSiteWnd);
    container.ReleaseObject();

    int nCreated = 0;
    for (const std::string& line : ControlLog()) nCreated += line.rfind("Created(", 0) == 0;
    EXPECT_EQ(1, nCreated);
}

TEST_F(Container, UnknownClassCreatesNothing)
{
    CVRGpcOcxContainer container;
    RECT rc = Rect(10, 10);
    EXPECT_EQ(0, container.CreateObject(CLSID_NULL, host.Window(), &rc));
    EXPECT_EQ(nullptr, container.m_pObject);
    container.ReleaseObject();
    EXPECT_EQ(nullptr, container.m_pStorage);
    EXPECT_EQ(nullptr, container.m_hWnd);
}

TEST_F(Container, ProgIdAndBracedClassIdNameTheSameClass)
{
    CLSID byProgId = Clsid(GPC_CONTROL_PROG_ID);
    CLSID byString = Clsid(GPC_CONTROL_CLSID);
    EXPECT_TRUE(IsEqualCLSID(byProgId, byString));
    EXPECT_FALSE(IsEqualCLSID(CLSID_NULL, byProgId));
    // Texts that name nothing give the null class.
    const char* rgNothing[] = {"No.Such.ProgId", "{not-a-class-id}", "", nullptr};
    for (const char* lpsz : rgNothing) {
        EXPECT_TRUE(IsEqualCLSID(CLSID_NULL, Clsid(lpsz))) << (lpsz ? lpsz : "(null)");
    }
    std::string longText(5000, 'A');
    EXPECT_TRUE(IsEqualCLSID(CLSID_NULL, Clsid(longText.c_str())));
}
