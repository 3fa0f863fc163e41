// The library's boundary: each export resolves its cookie, traces, calls one
// operation of the extension and maps the result to a small integer. No C++
// exception may leave an export, so each body runs under a catch-all.
#include "vrgpcext/exports.h"

#include <new>

#include "extension/extension.h"
#include "feedback/messages.h"
#include "feedback/progress.h"
#include "feedback/trace.h"
#include "npvrgpc/module_state.h"

namespace {

unsigned int Raw(const void* p)
{
    return static_cast<unsigned int>(reinterpret_cast<ULONG_PTR>(p));
}

// The cookie of a resolving export: a window handle whose window long 0
// carries the cookie while translation is on, else the argument itself; a
// null result falls back to the stored cookie. False when nothing is left.
bool ResolveCookie(GpcCookie pArgument, GpcCookie* ppCookie)
{
    GpcCookie pCookie = pArgument;
    if (g_nCookieTranslation) {
        HWND hWnd = reinterpret_cast<HWND>(pArgument);
        pCookie = (hWnd && IsWindow(hWnd)) ? reinterpret_cast<GpcCookie>(GetWindowLongPtrA(hWnd, 0)) : nullptr;
    }
    if (!pCookie) pCookie = g_pGpcCookie;
    *ppCookie = pCookie;
    return pCookie != nullptr;
}

CVRGpcExtension* GetInstance(GpcCookie pCookie)
{
    if (!g_pHostTable || !g_pHostTable->HostGetInstance) return nullptr;
    return static_cast<CVRGpcExtension*>(g_pHostTable->HostGetInstance(pCookie));
}

void TraceException(const char* lpszExport)
{
    TraceMessage("vrgpcext: %s ended by an unexpected exception", lpszExport);
}

int InitInstance(GpcCookie pCookie, GpcHostTable* pTable)
{
    TraceMessage("GpcInitInstance");

    if (g_pHostTable) {
        // One meeting per loaded library: tell the user through the table of
        // this (refused) caller, in its language.
        char achText[1024];
        achText[0] = '\0';
        LoadStringInLanguage(GetLocalLangId(pCookie), GPC_MSG_ALREADY_RUNNING, achText, sizeof(achText));
        if (pTable && pTable->HostShowMessage) pTable->HostShowMessage(pCookie, achText);
        return GPC_INIT_ALREADY_RUNNING;
    }
    if (!pTable) {
        // Without a table nothing could ever reach the instance again.
        TraceMessage("vrgpcext: GpcInitInstance without a host table");
        return GPC_INIT_NO_MEMORY;
    }

    g_pGpcCookie = pCookie;
    g_pHostTable = pTable;

    CVRGpcExtension* pExtension = new (std::nothrow) CVRGpcExtension(pCookie);
    if (!pExtension) return GPC_INIT_NO_MEMORY;

    if (pTable->HostSetInstance) pTable->HostSetInstance(pCookie, pExtension);

    TraceMessage("Begin initializing extension...");
    // The host holds the instance now: whatever start-up meets, the host
    // must keep it and end it with GpcExitInstance, so the answer is 0.
    try {
        pExtension->InitInstance();
    } catch (...) {
        TraceException("CVRGpcExtension::InitInstance");
    }
    return GPC_INIT_OK;
}

}  // namespace

extern "C" {

int WINAPI GpcInitInstance(GpcCookie pCookie, GpcHostTable* pTable)
{
    try {
        return InitInstance(pCookie, pTable);
    } catch (...) {
        TraceException("GpcInitInstance");
        return GPC_INIT_NO_MEMORY;
    }
}

int WINAPI GpcExitInstance(GpcCookie pCookie)
{
    try {
        TraceMessage("GpcExitInstance");
        CVRGpcExtension* pExtension = GetInstance(pCookie);
        if (pExtension) {
            pExtension->ExitInstance();
            delete pExtension;
            // The host must not hand the destroyed instance out again; telling
            // it so keeps a forgetful host from reaching freed memory.
            if (g_pHostTable->HostSetInstance) g_pHostTable->HostSetInstance(pCookie, nullptr);
        }
        CVRGpcProgressMgr::CloseAllWindows("GpcExitInstance");
        TraceMessage("GpcExitInstance Exit");
    } catch (...) {
        TraceException("GpcExitInstance");
    }
    return 0;
}

int WINAPI GpcHeartbeat(GpcCookie pCookie)
{
    try {
        CVRGpcExtension* pExtension = GetInstance(pCookie);
        if (pExtension) pExtension->Heartbeat();
    } catch (...) {
        TraceException("GpcHeartbeat");
    }
    return 0;
}

int WINAPI GpcActionNotify(GpcCookie pCookie, DWORD dwMessage, DWORD dwParam)
{
    try {
        CVRGpcExtension* pExtension = GetInstance(pCookie);
        if (pExtension) pExtension->HandleNotification(dwMessage, dwParam);
    } catch (...) {
        TraceException("GpcActionNotify");
    }
    return 0;
}

int WINAPI GpcStdDownloadExt(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                             GpcOdeCallback pfnCallback, void* pContext)
{
    try {
        CVRGpcExtension* pExtension = GetInstance(pCookie);
        if (!pExtension) return 0;
        return pExtension->StdDownloadExt(lpszIniFile, lpszSectionName, nullptr, pfnCallback, pContext);
    } catch (...) {
        TraceException("GpcStdDownloadExt");
        return 0;
    }
}

int WINAPI GpcOdeDownload2(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                           const char* lpszFileName, GpcOdeCallback pfnCallback, void* pContext)
{
    try {
        TraceMessage("vrgpcext: GpcOdeDownload Cookie %08X", Raw(pCookie));
        GpcCookie pResolved = nullptr;
        if (!ResolveCookie(pCookie, &pResolved)) return 0;
        TraceMessage("vrgpcext: GpcOdeDownload cont.");
        CVRGpcExtension* pExtension = GetInstance(pResolved);
        if (!pExtension) return 0;
        return pExtension->StdDownloadExt(lpszIniFile, lpszSectionName, lpszFileName, pfnCallback, pContext);
    } catch (...) {
        TraceException("GpcOdeDownload");
        return 0;
    }
}

int WINAPI GpcOdeDownload(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                          GpcOdeCallback pfnCallback, void* pContext)
{
    return GpcOdeDownload2(pCookie, lpszIniFile, lpszSectionName, nullptr, pfnCallback, pContext);
}

int WINAPI GpcOdeGetSectionIntegrityExt(GpcCookie pCookie, const char* lpszIniFile,
                                        const char* lpszSectionName, const char* lpszFileName)
{
    try {
        CVRGpcExtension* pExtension = GetInstance(pCookie);
        if (!pExtension) return 0;
        return pExtension->OdeGetSectionIntegrityExt(lpszIniFile, lpszSectionName, lpszFileName);
    } catch (...) {
        TraceException("GpcOdeGetSectionIntegrityExt");
        return 0;
    }
}

int WINAPI GpcOdeGetSectionIntegrity2(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName,
                                      const char* lpszFileName)
{
    try {
        TraceMessage("vrgpcext: GpcOdeGetSectionIntegrity Cookie %08X", Raw(pCookie));
        GpcCookie pResolved = nullptr;
        if (!ResolveCookie(pCookie, &pResolved)) return 0;
        TraceMessage("vrgpcext: GpcOdeGetSectionIntegrity cont.pGpcCookie %X,lpszIniFile %s,lpszSectionName %s,"
                     "lpszFileName %s",
                     Raw(pResolved), Printable(lpszIniFile), Printable(lpszSectionName), Printable(lpszFileName));
        return GpcOdeGetSectionIntegrityExt(pResolved, lpszIniFile, lpszSectionName, lpszFileName);
    } catch (...) {
        TraceException("GpcOdeGetSectionIntegrity");
        return 0;
    }
}

int WINAPI GpcOdeGetSectionIntegrity(GpcCookie pCookie, const char* lpszIniFile, const char* lpszSectionName)
{
    return GpcOdeGetSectionIntegrity2(pCookie, lpszIniFile, lpszSectionName, nullptr);
}

int WINAPI GpcOdeConfig(DWORD dwValue1, DWORD dwValue2, DWORD dwValue3)
{
    TraceMessage("vrgpcext: ODE config %08X, %08X, %08X", static_cast<unsigned int>(dwValue1),
                 static_cast<unsigned int>(dwValue2), static_cast<unsigned int>(dwValue3));
    g_nCookieTranslation = static_cast<int>(dwValue1);
    g_nProgressSwitch = 1;
    return 1;
}

int WINAPI GpcGetFileAtUrl(GpcCookie pCookie, GpcDownloadCallback pfnCallback, void* pContext,
                           const char* lpszUrl)
{
    try {
        TraceMessage("vrgpcext: GpcGetFileAtUrl Cookie %08X", Raw(pCookie));
        GpcCookie pResolved = nullptr;
        if (!ResolveCookie(pCookie, &pResolved)) return 0;
        if (!g_pHostTable || !g_pHostTable->HostDownloadUrl) return 0;
        return g_pHostTable->HostDownloadUrl(pResolved, pfnCallback, pContext, lpszUrl) == 0 ? 1 : 0;
    } catch (...) {
        TraceException("GpcGetFileAtUrl");
        return 0;
    }
}

int WINAPI GpcGetFileAtUrlEx(GpcCookie pCookie, GpcDownloadCallback pfnCallback, void* pContext,
                             const char* lpszUrl, void* pProgressRequest)
{
    try {
        TraceMessage("vrgpcext: GpcGetFileAtUrlEx Cookie %08X,%s", Raw(pCookie), Printable(lpszUrl));
        GpcCookie pResolved = nullptr;
        if (!ResolveCookie(pCookie, &pResolved)) return 0;
        if (!g_pHostTable || !g_pHostTable->HostDownloadUrl) return 0;

        GpcProgressRequest* pRequest = static_cast<GpcProgressRequest*>(pProgressRequest);
        bool bWindow = pRequest && pRequest->dwTotalSize != 0;
        if (bWindow) {
            if (!g_pHostTable->HostGetParam) return 0;
            const char* lpszSuppress = g_pHostTable->HostGetParam(pResolved, "GpcSuppressProgressBar");
            if (IsProgressSuppressed(lpszSuppress)) bWindow = false;
        }
        if (!bWindow) return g_pHostTable->HostDownloadUrl(pResolved, pfnCallback, pContext, lpszUrl) == 0 ? 1 : 0;

        GpcFileRequest request = {pContext, pfnCallback, pRequest};
        CVRGpcProgressMgr* pManager = new (std::nothrow) CVRGpcProgressMgr(pResolved, g_pHostTable, request);
        // Without a manager the download still runs, but nobody hears of it.
        if (g_pHostTable->HostDownloadUrl(pResolved, CVRGpcProgressMgr::OnDownloadStatus, pManager, lpszUrl) == 0)
            return 1;
        // A refused download never reports back, so the manager (and its
        // window) would otherwise stay for the life of the process.
        delete pManager;
        return 0;
    } catch (...) {
        TraceException("GpcGetFileAtUrlEx");
        return 0;
    }
}

int WINAPI GpcOpenLocation(GpcCookie pCookie, const char* lpszUrl, const char* lpszTarget, void* /*pIgnored*/)
{
    try {
        TraceMessage("vrgpcext: GpcOpenLocation Cookie %08X,Url: %s,Target:%s", Raw(pCookie), Printable(lpszUrl),
                     Printable(lpszTarget));
        GpcCookie pResolved = nullptr;
        if (!ResolveCookie(pCookie, &pResolved)) return 0;
        if (!g_pHostTable || !g_pHostTable->HostNavigate || !g_pHostTable->HostGetInstance) return 0;
        CVRGpcExtension* pExtension = GetInstance(pResolved);
        if (!pExtension) return 0;

        CGpcPtrArray args;
        args.Add(const_cast<char*>(lpszUrl));
        if (lpszTarget) args.Add(const_cast<char*>(lpszTarget));
        HRESULT hr = lpszTarget ? pExtension->ChangeLocation(&args) : pExtension->OpenLocation(&args);
        return hr == S_OK ? 1 : 0;
    } catch (...) {
        TraceException("GpcOpenLocation");
        return 0;
    }
}

int WINAPI GpcCancelFileIndex(GpcCookie pCookie, int nIndex)
{
    try {
        TraceMessage("vrgpcext: GpcCancelCurFile Cookie %08X", Raw(pCookie));
        GpcCookie pResolved = nullptr;
        if (!ResolveCookie(pCookie, &pResolved)) return 0;
        if (nIndex > 0) {
            if (!g_pHostTable || !g_pHostTable->HostGetWindow) return 0;
            HWND hWnd = g_pHostTable->HostGetWindow(pResolved);
            if (!hWnd || !IsWindow(hWnd)) return 0;
            SendMessageA(hWnd, GPC_WM_CANCEL_DOWNLOAD, static_cast<WPARAM>(nIndex), 0);
            return 1;
        }
        CVRGpcExtension* pExtension = GetInstance(pResolved);
        if (!pExtension) return 0;
        // Each running request is marked; with none running nothing is
        // left behind for the next one.
        pExtension->CancelOdeRequests();
        return 1;
    } catch (...) {
        TraceException("GpcCancelFileIndex");
        return 0;
    }
}

}  // extern "C"
