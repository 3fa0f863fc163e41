// Actions, notifications and location changes: where page scripts reach the
// main component, and where the page is moved through the host.
#include <cstdio>
#include <cstring>
#include <exdisp.h>

#include "extension/extension.h"
#include "feedback/messages.h"
#include "feedback/trace.h"
#include "npvrgpc/handles.h"
#include "npvrgpc/module_state.h"
#include "script/call_export.h"

namespace {

// Longest text that "$LPARAM" may designate. The host passes URLs and short
// texts this way; a run without a terminator this long is no text.
const size_t GPC_MAX_HOST_TEXT = 64 * 1024;

bool IsReadableProtection(DWORD dwProtect)
{
    if (dwProtect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
    return (dwProtect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                         PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

// Length of the NUL-terminated text at pText, walking only through committed
// readable memory; -1 when the address is not readable or no terminator
// comes within GPC_MAX_HOST_TEXT bytes. The library has no structured
// exception handling, so the memory is checked before it is touched.
long MeasureHostText(const char* pText)
{
    const char* p = pText;
    size_t cchSeen = 0;
    while (cchSeen <= GPC_MAX_HOST_TEXT) {
        MEMORY_BASIC_INFORMATION mbi;
        if (VirtualQuery(p, &mbi, sizeof(mbi)) == 0) return -1;
        if (mbi.State != MEM_COMMIT || !IsReadableProtection(mbi.Protect)) return -1;
        const char* pEnd = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
        while (p < pEnd) {
            if (*p == '\0') return static_cast<long>(cchSeen);
            ++p;
            if (++cchSeen > GPC_MAX_HOST_TEXT) return -1;
        }
    }
    return -1;
}

// The flag and value of a notification being handled, put back afterwards
// (a component may notify again from inside its own action).
class CNotificationScope {
public:
    CNotificationScope(CVRGpcExtension* pExtension, DWORD dwValue)
        : m_pExtension(pExtension),
          m_bOldActive(pExtension->m_bNotificationActive),
          m_dwOldValue(pExtension->m_dwNotificationValue)
    {
        pExtension->m_bNotificationActive = 1;
        pExtension->m_dwNotificationValue = dwValue;
    }
    ~CNotificationScope()
    {
        m_pExtension->m_bNotificationActive = m_bOldActive;
        m_pExtension->m_dwNotificationValue = m_dwOldValue;
    }
    CNotificationScope(const CNotificationScope&) = delete;
    CNotificationScope& operator=(const CNotificationScope&) = delete;

private:
    CVRGpcExtension* m_pExtension;
    int m_bOldActive;
    DWORD m_dwOldValue;
};

HRESULT Navigate(GpcCookie pCookie, const char* lpszTarget, const char* lpszUrl)
{
    GpcHostLink host = GetHostLink(pCookie);
    if (!host.CanNavigate()) return E_FAIL;
    host.Navigate(lpszTarget, lpszUrl);
    return S_OK;
}

// Opens lpszUrl in a new browser window through the browser's automation
// object; the host's "_blank" navigation stands in when none can be made.
void OpenThroughBrowser(GpcCookie pCookie, const char* lpszUrl)
{
    CGpcBstr bstrUrl(GpcAnsiToBstr(lpszUrl));

    VARIANT varFlags, varFrame, varPostData, varHeaders;
    VariantInit(&varFlags);
    VariantInit(&varFrame);
    VariantInit(&varPostData);
    VariantInit(&varHeaders);
    V_VT(&varFlags) = VT_NULL;

    HRESULT hrInit = CoInitialize(nullptr);
    TraceMessage("CoInitialize: %x", static_cast<unsigned int>(hrInit));

    {
        // Released before COM is left again, at the end of this block.
        CGpcComPtr<IWebBrowserApp> pBrowser;
        HRESULT hr = CoCreateInstance(CLSID_InternetExplorer, nullptr,
                                      CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                      IID_IWebBrowserApp, pBrowser.OutVoid());
        TraceMessage("CoCreateInstance: %x", static_cast<unsigned int>(hr));
        if (pBrowser) {
            pBrowser->Navigate(bstrUrl.Get(), &varFlags, &varFrame, &varPostData, &varHeaders);
            pBrowser->put_Visible(VARIANT_TRUE);
        } else {
            Navigate(pCookie, "_blank", lpszUrl);
        }
    }
    if (SUCCEEDED(hrInit)) CoUninitialize();
}

}  // namespace

int CVRGpcExtension::ExecuteScript(const char* lpszScript)
{
    CVRScriptException failure;

    // The run works on its own copy: a script may assign to the very
    // variable whose value is the script ("GpcExitCall"), which would free
    // the text under the parser.
    CGpcString strScript;
    int ok = 0;
    if (lpszScript && !strScript.Assign(lpszScript)) {
        failure.m_hrResult = E_OUTOFMEMORY;
    } else if (m_hMainComponent) {
        TraceMessage("ExecuteScript: %s", strScript.GetText());
        ok = m_CallEngine.RunLibraryScript(m_hMainComponent.Get(), strScript.GetText(), &failure);
    } else if (!GetControlObject()) {
        return 1;
    } else {
        CGpcComPtr<IDispatch> pDispatch;
        GetControlObject()->QueryInterface(IID_IDispatch, pDispatch.OutVoid());
        if (pDispatch) ok = m_CallEngine.RunDispatchScript(pDispatch.Get(), strScript.GetText(), &failure);
    }

    if (!ok) {
        if (failure.m_nKind == CVRScriptException::KIND_SYNTAX) {
            ShowErrorMessage(this, GPC_MSG_SCRIPT_SYNTAX,
                             failure.m_strMessage.IsNull() ? "" : failure.m_strMessage.GetText());
        } else if (!failure.m_strMethod.IsEmpty()) {
            ShowErrorMessage(this, GPC_MSG_SCRIPT_CALL_FAILED, static_cast<unsigned long>(failure.m_hrResult),
                             failure.m_strMethod.GetText());
        } else {
            ShowErrorMessage(this, GPC_MSG_SCRIPT_NO_MEMORY, static_cast<unsigned long>(failure.m_hrResult));
        }
    }
    return ok;
}

void CVRGpcExtension::HandleNotification(DWORD dwIndex, DWORD dwValue)
{
    TraceMessage("NPVRGPC : Handle notification message %d", static_cast<int>(dwIndex));

    // The component hears of every notification, whatever its index and
    // whether or not an action follows; the kind is always 2.
    if (m_hMainComponent) {
        FARPROC pfnNotify = GetProcAddress(m_hMainComponent.Get(), "NotifyControl");
        if (pfnNotify) {
            ULONG_PTR rgArgs[4] = {reinterpret_cast<ULONG_PTR>(m_pGpcCookie), 2, 0, 0};
            GpcCallExport(pfnNotify, rgArgs, 4);
        }
    }

    const char* lpszAction = GetAction(static_cast<int>(dwIndex));
    if (!lpszAction || strlen(lpszAction) <= 1) {
        TraceMessage("NPVRGPC : could not find the URL for index %lu", static_cast<unsigned long>(dwIndex));
        return;
    }
    TraceMessage("NPVRGPC: Action: %s", lpszAction);

    char achNumber[16];
    GpcFormat(achNumber, sizeof(achNumber), "%lu", static_cast<unsigned long>(dwIndex));
    m_CallEngine.SetVariable("%WPARAM", achNumber);
    GpcFormat(achNumber, sizeof(achNumber), "%lu", static_cast<unsigned long>(dwValue));
    m_CallEngine.SetVariable("%LPARAM", achNumber);
    m_CallEngine.SetVariable("#LPARAM", "#LPARAM");
    m_CallEngine.SetVariable("$LPARAM", "$LPARAM");

    CNotificationScope scope(this, dwValue);
    ExecuteScript(lpszAction);
}

const char* CVRGpcExtension::ResolveParameter(const char* lpszValue)
{
    if (!lpszValue) return nullptr;

    if (_stricmp(lpszValue, "#LPARAM") == 0) {
        TraceMessage("NPVRGPC : redirect #LPARAM");
        unsigned long ulIndex = static_cast<unsigned long>(-1);
        const char* lpszParam = m_CallEngine.GetVariable("%LPARAM");
        if (lpszParam && sscanf(lpszParam, "%lu", &ulIndex) != 1) ulIndex = static_cast<unsigned long>(-1);
        // Taken as signed: 2^31 and above are negative and find no URL.
        int nIndex = static_cast<int>(ulIndex);
        const char* lpszUrl = GetUrl(nIndex);
        if (!lpszUrl) ShowErrorMessage(this, GPC_MSG_NO_URL_AT_INDEX, nIndex);
        return lpszUrl;
    }

    if (_stricmp(lpszValue, "$LPARAM") == 0) {
        const char* lpszParam = m_CallEngine.GetVariable("%LPARAM");
        if (!lpszParam) return nullptr;
        unsigned long ulAddress = 0;
        if (sscanf(lpszParam, "%lu", &ulAddress) != 1 || ulAddress == 0) return nullptr;

        // The number is an address in this process, valid only while the
        // host's notification that carries it runs. A number that a page
        // parameter, a script or an earlier notification left in "%LPARAM"
        // is never dereferenced.
        if (!m_bNotificationActive || static_cast<DWORD>(ulAddress) != m_dwNotificationValue) {
            TraceMessage("NPVRGPC : $LPARAM is not the host's text of this notification");
            return nullptr;
        }
        const char* pText = reinterpret_cast<const char*>(static_cast<ULONG_PTR>(ulAddress));
        if (MeasureHostText(pText) < 0) {
            TraceMessage("NPVRGPC : $LPARAM does not address a readable text");
            return nullptr;
        }
        // A second "$LPARAM" in the same call must not free the copy that
        // the first one returned: set the variable only when the text differs.
        const char* lpszCurrent = m_CallEngine.GetVariable("$LPARAM_CONTENT");
        if (lpszCurrent && strcmp(lpszCurrent, pText) == 0) return lpszCurrent;
        if (!m_CallEngine.SetVariable("$LPARAM_CONTENT", pText)) return nullptr;
        return m_CallEngine.GetVariable("$LPARAM_CONTENT");
    }

    return lpszValue;
}

HRESULT CVRGpcExtension::ChangeLocation(CGpcPtrArray* pArgs)
{
    TraceMessage("VRGPCEXT : ChangeLocation");
    int nCount = pArgs ? pArgs->GetCount() : 0;
    if (nCount != 1 && nCount != 2) {
        ShowErrorMessage(this, GPC_MSG_LOCATION_FAILED, "GpcChangeLocation()");
        return E_INVALIDARG;
    }
    const char* lpszTarget = (nCount == 1) ? "_self" : static_cast<const char*>(pArgs->GetAt(1));
    const char* lpszUrl = ResolveParameter(static_cast<const char*>(pArgs->GetAt(0)));
    if (!lpszUrl) {
        TraceMessage("NPVRGPC : receive an NULL location parameter");
        return E_FAIL;
    }
    TraceMessage("ChangeLocation url=%s", lpszUrl);
    return Navigate(m_pGpcCookie, lpszTarget, lpszUrl);
}

HRESULT CVRGpcExtension::OpenLocation(CGpcPtrArray* pArgs)
{
    TraceMessage("NPVRGPC : OpenLocation");
    if (!pArgs || pArgs->GetCount() != 1) {
        ShowErrorMessage(this, GPC_MSG_LOCATION_FAILED, "GpcOpenLocation()");
        return E_INVALIDARG;
    }
    const char* lpszUrl = ResolveParameter(static_cast<const char*>(pArgs->GetAt(0)));
    if (!lpszUrl) {
        TraceMessage("NPVRGPC : receive an NULL location parameter");
        return E_FAIL;
    }
    TraceMessage("OpenLocation url = %s", lpszUrl);

    const char* lpszRegType = HostLink().GetParam("regtype");
    if (lpszRegType) TraceMessage("RegType: %s", lpszRegType);
    if (!lpszRegType || lpszRegType[0] != '0') {
        return Navigate(m_pGpcCookie, "_blank", lpszUrl);
    }

    // This operation is also reached from an export, so nothing may leave
    // it as an exception: a URL that cannot become a COM string ends here.
    try {
        OpenThroughBrowser(m_pGpcCookie, lpszUrl);
    } catch (const CGpcComException& e) {
        return e.m_hr;
    }
    return S_OK;
}
